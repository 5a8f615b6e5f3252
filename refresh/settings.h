// What start-up and the setup dialog hand the refresher. Written on the main
// thread before the tray window exists; the client window also by each
// refresh worker.
#pragma once

#include <windows.h>

// Class of the client's main window.
inline constexpr char kClientClass[] = "Kazaa";

// The client's main window.
extern HWND g_hClient;
// Settings typed into the setup dialog; blank fields give 0.
extern int g_refreshMinutes;
extern int g_itemDelaySeconds;
