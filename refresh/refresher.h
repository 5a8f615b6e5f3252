// The tray window, its timers and the refresh worker.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <atomic>

// The notification icon's id and the message it sends to the tray window.
constexpr UINT TRAY_ICON_ID = 666;
constexpr UINT WM_TRAYNOTIFY = WM_USER + 1;

// Timers of the tray window.
constexpr UINT_PTR TIMER_REFRESH = 1; // starts a refresh worker
constexpr UINT_PTR TIMER_ITEM = 2;    // ends a worker's pause between items
// While refreshing is disabled, and while repair jobs outlive the client:
// looks for the client's window.
constexpr UINT_PTR TIMER_CLIENT_CHECK = 3;

// The notification icon record in its first, shortest form (the one every
// Windows takes), filled when the tray window is created.
extern NOTIFYICONDATAA g_trayIcon;
// The most recently started refresh worker.
extern HANDLE g_hWorker;
// Repair jobs running, each counted by start-up from its start in the setup
// dialog until its report has closed. None can start once the tray window
// exists.
extern std::atomic<int> g_repairJobs;

// Registers a class of that name with nothing but its procedure (once) and
// creates a window of it that is never shown; null when it cannot be created.
HWND CreateHiddenWindow(HINSTANCE instance, const char* className, WNDPROC procedure);

// Registers the class "TW" and creates the hidden tray window; its creation
// adds the icon and arms the timers from the settings. The icon goes with
// the window, however that ends.
HWND CreateTrayWindow(HINSTANCE instance);

// Creates the tray window and runs its message loop; however the loop ends,
// the process ends as ExitTidewatch ends it. A window that cannot be created
// is named in a message first.
[[noreturn]] void RunTray(HINSTANCE instance);

// Every way out (the tray menu's Exit, log-off and shutdown in every phase,
// the loop's end, the client gone, the setup dialog's close box): abandons
// the copy of a file replace in progress, waits up to 10 s for one in its
// final renames and lets no new one start, removes the icon and ends the
// process with exit code 0.
[[noreturn]] void ExitTidewatch();

// The client has gone (any thread): ExitTidewatch, unless repair jobs run;
// then the tray window looks for the client every few seconds, and the
// program ends at the first look that finds neither client nor job.
void ClientGone(HWND trayWindow);

// Timer 1: starts a refresh worker for `trayWindow` as g_hWorker, unless the
// last one is still running (walking, paused or waiting for the client).
// Main thread only.
void StartRefreshWorker(HWND trayWindow);

// Timer 2: ends the pause of g_hWorker. Main thread only.
void ResumeWorker();
