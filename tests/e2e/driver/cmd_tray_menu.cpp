// The tray icon's menu: a right-button press on the icon, as the shell would
// report it to the tray window, then the popup menu answered by keyboard.
#include "tests/e2e/driver/driver.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr UINT kTrayNotify = WM_USER + 1; // the icon's callback message
constexpr WPARAM kTrayIconId = 666;

struct PopupSearch {
    DWORD process;
    HWND found;
};

BOOL CALLBACK FindPopup(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<PopupSearch*>(param);
    char name[16] = {0};
    GetClassNameA(window, name, sizeof name);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (std::strcmp(name, "#32768") == 0 && process == search->process && IsWindowVisible(window)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

// A visible popup menu of `process`, or null.
HWND PopupOf(DWORD process) {
    PopupSearch search = {process, nullptr};
    EnumWindows(FindPopup, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

int TrayMenu(DriverOptions& options) {
    if (!NeedArgs(options, 1, 1, "tray-menu"))
        return kDriverUsage;
    const std::string& action = options.args[0];
    if (action != "choose" && action != "dismiss") {
        DriverError("tray-menu: choose or dismiss, not '%s'", action.c_str());
        return kDriverUsage;
    }
    if (options.className.empty())
        options.className = "TW";
    HWND tray = WaitForTarget(options);
    if (!tray)
        return kDriverFailed;
    DWORD process = 0;
    GetWindowThreadProcessId(tray, &process);

    PostMessageA(tray, kTrayNotify, kTrayIconId, WM_RBUTTONDOWN);
    HWND menu = nullptr;
    if (!PollUntil(options.timeoutMs, [&] { return (menu = PopupOf(process)) != nullptr; })) {
        DriverError("no popup menu appeared");
        return kDriverFailed;
    }
    printf("0x%08lx\n", static_cast<unsigned long>(reinterpret_cast<UINT_PTR>(menu)));
    fflush(stdout);
    if (action == "choose") {
        PostMessageA(menu, WM_KEYDOWN, VK_DOWN, 0);
        PostMessageA(menu, WM_KEYDOWN, VK_RETURN, 0);
    } else {
        PostMessageA(menu, WM_KEYDOWN, VK_ESCAPE, 0);
    }
    if (!PollUntil(options.timeoutMs, [&] { return !IsWindow(menu) || !IsWindowVisible(menu); })) {
        DriverError("the popup menu stayed open");
        return kDriverFailed;
    }
    return kDriverOk;
}

const DriverCommand kCommands[] = {
    {"tray-menu",
     "choose|dismiss - right-click the tray icon (default -c TW), then pick the menu's first "
     "entry or dismiss the menu; prints the menu's handle",
     TrayMenu},
};
TW_DRIVER_COMMANDS(kCommands);

} // namespace
