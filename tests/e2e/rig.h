// What the Windows tests need to drive other processes: start and end them,
// wait for their windows, read and answer dialogs, read the stand-in
// client's log. Every wait polls with a time-out and keeps this thread's
// messages flowing, so a window of the test's own thread stays alive.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// A Unix path as Wine shows it, on drive Z:.
std::string WinPath(std::string unixPath);
// The stand-in client (its path set by CMake) and its log.
std::string StandinExe();
std::string StandinLogPath();

// Pumps this thread's messages until done() holds or ms pass.
template <typename F> bool PollUntil(DWORD ms, F done) {
    const DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (done())
            return true;
        if (GetTickCount() - start >= ms)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

// Runs fn on this thread; meanwhile its modal loops (a message box, a menu,
// a dialog) call watch every 20 ms until watch returns true.
void WhileModal(const std::function<bool()>& watch, const std::function<void()>& fn);

// A program started with this process's environment; ended at destruction.
struct Program {
    explicit Program(const std::string& commandLine);
    ~Program();
    // Waits for the end; the exit code, or -1 when it still runs after ms.
    int Exit(DWORD ms = 20000);
    HANDLE process = nullptr;
    DWORD pid = 0;
};

// The stand-in started by hand, or by a program under test: its trees
// and behaviour come from TW_STANDIN_* (see standin.cpp); the log is fresh.
void ConfigureStandin(const char* trees, DWORD delayMs = 0, const char* hang = "");
void EndStandin();

// Log lines after READY, without their times ("WM_COMMAND 32880", ...).
std::vector<std::string> StandinEvents(std::vector<DWORD>* ticks = nullptr);
bool WaitStandinLog(const std::string& part, DWORD ms = 20000);

// A top-level window of this class and title (null: any), visible unless
// hidden is true; null after ms.
HWND WaitWindow(const char* cls, const char* title, DWORD ms = 20000, bool hidden = false);
bool WaitGone(HWND window, DWORD ms = 10000);
// A window's text, or that of its control id (also another process's edit).
std::string TextOf(HWND window, int id = 0);
void SetTextOf(HWND window, int id, const std::string& text);
// A message box with this caption: its text, then the button pressed.
std::string AnswerBox(const char* caption, int button, DWORD ms = 20000);

// CPU time of a process in milliseconds (threads summed) and its thread
// count; -1 when there is no such process.
double CpuMs(DWORD pid, int* threads = nullptr);
