// Entry of tidewatch-dat: the standard streams, the terminals, and on
// Windows the files dropped onto the program.
#include "tools/dat_tool.h"

#include <iostream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include "tools/console_win.h"

namespace {

// Text is in the process's code page (UTF-8 where the manifest applies);
// JSON wants UTF-8.
std::string AnsiToUtf8(const std::string& text) {
    const int size = static_cast<int>(text.size());
    std::wstring wide(MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), size, &wide[0], static_cast<int>(wide.size()));
    const int wideSize = static_cast<int>(wide.size());
    std::string utf8(
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideSize, nullptr, 0, nullptr, nullptr), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideSize, &utf8[0], static_cast<int>(utf8.size()),
                        nullptr, nullptr);
    return utf8;
}

} // namespace

int main(int argc, char** argv) {
    // Report lines carry their own CR LF; text mode would double the CR.
    _setmode(_fileno(stdout), _O_BINARY);
    // A console window shows the text right whatever its own code page.
    const ConsoleStream out(std::cout, STD_OUTPUT_HANDLE), err(std::cerr, STD_ERROR_HANDLE);
    std::vector<const char*> args(argv, argv + argc);
    // Explorer starts a program with the full paths of the files dropped onto
    // it and no command: they are repaired, with the questions asked in the
    // console window. Anything else (a mistyped command) is a usage error.
    const bool dropped = AreDroppedFiles(argc, argv);
    if (dropped)
        args.insert(args.begin() + 1, "repair");
    const DatToolStreams streams{std::cout,
                                 std::cerr,
                                 std::cin,
                                 dropped || _isatty(_fileno(stdin)),
                                 _isatty(_fileno(stderr)) != 0,
                                 "\r\n",
                                 '\\',
                                 AnsiToUtf8};
    const int status = RunDatTool(static_cast<int>(args.size()), args.data(), streams);
    // Started from Explorer, the window closes with the program: first the
    // report is read.
    DWORD processes[2];
    if (dropped && GetConsoleProcessList(processes, 2) == 1) {
        std::cerr << "Press Enter to close this window." << std::flush;
        std::string line;
        std::getline(std::cin, line);
    }
    return status;
}

#else
#include <unistd.h>

int main(int argc, char** argv) {
    const DatToolStreams streams{
        std::cout, std::cerr, std::cin, isatty(STDIN_FILENO) != 0, isatty(STDERR_FILENO) != 0,
        "\n",      '/',       nullptr};
    return RunDatTool(argc, argv, streams);
}

#endif
