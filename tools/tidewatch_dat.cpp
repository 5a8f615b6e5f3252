// Entry of tidewatch-dat: standard streams and the terminal test.
#include "tools/dat_tool.h"

#include <iostream>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

int main(int argc, char** argv) {
#ifdef _WIN32
    // Report lines carry their own CR LF; text mode would double the CR.
    _setmode(_fileno(stdout), _O_BINARY);
    const bool interactive = _isatty(_fileno(stdin)) != 0;
    const char* lineEnd = "\r\n";
#else
    const bool interactive = isatty(STDIN_FILENO) != 0;
    const char* lineEnd = "\n";
#endif
    DatToolStreams streams{std::cout, std::cerr, std::cin, interactive, lineEnd};
    return RunDatTool(argc, argv, streams);
}
