// tidewatch-dat: the DAT repairer from the command line. The program's
// entry only wires the standard streams and the terminal test to this.
#pragma once

#include <iosfwd>

struct DatToolStreams {
    std::ostream& out;   // report lines
    std::ostream& err;   // messages, usage, the repair question
    std::istream& in;    // answers to the question
    bool interactive;    // whether in is a terminal someone can answer from
    const char* lineEnd; // the platform's line end for report lines
};

// Runs the command line argv[1..argc). Returns the exit status: 0 when every
// file ends verified ok, 1 when any does not, 2 for a usage error.
int RunDatTool(int argc, const char* const* argv, const DatToolStreams& streams);
