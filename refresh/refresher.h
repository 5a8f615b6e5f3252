// The tray window, its timers and the refresh worker.
#pragma once

#include <windows.h>
#include <shellapi.h>

// The notification icon's id and the message it sends to the tray window.
constexpr UINT TRAY_ICON_ID = 666;
constexpr UINT WM_TRAYNOTIFY = WM_USER + 1;

// Timers of the tray window.
constexpr UINT_PTR TIMER_REFRESH = 1; // starts a refresh worker
constexpr UINT_PTR TIMER_ITEM = 2;    // ends a worker's pause between items
// Only while refreshing is disabled: watches for the client's window to go.
constexpr UINT_PTR TIMER_CLIENT_CHECK = 3;
constexpr UINT CLIENT_CHECK_MS = 5000;

// The notification icon record, filled by AddTrayIcon (88-byte form).
extern NOTIFYICONDATAA g_trayIcon;
// The most recently started refresh worker.
extern HANDLE g_hWorker;

// Registers the class "TW" and creates the hidden tray window; its creation
// adds the icon and arms the timers from the settings.
HWND CreateTrayWindow(HINSTANCE instance);

// Window procedure of the hidden tray window (class "TW").
LRESULT CALLBACK TrayWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Fills g_trayIcon for `window` and adds the icon to the notification area.
void AddTrayIcon(HWND window);

// Removes the icon and ends the process with exit code 0.
[[noreturn]] void ExitTidewatch();

// Starts a RefreshWorker for `trayWindow` and makes it the newest; wakes
// older workers so they notice and end. Main thread only.
void StartRefreshWorker(HWND trayWindow);

// Ends the pause of the newest worker and wakes any older one. Main thread only.
void ResumeWorkers();

// Thread entry of a refresh; `trayWindow` (an HWND) owns timer 2. Returns 0.
DWORD WINAPI RefreshWorker(LPVOID trayWindow);

// EnumChildWindows callback: adds each SysTreeView32 to the TreeTable
// that lParam points at. Always TRUE.
BOOL CALLBACK CollectTreeViews(HWND window, LPARAM lParam);

// Arms timer 2 with the item delay and suspends the calling worker until
// the tray window resumes it; does nothing when there is no item delay.
void PauseBetweenItems(HWND trayWindow);
