// twdriver: drives another process's windows from the command line.
//
//   twdriver COMMAND [window options] [arguments...]
//
// Window options pick the target top-level window; commands that need one
// wait for it up to the time-out:
//   -c CLASS   exact window class       -t TITLE   exact title
//   -s TEXT    title contains TEXT      -w HWND    this handle (hex 0x.. or decimal)
//   -T MS      time-out (default 10000) -v         visible windows only
//   -m         message boxes only (a dialog holding a static with id 0xFFFF)
//
// Exit status: 0 done, 1 not found / timed out / failed, 2 usage error.
//
// Adding commands: write a .cpp file in this folder with a table of
// DriverCommand and TW_DRIVER_COMMANDS(table); the sources are globbed.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct DriverOptions {
    std::string className; // empty: any
    std::string title;     // exact; used when hasTitle
    bool hasTitle = false;
    std::string titlePart; // substring; empty: any
    HWND handle = nullptr;
    DWORD timeoutMs = 10000;
    bool visibleOnly = false;
    bool messageBoxOnly = false;
    std::vector<std::string> args; // what is left after the options
};

struct DriverCommand {
    const char* name;
    const char* usage; // arguments and one line of help
    int (*run)(DriverOptions& options);
};

struct DriverRegistrar {
    DriverRegistrar(const DriverCommand* table, size_t count);
};

#define TW_DRIVER_CONCAT2(a, b) a##b
#define TW_DRIVER_CONCAT(a, b) TW_DRIVER_CONCAT2(a, b)
#define TW_DRIVER_COMMANDS(table)                                                                  \
    static DriverRegistrar TW_DRIVER_CONCAT(tw_driver_registrar_,                                  \
                                            __LINE__)(table, sizeof(table) / sizeof((table)[0]))

// Exit statuses.
constexpr int kDriverOk = 0;
constexpr int kDriverFailed = 1;
constexpr int kDriverUsage = 2;

// Every window that matches the options now, in z-order.
std::vector<HWND> MatchingWindows(const DriverOptions& options);
// Waits up to the time-out for a matching window; prints a message and
// returns null when there is none.
HWND WaitForTarget(const DriverOptions& options);
// Polls every 50 ms until done() holds or the time-out passes.
template <typename F> bool PollUntil(DWORD timeoutMs, F done) {
    DWORD start = GetTickCount();
    for (;;) {
        if (done())
            return true;
        if (GetTickCount() - start >= timeoutMs)
            return false;
        Sleep(50);
    }
}

// Number arguments: decimal, or hex with 0x. False when malformed.
bool ParseNumber(const std::string& text, unsigned long& value);
// Checks the argument count; prints usage and returns false when wrong.
bool NeedArgs(const DriverOptions& options, size_t min, size_t max, const char* command);
// The argument at index as a number; prints an error when malformed.
bool ParseIdArg(const DriverOptions& options, size_t index, unsigned long& id);
// A control of the target by its id (GetDlgItem); prints an error when missing.
HWND ControlOf(HWND window, unsigned long id);
// Waits for the target and sets the text of its control id (WM_SETTEXT,
// marshalled across processes). Returns a driver exit status.
int SetControlText(const DriverOptions& options, unsigned long id, const std::string& text);
// Text of any window, also another process's edit control (WM_GETTEXT, marshalled).
bool ReadWindowText(HWND window, std::string& text);
std::string HandleText(HWND window);

// Messages to stderr with the command name in front.
void DriverError(const char* format, ...);
