// The tray window in process: its icon record, timers and menu. Choosing
// "Exit Tidewatch" ends the real program in the end-to-end scenarios.
#include "refresh/refresher.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "refresh/settings.h"
#include "res/resource.h"
#include "tests/e2e/rig.h"

namespace {

// Wine's notification area refuses a change to an icon it does not hold.
bool IconShown() {
    return Shell_NotifyIconA(NIM_MODIFY, &g_trayIcon) != FALSE;
}

HWND CreateTray(int refreshMinutes) {
    g_refreshMinutes = refreshMinutes;
    g_itemDelaySeconds = 0;
    return CreateTrayWindow(GetModuleHandleA(nullptr));
}

// The items of the menu a right click opens ("" when none opens); the menu
// is dismissed as a user at the keyboard would.
std::vector<std::string> MenuAfter(HWND tray, LPARAM event) {
    std::vector<std::string> items;
    WhileModal(
        [&] {
            HWND popup = FindWindowA("#32768", nullptr);
            if (!popup || !IsWindowVisible(popup))
                return false;
            HMENU menu = reinterpret_cast<HMENU>(SendMessageA(popup, MN_GETHMENU, 0, 0));
            for (int i = 0; i < GetMenuItemCount(menu); ++i) {
                char text[64] = "";
                GetMenuStringA(menu, i, text, sizeof text, MF_BYPOSITION);
                items.push_back(std::string(text) + " " + std::to_string(GetMenuItemID(menu, i)));
            }
            EndMenu();
            return true;
        },
        [&] { SendMessageA(tray, WM_TRAYNOTIFY, TRAY_ICON_ID, event); });
    return items;
}

TEST(Tray, BlankOrNegativeRefreshDelayArmsOnlyTheClientCheck) {
    for (int minutes : {0, -2147483647 - 1}) {
        HWND tray = CreateTray(minutes);
        ASSERT_TRUE(tray);
        HANDLE before = g_hWorker;
        SendMessageA(tray, WM_TIMER, TIMER_REFRESH, 0);
        EXPECT_EQ(before, g_hWorker) << "a worker started";
        EXPECT_FALSE(KillTimer(tray, TIMER_REFRESH)) << minutes;
        EXPECT_TRUE(KillTimer(tray, TIMER_CLIENT_CHECK)) << minutes;
        DestroyWindow(tray);
    }
}

TEST(Tray, IconRecordTimerMenuAndTaskbarRestart) {
    HWND tray = CreateTray(2);
    ASSERT_TRUE(tray);
    EXPECT_EQ(88u, g_trayIcon.cbSize);
    EXPECT_EQ(tray, g_trayIcon.hWnd);
    EXPECT_EQ(666u, g_trayIcon.uID);
    EXPECT_EQ(7u, g_trayIcon.uFlags);
    EXPECT_EQ(0x401u, g_trayIcon.uCallbackMessage);
    EXPECT_STREQ("Tidewatch: Right click for menu", g_trayIcon.szTip);
    EXPECT_EQ(LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_TRAY)), g_trayIcon.hIcon);
    EXPECT_TRUE(PollUntil(5000, IconShown));
    EXPECT_FALSE(KillTimer(tray, TIMER_CLIENT_CHECK));

    EXPECT_EQ(std::vector<std::string>{"Exit Tidewatch 60000"}, MenuAfter(tray, WM_RBUTTONDOWN));
    for (LPARAM other : {WM_LBUTTONDOWN, WM_RBUTTONUP})
        EXPECT_TRUE(MenuAfter(tray, other).empty()) << other;
    EXPECT_TRUE(IsWindow(tray)) << "a dismissed menu changes nothing";

    Shell_NotifyIconA(NIM_DELETE, &g_trayIcon); // as a restarted taskbar has lost it
    SendMessageA(tray, RegisterWindowMessageA("TaskbarCreated"), 0, 0);
    EXPECT_TRUE(IconShown()) << "the icon is not added again";
    EXPECT_TRUE(KillTimer(tray, TIMER_REFRESH));
    // Wine drops the icons of a window that has gone by itself; so that the
    // window's own deletion shows, the record names a window that lives on.
    HWND keeper =
        CreateWindowExA(0, "Static", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    g_trayIcon.hWnd = keeper;
    ASSERT_TRUE(Shell_NotifyIconA(NIM_ADD, &g_trayIcon));
    SendMessageA(tray, WM_CLOSE, 0, 0); // from outside
    EXPECT_FALSE(IsWindow(tray));
    EXPECT_FALSE(IconShown()) << "the icon outlived its window";
    DestroyWindow(keeper);
}

} // namespace
