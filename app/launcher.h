// Start-up, the setup dialog and the client locator.
#pragma once

#include <windows.h>

// Path of the client executable; zero-terminated, never longer than MAX_PATH.
extern char g_clientPath[MAX_PATH];

// The setup dialog (IDD_SETUP). Returns FALSE for every message. GO reads
// the delays and locates the client, and ends the dialog only when a client
// was found; the close box, log-off and shutdown end the process with code
// 0 (ExitTidewatch); IDC_REPAIR (also in the system menu) starts a repair
// job thread. A non-zero creation parameter shows the fields as GO last
// left them.
INT_PTR CALLBACK SetupDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// How long the client's window is awaited before the user is asked whether
// to wait on; asked again after each further such time.
inline constexpr DWORD kAskToWaitMs = 60000;
// Starts the client at g_clientPath and waits for its window (g_hClient).
// False, after a message, when the client could not be started or ended
// before its window appeared, and when the user stopped waiting; the client
// is then left as it is, and the next call starts none while it runs or
// once its window is there, but waits for it again. Log-off and shutdown
// reach the wait through a hidden window of class kWaitClass, and take
// ExitTidewatch.
bool LaunchClient(DWORD askEveryMs = kAskToWaitMs);
inline constexpr char kWaitClass[] = "TWWait";

// Fills g_refreshMinutes and g_itemDelaySeconds from the dialog's two fields.
void ReadDelays(HWND dialog);
// Fills g_clientPath from the registry value of the client the dialog selects;
// a path beginning with a backslash means not found.
void LocateClient(HWND dialog);
