// Start-up: single-instance guard, setup dialog, client launch, the wait for
// the client's window, the hidden tray window and its message loop.
#include "app/launcher.h"

#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "dat/dat_io.h"
#include "refresh/refresher.h"
#include "refresh/settings.h"
#include "res/resource.h"

namespace {

// Pause between two looks for the client's window.
constexpr DWORD kClientPollMs = 100;
// How long the window of a client that ended with 0 is still awaited.
constexpr DWORD kHandOverMs = 10000;

// The system's words for error; a "%1" in them stands for the client.
std::string SystemMessage(DWORD error) {
    std::string reason = DatIoSystemReason(error);
    const size_t insert = reason.find("%1");
    if (insert != std::string::npos)
        reason.replace(insert, 2, g_clientPath);
    return reason;
}

// Says which program could not be started and why; always false.
bool ClientFailed(const std::string& reason) {
    const std::string text =
        "Tidewatch could not start " + std::string(g_clientPath) + "\r\n" + reason;
    MessageBoxA(nullptr, text.c_str(), nullptr, MB_ICONERROR);
    return false;
}

// Starts the client in its own folder, as a shortcut would, rather than in
// whatever folder Tidewatch's current one happens to be. Then polls for its
// main window; the pause between polls keeps the processor free
// while the client starts, or forever if it never shows one. False, after
// a message, when the client could not be started or ended before its
// window appeared.
bool LaunchClient() {
    char folder[MAX_PATH] = {};
    memcpy(folder, g_clientPath, sizeof folder - 1);
    // The backslash stays: a drive's root is "C:\", where "C:" would be a
    // current folder of its own.
    if (char* slash = strrchr(folder, '\\'))
        slash[1] = '\0';

    // The shell would open a folder in a window of its own, and never the client's.
    const DWORD attributes = GetFileAttributesA(g_clientPath);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return ClientFailed("It is a folder, not a program.");

    SHELLEXECUTEINFOA launch = {};
    launch.cbSize = sizeof launch;
    launch.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    launch.lpFile = g_clientPath;
    launch.lpDirectory = folder;
    launch.nShow = SW_SHOW;
    if (!ShellExecuteExA(&launch))
        return ClientFailed(SystemMessage(GetLastError()));

    // Without a process handle (the shell started the client some other
    // way) only its window is watched for. A client that ends with 0 may
    // have handed its start over to another process (a launcher does): its
    // window is still awaited for a while.
    HANDLE process = launch.hProcess;
    bool ended = false;
    DWORD exitCode = 0, endedAt = 0;
    while (!(g_hClient = FindWindowA(kClientClass, nullptr))) {
        if (process != nullptr && !ended) {
            ended = WaitForSingleObject(process, kClientPollMs) == WAIT_OBJECT_0;
            if (ended) {
                GetExitCodeProcess(process, &exitCode);
                endedAt = GetTickCount();
            }
        } else if (ended && (exitCode != 0 || GetTickCount() - endedAt >= kHandOverMs)) {
            break;
        } else {
            Sleep(kClientPollMs);
        }
    }
    if (process != nullptr)
        CloseHandle(process);
    if (g_hClient)
        return true;
    // A crash's status code reads best in hexadecimal.
    char code[16] = "";
    snprintf(code, sizeof code, exitCode > 0xFFFF ? "0x%08lX" : "%lu", exitCode);
    return ClientFailed("It ended before its window appeared, with exit code " + std::string(code) +
                        ".");
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
    // Shown again, as the user left it, while the client cannot be started.
    LPARAM again = 0;
    do {
        DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_SETUP), nullptr, SetupDlgProc, again);
        again = 1;
    } while (!LaunchClient());

    HWND tray = CreateTrayWindow(instance);
    MSG msg;
    while (GetMessageA(&msg, tray, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return 0;
}
