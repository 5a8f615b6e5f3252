// tidewatch-dat: the DAT repairer from the command line. The program's
// entry only wires the standard streams, the terminals and the platform's
// folders and text to this.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

struct DatToolStreams {
    std::ostream& out;   // report lines, or JSON lines
    std::ostream& err;   // reasons, summary, progress, usage, the repair question
    std::istream& in;    // answers to the question
    bool interactive;    // whether answers can be read from `in`
    bool errIsTerminal;  // whether `err` can show a progress line
    const char* lineEnd; // the platform's line end for report lines
    char separator;      // between a folder and a name
    // A path as UTF-8 for JSON (the platform's own text otherwise); null: as it is.
    std::string (*toUtf8)(const std::string& path);
};

// Runs the command line argv[1..argc). Returns the exit status: 0 when every
// file ends verified ok, 1 when any does not, 2 for a usage error.
int RunDatTool(int argc, const char* const* argv, const DatToolStreams& streams);

// Whether argv[1..argc) are files dropped onto the program in Explorer: at
// least one, each naming an existing file or folder, the first no command.
bool AreDroppedFiles(int argc, const char* const* argv);

// The platform's folders: what a path names (a link followed), and a
// folder's entries with whether each is a folder (a link to one is not);
// false, with the system's reason, when the folder cannot be read.
enum class PathKind { Missing, File, Folder };
PathKind KindOf(const std::string& path);
bool ReadFolder(const std::string& folder, std::vector<std::pair<std::string, bool>>* entries,
                std::string* reason);
