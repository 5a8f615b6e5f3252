// Launching the client and waiting for its window.
#include "app/launcher.h"

#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "dat/dat_io.h"
#include "refresh/refresher.h"
#include "refresh/settings.h"

namespace {

// Pause between two looks for the client's window.
constexpr DWORD kClientPollMs = 100;
// How long the window of a client that ended with 0 is still awaited.
constexpr DWORD kHandOverMs = 10000;

// The client a GO started, until its window has appeared or it has ended:
// its path, and its process where the shell gave one. A later GO waits for
// it again rather than start a second copy against the same files.
std::string s_started;
HANDLE s_process;

void ForgetStarted() {
    if (s_process != nullptr)
        CloseHandle(s_process);
    s_process = nullptr;
    s_started.clear();
}

bool StillRuns(HANDLE process) {
    return process != nullptr && WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
}

// The system's words for error; a "%1" in them stands for the client.
std::string SystemMessage(DWORD error) {
    std::string reason = DatIoSystemReason(error);
    const size_t insert = reason.find("%1");
    if (insert != std::string::npos)
        reason.replace(insert, 2, s_started);
    return reason;
}

// Says which program could not be started and why; always false.
bool ClientFailed(const std::string& reason) {
    const std::string text = "Tidewatch could not start " + s_started + "\r\n" + reason;
    ForgetStarted();
    MessageBoxA(nullptr, text.c_str(), nullptr, MB_ICONERROR);
    return false;
}

// A client that has not shown its window (a first-run or update dialog of
// its own, a window class of another name): the user may stop waiting. The
// question comes to the front, where such a dialog may stand.
bool KeepWaiting() {
    const std::string text = "Tidewatch started " + s_started +
                             ", but its window has not appeared yet.\r\nKeep waiting for it?";
    return MessageBoxA(nullptr, text.c_str(), "Tidewatch",
                       MB_YESNO | MB_ICONQUESTION | MB_SETFOREGROUND) == IDYES;
}

LRESULT CALLBACK WaitWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_ENDSESSION && wParam) // log-off or shutdown
        ExitTidewatch();
    return DefWindowProcA(window, message, wParam, lParam);
}

// The wait's own hidden window, for as long as the wait lasts: log-off and
// shutdown reach only a program that has a window, and a repair job may be
// copying meanwhile.
struct WaitWindow {
    HWND window = CreateHiddenWindow(GetModuleHandleA(nullptr), kWaitClass, WaitWndProc);
    WaitWindow() = default;
    ~WaitWindow() {
        if (window != nullptr)
            DestroyWindow(window);
    }
    WaitWindow(const WaitWindow&) = delete;
    WaitWindow& operator=(const WaitWindow&) = delete;
};

// Starts the client at g_clientPath in its own folder, as a shortcut would,
// rather than in whatever folder Tidewatch's current one happens to be.
// False after a message.
bool StartClient() {
    s_started = g_clientPath;
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
    s_process = launch.hProcess;
    return true;
}

// One poll's pause, this thread's messages handled meanwhile; true when
// `process` (if any) has ended.
bool Pause(HANDLE process) {
    const DWORD count = process != nullptr ? 1 : 0;
    const DWORD woke =
        MsgWaitForMultipleObjects(count, &process, FALSE, kClientPollMs, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return count != 0 && woke == WAIT_OBJECT_0;
}

} // namespace

// The pause between polls for the window keeps the processor free while the
// client starts.
bool LaunchClient(DWORD askEveryMs) {
    WaitWindow own;
    const bool again = !s_started.empty() &&
                       (StillRuns(s_process) || FindWindowA(kClientClass, nullptr) != nullptr);
    if (!again) {
        ForgetStarted();
        if (!StartClient())
            return false;
    }

    // Without a process handle (the shell started the client some other
    // way) only its window is watched for. A client that ends with 0 may
    // have handed its start over to another process (a launcher does): its
    // window is still awaited for a while.
    bool ended = false, gaveUp = false;
    DWORD exitCode = 0, endedAt = 0, askedAt = GetTickCount();
    while (!(g_hClient = FindWindowA(kClientClass, nullptr))) {
        if (GetTickCount() - askedAt >= askEveryMs) {
            gaveUp = !KeepWaiting();
            askedAt = GetTickCount();
            // Looked for again at once: a window that came while the question
            // was open is taken, whatever the answer.
            if (gaveUp && FindWindowA(kClientClass, nullptr) == nullptr)
                return false; // the client left as it is, for the next GO
            continue;
        }
        if (ended && (exitCode != 0 || GetTickCount() - endedAt >= kHandOverMs))
            break;
        if (Pause(ended ? nullptr : s_process)) {
            ended = true;
            GetExitCodeProcess(s_process, &exitCode);
            endedAt = GetTickCount();
        }
    }
    if (g_hClient) {
        ForgetStarted();
        return true;
    }
    // A crash's status code reads best in hexadecimal.
    char code[16] = "";
    snprintf(code, sizeof code, exitCode > 0xFFFF ? "0x%08lX" : "%lu", exitCode);
    return ClientFailed("It ended before its window appeared, with exit code " + std::string(code) +
                        ".");
}
