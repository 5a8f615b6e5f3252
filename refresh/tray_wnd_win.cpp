#include "refresh/refresher.h"

#include "dat/dat_io.h"
#include "refresh/settings.h"
#include "refresh/walk.h"
#include "res/resource.h"

#include <cstring>
#include <string>

NOTIFYICONDATAA g_trayIcon;
std::atomic<int> g_repairJobs;

namespace {

constexpr UINT kClientCheckMs = 5000;

// Sent by the shell when the taskbar is (re)created; the icon is lost then.
UINT s_taskbarCreated;

void ArmTimers(HWND window) {
    std::uint32_t interval = RefreshIntervalMs(g_refreshMinutes);
    if (interval != 0)
        SetTimer(window, TIMER_REFRESH, interval, nullptr);
    else // refreshing disabled: still notice when the client goes
        SetTimer(window, TIMER_CLIENT_CHECK, kClientCheckMs, nullptr);
}

void OnTimer(HWND window, UINT_PTR id) {
    switch (id) {
    case TIMER_REFRESH: {
        std::uint32_t interval = RefreshIntervalMs(g_refreshMinutes);
        if (interval == 0)
            break;
        StartRefreshWorker(window);
        SetTimer(window, TIMER_REFRESH, interval, nullptr);
        break;
    }
    case TIMER_ITEM:
        ResumeWorker();
        break;
    case TIMER_CLIENT_CHECK:
        g_hClient = FindWindowA(kClientClass, nullptr);
        if (g_hClient == nullptr)
            ClientGone(window);
        break;
    }
}

void OnTrayNotify(HWND window, LPARAM event) {
    if (event != WM_RBUTTONDOWN)
        return;
    HMENU menu = CreatePopupMenu();
    AppendMenuA(menu, MF_STRING, IDM_EXIT, "Exit Tidewatch");
    POINT cursor = {0, 0};
    GetCursorPos(&cursor);
    // Without this the menu stays open when the user clicks elsewhere.
    SetForegroundWindow(window);
    UINT chosen = static_cast<UINT>(
        TrackPopupMenu(menu, TPM_RETURNCMD, cursor.x, cursor.y, 0, window, nullptr));
    // Lets the menu close properly when it was dismissed by a switch of windows.
    PostMessageA(window, WM_NULL, 0, 0);
    DestroyMenu(menu);
    if (chosen == IDM_EXIT)
        ExitTidewatch();
}

void AddTrayIcon(HWND window) {
    std::memset(&g_trayIcon, 0, sizeof g_trayIcon);
    g_trayIcon.cbSize = NOTIFYICONDATAA_V1_SIZE;
    g_trayIcon.hWnd = window;
    g_trayIcon.uID = TRAY_ICON_ID;
    g_trayIcon.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    g_trayIcon.uCallbackMessage = WM_TRAYNOTIFY;
    g_trayIcon.hIcon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_TRAY));
    static const char tip[] = "Tidewatch: Right click for menu";
    static_assert(sizeof tip <= 64, "the tip must fit the first form of the record");
    std::memcpy(g_trayIcon.szTip, tip, sizeof tip);
    Shell_NotifyIconA(NIM_ADD, &g_trayIcon);
}

LRESULT CALLBACK TrayWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        s_taskbarCreated = RegisterWindowMessageA("TaskbarCreated");
        AddTrayIcon(window);
        ArmTimers(window);
        break;
    case WM_TIMER:
        OnTimer(window, wParam);
        break;
    case WM_TRAYNOTIFY:
        OnTrayNotify(window, lParam);
        break;
    case WM_ENDSESSION: // log-off or shutdown
        if (wParam)
            ExitTidewatch();
        break;
    case WM_DESTROY:
        // Also when closed or destroyed from outside: no icon outlives its window.
        Shell_NotifyIconA(NIM_DELETE, &g_trayIcon);
        break;
    default:
        if (message != 0 && message == s_taskbarCreated)
            Shell_NotifyIconA(NIM_ADD, &g_trayIcon);
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

} // namespace

HWND CreateHiddenWindow(HINSTANCE instance, const char* className, WNDPROC procedure) {
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = className;
    RegisterClassExA(&windowClass); // fails harmlessly when the class exists
    return CreateWindowExA(0, className, nullptr, 0, 0, 0, 0, 0, nullptr, nullptr, instance,
                           nullptr);
}

HWND CreateTrayWindow(HINSTANCE instance) {
    return CreateHiddenWindow(instance, "TW", TrayWndProc);
}

void RunTray(HINSTANCE instance) {
    HWND tray = CreateTrayWindow(instance);
    if (tray == nullptr) {
        // Without its window the program could neither be seen nor ended,
        // yet it would hold the name that keeps every later start away.
        const DWORD error = GetLastError();
        std::string text = "Tidewatch could not create its notification area window, and ends.";
        if (error != 0)
            text += "\r\n" + DatIoSystemReason(error);
        MessageBoxA(nullptr, text.c_str(), nullptr, MB_ICONERROR);
        ExitTidewatch();
    }
    MSG msg;
    // Ends on WM_QUIT, or with an error once the window has gone.
    while (GetMessageA(&msg, tray, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    ExitTidewatch();
}

void ClientGone(HWND trayWindow) {
    // A repair job's report or question stays until the user is done with
    // it: closing the client is how its files are freed for a repair.
    if (g_repairJobs == 0)
        ExitTidewatch();
    SetTimer(trayWindow, TIMER_CLIENT_CHECK, kClientCheckMs, nullptr);
}

void ExitTidewatch() {
    // A copy in progress is abandoned at its next chunk, its file left as it
    // was; a replace that has reached its final renames ends them first
    // (milliseconds): a file cut between its temporary copy and its place
    // would be worse than a late exit.
    DatIoCancelReplaces();
    DatIoHoldReplaces(10000);
    if (g_trayIcon.hWnd != nullptr)
        Shell_NotifyIconA(NIM_DELETE, &g_trayIcon);
    ExitProcess(0);
}
