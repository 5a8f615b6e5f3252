// Entry of tidewatch-dat: the standard streams, the terminals, the signals
// that end it, and on Windows the files dropped onto the program.
#include "tools/dat_tool.h"

#include "dat/dat_io.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

namespace {

// Lost output is a failure: a write error on standard output or standard
// error, also at this last flush, is named where it can be and makes the
// status 1.
int FlushedStatus(int status) {
    std::cout.flush();
    if (!std::cout || std::ferror(stdout)) {
        // The write is tried once more for the system's word on it.
        std::cout.clear();
        std::clearerr(stdout);
        errno = 0;
        std::cout << "\n" << std::flush;
        const int error = errno;
        std::cerr << "tidewatch-dat: write error on standard output"
                  << (error ? std::string(": ") + std::strerror(error) : std::string()) << "\n";
        status = 1;
    }
    std::cerr.flush();
    if (!std::cerr || std::ferror(stderr))
        status = 1;
    return status;
}

} // namespace

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

// Whether standard descriptor fd is missing: no handle at all, or (Wine,
// started with the descriptor closed) one that takes no write.
bool IsAbsent(int fd) {
    const intptr_t handle = _get_osfhandle(fd);
    if (handle == -1 || handle == -2 || handle == 0)
        return true;
    DWORD written = 0;
    return fd != 0 && !WriteFile(reinterpret_cast<HANDLE>(handle), "", 0, &written, nullptr) &&
           GetLastError() == ERROR_INVALID_HANDLE;
}

// Ctrl-C, Ctrl-Break and the console's closing: the copy in progress is
// abandoned (a replace in its final renames finishes them), and then the
// program ends with 130.
BOOL WINAPI OnConsoleEnd(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
        return FALSE;
    DatIoCancelReplaces();
    DatIoHoldReplaces(4000); // within the five seconds a closing console grants
    ExitProcess(130);
}

} // namespace

int main(int argc, char** argv) {
    // A standard handle that is absent gets NUL, so that it can be written
    // and no file we open is taken for it.
    FILE* const standard[] = {stdin, stdout, stderr};
    const DWORD which[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    for (int fd = 0; fd < 3; ++fd)
        if (IsAbsent(fd) && freopen("NUL", fd == 0 ? "r" : "w", standard[fd]))
            SetStdHandle(which[fd],
                         reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(standard[fd]))));
    SetConsoleCtrlHandler(OnConsoleEnd, TRUE);
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
    return FlushedStatus(status);
}

#else
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t g_signal = 0;

// SIGINT, SIGTERM, SIGHUP: the copy in progress is abandoned (a replace in
// its final renames finishes them) and the program then ends by the signal;
// with no replace in progress it ends at once, and so it does at a second
// signal, whatever it waits for (the next repair takes over what is left).
void OnSignal(int signal) {
    if (g_signal != 0 || !DatIoReplaceInProgress()) {
        std::signal(signal, SIG_DFL);
        std::raise(signal);
    }
    g_signal = signal;
    DatIoCancelReplaces();
}

} // namespace

int main(int argc, char** argv) {
    // A closed standard descriptor would be taken by the first file we open,
    // and report text written into it: each gets /dev/null instead.
    for (int fd = 0; fd < 3; ++fd)
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF &&
            open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY) != fd)
            return 1;
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
    const DatToolStreams streams{
        std::cout, std::cerr, std::cin, isatty(STDIN_FILENO) != 0, isatty(STDERR_FILENO) != 0,
        "\n",      '/',       nullptr};
    const int status = FlushedStatus(RunDatTool(argc, argv, streams));
    if (g_signal != 0) {
        std::signal(g_signal, SIG_DFL);
        std::raise(g_signal);
    }
    return status;
}

#endif
