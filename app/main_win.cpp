// Start-up: single-instance guard, setup dialog, client launch, then the
// tray window's message loop.
#include "app/launcher.h"

#include "job/repair_job.h"
#include "refresh/refresher.h"
#include "res/resource.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    // Never closed: the name stays taken for as long as the process lives.
    CreateMutexA(nullptr, FALSE, "Tidewatch");
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        MessageBoxA(nullptr, "Tidewatch is already running", nullptr, MB_ICONERROR);
        ExitProcess(0);
    }

    // A report told that the session ends takes the program's way out.
    g_sessionEnd = ExitTidewatch;

    // Returns once GO has found a client; the close box ends the process.
    // Shown again, as the user left it, while the client cannot be started
    // or the user stops waiting for it.
    LPARAM again = 0;
    do {
        DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_SETUP), nullptr, SetupDlgProc, again);
        again = 1;
    } while (!LaunchClient());

    RunTray(instance);
}
