// The tray window, its timers and the refresh worker.
#pragma once

#include <windows.h>

// Window procedure of the hidden tray window (class "TW").
LRESULT CALLBACK TrayWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
