// What the Windows tests need to drive other processes: start and end them,
// wait for their windows, read and answer dialogs, read the stand-in
// client's log. Every wait polls with a time-out and keeps this thread's
// messages flowing, so windows of the test's own thread stay alive.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

template <typename F> bool PollUntil(DWORD ms, F done) {
    for (const DWORD start = GetTickCount();;
         MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT)) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
        if (done())
            return true;
        if (GetTickCount() - start >= ms)
            return false;
    }
}

// Runs fn; meanwhile this thread's modal loops (a message box, a menu, a
// dialog) call watch every 20 ms until it returns true.
void WhileModal(const std::function<bool()>& watch, const std::function<void()>& fn);

// A program started with this process's environment, ended when let go of.
struct Program {
    explicit Program(std::string commandLine);
    ~Program();
    int Exit(DWORD ms = 20000); // the exit code, or -1 when it still runs
    HANDLE process = nullptr;
    DWORD pid = 0;
};

// A client's registry value under HKEY_LOCAL_MACHINE, written afresh; with
// no data, the key and its parent are removed.
void RegisterClient(const std::string& key, const char* name, const std::string& data);

// A Unix path of the build as Wine shows it; the stand-in client.
std::string WinPath(std::string unixPath);
std::string StandinExe();
// The trees and behaviour of the stand-in started next (also by a program
// under test; see standin.cpp), with a fresh log; ends one still running.
void ConfigureStandin(const char* trees, DWORD delayMs = 0, const char* hang = "",
                      const char* exit = "");
void EndStandin();
// The stand-in's whole log; its lines after READY, without their times ("WM_COMMAND 32880", ...).
std::vector<std::string> StandinLog();
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

// CPU time of a process in milliseconds, its threads summed.
double CpuMs(DWORD pid);
