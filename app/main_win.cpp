// Start-up: single-instance guard, setup dialog, client launch, the wait for
// the client's window, the hidden tray window and its message loop.
#include "app/launcher.h"

#include <shellapi.h>

#include "refresh/refresher.h"
#include "refresh/settings.h"
#include "res/resource.h"

namespace {

// Pause between two looks for the client's window.
constexpr DWORD kClientPollMs = 100;

// Polls for the client's main window. The pause between polls keeps the
// processor free while the client starts, or forever if it never does.
void WaitForClientWindow() {
    while (!g_hClient) {
        g_hClient = FindWindowA(kClientClass, nullptr);
        if (!g_hClient)
            Sleep(kClientPollMs);
    }
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    // Never closed: the name stays taken for as long as the process lives.
    CreateMutexA(nullptr, FALSE, "Tidewatch");
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        MessageBoxA(nullptr, "Tidewatch is already running", nullptr, MB_ICONERROR);
        ExitProcess(0);
    }

    // Returns once GO has found a client; the close box ends the process.
    DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_SETUP), nullptr, SetupDlgProc, 0);

    ShellExecuteA(nullptr, nullptr, g_clientPath, nullptr, nullptr, SW_SHOW);
    WaitForClientWindow();

    HWND tray = CreateTrayWindow(instance);
    MSG msg;
    while (GetMessageA(&msg, tray, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return 0;
}
