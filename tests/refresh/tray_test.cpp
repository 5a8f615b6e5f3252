// The tray window and refresh workers in process, against the stand-in
// client. Timer expiries are sent by the test; the real timers, and the
// choice of "Exit Tidewatch", run end to end.
#include "refresh/refresher.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <tuple>

#include "app/launcher.h"
#include "dat/dat.h"
#include "dat/dat_io.h"
#include "job/repair_job.h"
#include "tests/dat/dat_test_util.h"
#include "refresh/settings.h"
#include "res/resource.h"
#include "tests/e2e/rig.h"

namespace {

using Events = std::vector<std::string>;

// Wine's notification area refuses a change to an icon it does not hold.
bool IconShown() {
    return Shell_NotifyIconA(NIM_MODIFY, &g_trayIcon) != FALSE;
}

HWND CreateTray(int refreshMinutes) {
    g_refreshMinutes = refreshMinutes;
    g_itemDelaySeconds = 0;
    return CreateTrayWindow(GetModuleHandleA(nullptr));
}

// The items of the menu an icon event opens (none for most); the menu is
// dismissed as a user at the keyboard would.
Events MenuAfter(HWND tray, LPARAM event) {
    Events items;
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

TEST(Tray, IconRecordTimerMenuAndTaskbarRestart) {
    HWND tray = CreateTray(2);
    ASSERT_TRUE(tray);
    const NOTIFYICONDATAA& icon = g_trayIcon;
    // The shortest form of the record: 88 bytes in the 32-bit program.
#ifdef _WIN64
    const unsigned long recordSize = 104;
#else
    const unsigned long recordSize = 88;
#endif
    EXPECT_EQ(
        std::make_tuple(recordSize, tray, 666u, 7u, 0x401u),
        std::make_tuple(icon.cbSize, icon.hWnd, icon.uID, icon.uFlags, icon.uCallbackMessage));
    EXPECT_STREQ("Tidewatch: Right click for menu", g_trayIcon.szTip);
    EXPECT_EQ(LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_TRAY)), g_trayIcon.hIcon);
    EXPECT_TRUE(PollUntil(5000, IconShown));
    EXPECT_FALSE(KillTimer(tray, TIMER_CLIENT_CHECK));

    EXPECT_EQ(Events{"Exit Tidewatch 60000"}, MenuAfter(tray, WM_RBUTTONDOWN));
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

// This program again, running the tests of `filter` with `variable` set.
std::string SelfWith(const char* variable, const std::string& value, const char* filter) {
    char self[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, self, sizeof self);
    SetEnvironmentVariableA(variable, value.c_str());
    return std::string(self) + " --gtest_filter=" + filter;
}

bool HasEnded(HANDLE thread) {
    return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
}

// Each way out, taken in a copy of this program on a thread of its own while
// a file replace is in progress there, must wait for it: the copy ends
// itself with 7 when the way out still waits after a second, with 8 when it
// returned, with 6 when it was not taken; one that ends the process at once
// gives 0. The client has gone in all of them: a repair job holds back only
// that way out.
DWORD WINAPI TakeWayOut(LPVOID way) {
    const std::string name = static_cast<const char*>(way);
    const HINSTANCE module = GetModuleHandleA(nullptr);
    g_refreshMinutes = 60;
    if (name == "loop")
        RunTray(module);
    if (name == "wait") { // for a client that never shows its window
        std::strcpy(g_clientPath, StandinExe().c_str());
        LaunchClient();
    }
    if (name == "report") {
        g_sessionEnd = ExitTidewatch;
        const SelectionRecord none{0, "\0"};
        DialogBoxParamA(module, MAKEINTRESOURCEA(IDD_REPORT), nullptr, ReportDlgProc,
                        reinterpret_cast<LPARAM>(&none));
    }
    if (name == "job" || name == "job ended") {
        g_repairJobs = 1;
        HWND tray = CreateTrayWindow(module);
        SendMessageA(tray, WM_TIMER, TIMER_CLIENT_CHECK, 0);
        if (name == "job ended" && KillTimer(tray, TIMER_CLIENT_CHECK)) {
            g_repairJobs = 0;
            SendMessageA(tray, WM_TIMER, TIMER_CLIENT_CHECK, 0);
        }
        return 0;
    }
    HWND window = name == "session" ? CreateTrayWindow(module)
                  : name == "setup" ? CreateDialogParamA(module, MAKEINTRESOURCEA(IDD_SETUP),
                                                         nullptr, SetupDlgProc, 0)
                                    : nullptr;
    if (window)
        SendMessageA(window, WM_ENDSESSION, TRUE, 0);
    else
        ExitTidewatch();
    return 0;
}

TEST(Exit, EveryWayOutWaitsForAFileReplaceInProgress) {
    char way[16] = "";
    if (GetEnvironmentVariableA("TW_EXIT_WAY", way, sizeof way)) {
        DatIoReplaceScope replace;
        HANDLE thread = CreateThread(nullptr, 0, TakeWayOut, way, 0, nullptr);
        if (!strcmp(way, "loop")) { // the tray window closed from outside ends its loop
            PollUntil(10000, [] { return IsWindow(g_trayIcon.hWnd); });
            PostMessageA(g_trayIcon.hWnd, WM_CLOSE, 0, 0);
            PollUntil(10000, [] { return !IsWindow(g_trayIcon.hWnd); });
        }
        // Told of log-off from outside, as the system tells every window.
        const bool wait = !strcmp(way, "wait");
        if (wait || !strcmp(way, "report"))
            SendNotifyMessageA(WaitWindow(wait ? kWaitClass : "#32770",
                                          wait ? nullptr : "DAT Repairer report", 10000, true),
                               WM_ENDSESSION, TRUE, 0);
        PollUntil(10000, [&] { return DatIoReplacesCancelled() || HasEnded(thread); });
        ExitProcess(!DatIoReplacesCancelled()                           ? 6
                    : WaitForSingleObject(thread, 1000) == WAIT_TIMEOUT ? 7
                                                                        : 8);
    }
    ConfigureStandin("", 60000);
    for (const char* way :
         {"exit", "session", "setup", "loop", "report", "job", "job ended", "wait"}) {
        Program child(SelfWith("TW_EXIT_WAY", way, "Exit.*"));
        SetEnvironmentVariableA("TW_EXIT_WAY", nullptr);
        EXPECT_EQ(strcmp(way, "job") ? 7 : 6, child.Exit())
            << way << " (0: ended during the replace, 8: returned, 6: not taken)";
    }
    EXPECT_TRUE(WaitStandinLog(" START")) << "the wait had no client";
    EndStandin();
}

LRESULT CALLBACK RefuseCreation(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return message == WM_CREATE ? -1 : DefWindowProcA(window, message, wParam, lParam);
}

// Said before the program ends: otherwise it would stay, unseen, holding the
// name that turns every later start away.
TEST(Exit, ATrayWindowThatCannotBeCreatedIsNamed) {
    if (GetEnvironmentVariableA("TW_NO_TRAY", nullptr, 0)) {
        WNDCLASSEXA refusing = {};
        refusing.cbSize = sizeof refusing;
        refusing.lpfnWndProc = RefuseCreation;
        refusing.hInstance = GetModuleHandleA(nullptr);
        refusing.lpszClassName = "TW"; // taken before the tray's own
        RegisterClassExA(&refusing);
        RunTray(refusing.hInstance);
    }
    Program child(SelfWith("TW_NO_TRAY", "1", "Exit.ATray*"));
    SetEnvironmentVariableA("TW_NO_TRAY", nullptr);
    const std::string text = AnswerBox("Error", IDOK);
    EXPECT_EQ(0u, text.find("Tidewatch could not create its notification area window")) << text;
    EXPECT_EQ(0, child.Exit());
}

// A way out taken during the copy of a large file abandons the copy: the
// copy of this program that repairs it ends with 0 at its next chunk, the
// file as it was and nothing left beside it. (Waited out instead, the
// repair would finish before the exit.)
HANDLE g_exiting;

DWORD WINAPI ExitNow(LPVOID) {
    ExitTidewatch();
}

TEST(Exit, DuringACopyAbandonsItAndLeavesTheFileAsItWas) {
    char path[MAX_PATH] = "";
    if (GetEnvironmentVariableA("TW_EXIT_COPY", path, sizeof path)) {
        SetDatIoFaultHook(
            [](void*, DatIoStep step) {
                if (step == DatIoStep::CopyKept && !g_exiting) {
                    g_exiting = CreateThread(nullptr, 0, ExitNow, nullptr, 0, nullptr);
                    PollUntil(10000, DatIoReplacesCancelled);
                }
                return false;
            },
            nullptr);
        RepairDatFile(path);
        // The way out ends the process once the abandoned copy is cleaned up.
        WaitForSingleObject(g_exiting, 10000);
        ExitProcess(9);
    }
    const std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                         ("tw-exit-" + std::to_string(GetCurrentProcessId()));
    std::filesystem::create_directories(folder);
    const std::string file = (folder / "big.dat").string();
    const Bytes large = Concat({Bytes(9 << 20, 0x90), JunkFile()});
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(large.data()),
               static_cast<std::streamsize>(large.size()));
    Program child(SelfWith("TW_EXIT_COPY", file, "Exit.DuringACopy*"));
    SetEnvironmentVariableA("TW_EXIT_COPY", nullptr);
    EXPECT_EQ(0, child.Exit());
    std::ifstream in(file, std::ios::binary);
    EXPECT_TRUE(Bytes(std::istreambuf_iterator<char>(in), {}) == large) << "the file changed";
    in.close();
    EXPECT_EQ(1, std::distance(std::filesystem::directory_iterator(folder), {}));
    std::filesystem::remove_all(folder);
}

// Nothing but the worker itself suspends a worker.
bool IsPaused(HANDLE worker) {
    const DWORD previous = SuspendThread(worker);
    if (previous == static_cast<DWORD>(-1))
        return false;
    ResumeThread(worker);
    return previous > 0;
}

class Worker : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        g_refreshMinutes = 60; // timer 1 is sent by the tests
        tray_ = CreateTrayWindow(GetModuleHandleA(nullptr));
    }
    static void TearDownTestSuite() { DestroyWindow(tray_); }
    void SetUp() override {
        ASSERT_TRUE(tray_);
        ConfigureStandin("a1,a2/child,a3;>b1,b2");
        standin_.reset(new Program(StandinExe()));
        ASSERT_TRUE(WaitStandinLog(" READY"));
    }
    void TearDown() override {
        g_itemDelaySeconds = 0;
        SendMessageA(tray_, WM_TIMER, TIMER_ITEM, 0);
        EXPECT_TRUE(PollUntil(10000, [] { return HasEnded(g_hWorker); }));
        KillTimer(tray_, TIMER_ITEM);
        standin_.reset();
    }
    HANDLE StartWorker() {
        SendMessageA(tray_, WM_TIMER, TIMER_REFRESH, 0);
        return g_hWorker;
    }
    static HWND tray_;
    std::unique_ptr<Program> standin_;
    // The walk of both trees; the tree nested in a panel is found too.
    const Events full_ = {"WM_COMMAND 32880",      "SELECT tree=0 item=a1", "WM_COMMAND 32880",
                          "WM_COMMAND 32986",      "SELECT tree=0 item=a2", "WM_COMMAND 32986",
                          "SELECT tree=0 item=a3", "WM_COMMAND 32986",      "WM_COMMAND 32880",
                          "SELECT tree=1 item=b1", "WM_COMMAND 32880",      "WM_COMMAND 32986",
                          "SELECT tree=1 item=b2", "WM_COMMAND 32986"};
};

HWND Worker::tray_;

// A walk that outlasts the refresh periods is never cut short: every period
// meanwhile starts none; the first one after it has ended starts the next.
TEST_F(Worker, AWalkWithPausesHoldsBackThePeriodsThenOneWithoutNeverPauses) {
    g_itemDelaySeconds = 1000;
    HANDLE walking = StartWorker();
    for (int pause = 0; pause < 5; ++pause) {
        ASSERT_TRUE(PollUntil(10000, [&] { return IsPaused(walking); })) << "pause " << pause;
        EXPECT_EQ(walking, StartWorker()) << "a second walk began at pause " << pause;
        SendMessageA(tray_, WM_TIMER, TIMER_ITEM, 0);
    }
    ASSERT_TRUE(PollUntil(10000, [&] { return HasEnded(walking); }));
    EXPECT_EQ(full_, StandinEvents());
    KillTimer(tray_, TIMER_ITEM);
    g_itemDelaySeconds = 0;
    HANDLE next = StartWorker();
    ASSERT_TRUE(PollUntil(10000, [&] { return HasEnded(next); }));
    EXPECT_EQ(full_.size() * 2, StandinEvents().size());
    EXPECT_FALSE(KillTimer(tray_, TIMER_ITEM)) << "timer 2 was armed without an item delay";
}

// A client that stops answering keeps its worker, and so the next period's,
// waiting for the time-out at most.
TEST_F(Worker, AHungClientHoldsItsWorkerForTheTimeOutOnly) {
    g_itemDelaySeconds = 0;
    ConfigureStandin("a1,a2/child,a3;>b1,b2", 0, "32986:12000");
    standin_.reset(new Program(StandinExe()));
    ASSERT_TRUE(WaitStandinLog(" READY"));
    HANDLE hung = StartWorker();
    ASSERT_TRUE(WaitStandinLog(" HANG "));
    EXPECT_EQ(hung, StartWorker()) << "a second worker while the first waits";
    EXPECT_TRUE(PollUntil(11000, [&] { return HasEnded(hung); })) << "still waiting";
}

} // namespace
