// Start-up, the setup dialog and the client locator.
#pragma once

#include <windows.h>

// Path of the client executable; zero-terminated, never longer than MAX_PATH.
extern char g_clientPath[MAX_PATH];
// The client's main window (class "Kazaa").
extern HWND g_hClient;
// Settings typed into the setup dialog; blank fields give 0.
extern int g_refreshMinutes;
extern int g_itemDelaySeconds;

INT_PTR CALLBACK SetupDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
void ReadDelays(HWND dialog);
void LocateClient(HWND dialog);
