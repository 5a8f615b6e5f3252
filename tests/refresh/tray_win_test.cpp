// The tray window: its icon record, timers, the menu and the re-added icon
// after a taskbar restart. Choosing "Exit Tidewatch" and the client closing
// end the real program in the end-to-end runs.
#include "tests/refresh/fake_client_win.h"

#include "app/launcher.h"
#include "refresh/refresher.h"
#include "res/resource.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <thread>

namespace {

// Watches for a popup menu of this process, notes its items, and dismisses
// each one it sees with Escape (as a user at the keyboard would).
class MenuWatcher {
  public:
    MenuWatcher() {
        thread_ = std::thread([this] { Run(); });
    }
    ~MenuWatcher() {
        stop_ = true;
        thread_.join();
    }
    int menus() const { return menus_; }
    // Items of the first menu seen, and whether it was destroyed afterwards.
    std::vector<std::string> texts;
    std::vector<UINT> ids;
    HMENU menu = nullptr;
    bool stuck = false;

  private:
    static BOOL CALLBACK FindOwnPopup(HWND window, LPARAM param) {
        char name[16] = {0};
        GetClassNameA(window, name, sizeof name);
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        if (std::strcmp(name, "#32768") == 0 && IsWindowVisible(window) &&
            process == GetCurrentProcessId()) {
            *reinterpret_cast<HWND*>(param) = window;
            return FALSE;
        }
        return TRUE;
    }

    static HWND OwnPopup() {
        HWND found = nullptr;
        EnumWindows(FindOwnPopup, reinterpret_cast<LPARAM>(&found));
        return found;
    }

    void Run() {
        while (!stop_) {
            HWND popup = OwnPopup();
            if (popup != nullptr) {
                if (menus_ == 0)
                    Note(reinterpret_cast<HMENU>(SendMessageA(popup, MN_GETHMENU, 0, 0)));
                ++menus_;
                PostMessageA(popup, WM_KEYDOWN, VK_ESCAPE, 0);
                DWORD start = GetTickCount();
                while (IsWindow(popup) && IsWindowVisible(popup)) {
                    if (GetTickCount() - start > 5000) {
                        stuck = true;
                        PostMessageA(popup, WM_KEYDOWN, VK_ESCAPE, 0);
                        start = GetTickCount();
                    }
                    Sleep(10);
                }
            }
            Sleep(10);
        }
    }

    void Note(HMENU m) {
        menu = m;
        int count = GetMenuItemCount(m);
        for (int i = 0; i < count; ++i) {
            char text[64] = {0};
            GetMenuStringA(m, i, text, sizeof text, MF_BYPOSITION);
            texts.push_back(text);
            ids.push_back(GetMenuItemID(m, i));
        }
    }

    std::atomic<bool> stop_{false};
    std::atomic<int> menus_{0};
    std::thread thread_;
};

class Tray : public ::testing::Test {
  protected:
    void TearDown() override {
        // The icon goes with its window (deleting it takes Wine two seconds).
        if (tray != nullptr)
            DestroyWindow(tray);
    }
    void Create(int refreshMinutes) {
        g_refreshMinutes = refreshMinutes;
        g_itemDelaySeconds = 0;
        tray = CreateTrayWindow();
        ASSERT_NE(nullptr, tray);
    }
    HWND tray = nullptr;
};

// Tests of a window made with a refresh delay share one window: Wine takes
// two seconds to add an icon after the window of an earlier one has gone.
class SharedTray : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        g_refreshMinutes = 60;
        g_itemDelaySeconds = 0;
        tray = CreateTrayWindow();
    }
    static void TearDownTestSuite() { DestroyWindow(tray); }
    void SetUp() override { ASSERT_NE(nullptr, tray); }
    void RightClick() { SendMessageA(tray, WM_TRAYNOTIFY, TRAY_ICON_ID, WM_RBUTTONDOWN); }
    static HWND tray;
};

HWND SharedTray::tray;

TEST_F(SharedTray, CreationFillsThe88ByteIconRecord) {
    EXPECT_EQ(88u, g_trayIcon.cbSize);
    EXPECT_EQ(tray, g_trayIcon.hWnd);
    EXPECT_EQ(666u, g_trayIcon.uID);
    EXPECT_EQ(7u, g_trayIcon.uFlags);
    EXPECT_EQ(0x401u, g_trayIcon.uCallbackMessage);
    EXPECT_STREQ("Tidewatch: Right click for menu", g_trayIcon.szTip);
    ASSERT_NE(nullptr, g_trayIcon.hIcon) << "icon 102 not loaded";
    EXPECT_EQ(LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_TRAY)), g_trayIcon.hIcon);
}

TEST(TrayIcon, ResourceIsOne16x16ImageWith256Colours) {
    HRSRC group = FindResourceA(nullptr, MAKEINTRESOURCEA(IDI_TRAY), RT_GROUP_ICON);
    ASSERT_NE(nullptr, group);
    const auto* dir = static_cast<const BYTE*>(LockResource(LoadResource(nullptr, group)));
    ASSERT_NE(nullptr, dir);
    EXPECT_EQ(1, dir[4] | (dir[5] << 8)) << "images in the group";
    // The group entry: width, height, colour count (0 = 256), reserved, planes, bits.
    EXPECT_EQ(16, dir[6]);
    EXPECT_EQ(16, dir[7]);
    EXPECT_EQ(0, dir[8]);
    EXPECT_EQ(8, dir[12] | (dir[13] << 8));
}

// A blank delay, or a negative one from the parser's wrap, disables the
// refresher: only the slow check of the client's window is armed.
TEST_F(Tray, RefreshDelayArmsTimer1OrElseOnlyTheClientCheck) {
    for (int minutes : {2, 0, -2147483647 - 1}) {
        Create(minutes);
        EXPECT_EQ(minutes > 0, KillTimer(tray, TIMER_REFRESH) != FALSE) << minutes;
        EXPECT_EQ(minutes <= 0, KillTimer(tray, TIMER_CLIENT_CHECK) != FALSE) << minutes;
        EXPECT_FALSE(KillTimer(tray, TIMER_ITEM)) << minutes;
        DestroyWindow(tray);
        tray = nullptr;
    }
}

TEST_F(Tray, DisabledRefresherStartsNoWorkerAndWalksNothing) {
    FakeClient client;
    client.AddTree("T1", {"a1", "a2"});
    HANDLE before = g_hWorker;
    Create(0);
    // An interval of 0 would start workers every few milliseconds.
    PumpFor(300);
    SendMessageA(tray, WM_TIMER, TIMER_REFRESH, 0);
    PumpFor(100);
    EXPECT_EQ(before, g_hWorker);
    EXPECT_TRUE(g_sent.empty()) << g_sent.front();
}

TEST_F(SharedTray, TaskbarRestartAddsTheIconAgain) {
    // Wine's notification area answers a change to an icon it does not hold
    // with FALSE: that is how the test sees whether the icon is there.
    ASSERT_TRUE(Shell_NotifyIconA(NIM_MODIFY, &g_trayIcon)) << "no notification area to test with";
    Shell_NotifyIconA(NIM_DELETE, &g_trayIcon); // as a restarted taskbar has lost it
    ASSERT_FALSE(Shell_NotifyIconA(NIM_MODIFY, &g_trayIcon));
    SendMessageA(tray, RegisterWindowMessageA("TaskbarCreated"), 0, 0);
    EXPECT_TRUE(Shell_NotifyIconA(NIM_MODIFY, &g_trayIcon)) << "icon not added again";
}

TEST_F(SharedTray, RightClickShowsTheSingleExitEntryAndDismissingChangesNothing) {
    NOTIFYICONDATAA before = g_trayIcon;
    HMENU menu = nullptr;
    {
        MenuWatcher watcher;
        RightClick();
        EXPECT_EQ(1, watcher.menus());
        EXPECT_FALSE(watcher.stuck);
        ASSERT_EQ(1u, watcher.texts.size());
        EXPECT_EQ("Exit Tidewatch", watcher.texts[0]);
        EXPECT_EQ(60000u, watcher.ids[0]);
        menu = watcher.menu;
    }
    EXPECT_FALSE(IsMenu(menu)) << "the menu is destroyed after use";
    EXPECT_TRUE(IsWindow(tray));
    EXPECT_EQ(0, std::memcmp(&before, &g_trayIcon, sizeof before));
    EXPECT_TRUE(KillTimer(tray, TIMER_REFRESH)) << "timer 1 still armed";
}

TEST_F(SharedTray, OtherIconEventsOpenNoMenu) {
    MenuWatcher watcher;
    for (LPARAM event : {WM_LBUTTONDOWN, WM_RBUTTONUP, WM_LBUTTONDBLCLK})
        SendMessageA(tray, WM_TRAYNOTIFY, TRAY_ICON_ID, event);
    EXPECT_EQ(0, watcher.menus());
    RightClick(); // and the watcher does see a real one
    EXPECT_EQ(1, watcher.menus());
}

} // namespace
