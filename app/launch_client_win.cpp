// Launching the client and waiting for its window.
#include "app/launcher.h"

#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "dat/dat_io.h"
#include "refresh/settings.h"

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

// A client that has not shown its window (a first-run or update dialog of
// its own, a window class of another name): the user may stop waiting.
bool KeepWaiting() {
    const std::string text = "Tidewatch started " + std::string(g_clientPath) +
                             ", but its window has not appeared yet.\r\nKeep waiting for it?";
    return MessageBoxA(nullptr, text.c_str(), "Tidewatch", MB_YESNO | MB_ICONQUESTION) == IDYES;
}

} // namespace

// The client is started in its own folder, as a shortcut would, rather than
// in whatever folder Tidewatch's current one happens to be. The pause
// between polls for its window keeps the processor free while it starts.
bool LaunchClient(DWORD askEveryMs) {
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
    bool ended = false, gaveUp = false;
    DWORD exitCode = 0, endedAt = 0, askedAt = GetTickCount();
    while (!(g_hClient = FindWindowA(kClientClass, nullptr))) {
        if (GetTickCount() - askedAt >= askEveryMs) {
            gaveUp = !KeepWaiting();
            if (gaveUp)
                break;
            askedAt = GetTickCount();
        }
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
    if (g_hClient || gaveUp)
        return g_hClient != nullptr;
    // A crash's status code reads best in hexadecimal.
    char code[16] = "";
    snprintf(code, sizeof code, exitCode > 0xFFFF ? "0x%08lX" : "%lu", exitCode);
    return ClientFailed("It ended before its window appeared, with exit code " + std::string(code) +
                        ".");
}
