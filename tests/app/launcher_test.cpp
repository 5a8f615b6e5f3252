// The setup dialog from its real template, in process: the delays it reads,
// GO without a client, the system menu. (GO with one runs end to end.)
#include "app/launcher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "dat/report.h"
#include "refresh/refresher.h"
#include "refresh/settings.h"
#include "res/resource.h"
#include "tests/e2e/rig.h"

namespace {

const char kGrokster[] = "SOFTWARE\\Grokster\\LocalContent";

class Setup : public ::testing::Test {
  protected:
    void SetUp() override {
        dialog_ = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_SETUP),
                                     nullptr, SetupDlgProc, 0);
        ASSERT_TRUE(dialog_);
    }
    void TearDown() override {
        DestroyWindow(dialog_);
        RegisterClient(kGrokster, "", "");
    }
    HWND dialog_ = nullptr;
};

TEST_F(Setup, ReadDelaysTakesTheItemDelayOnlyWithARefreshDelay) {
    // 250 blanks and "12345" fill the 255 characters read; a 256th is cut.
    const std::string at255 = std::string(250, ' ') + "123459";
    const struct {
        std::string minutes, seconds;
        int refresh, item;
    } cases[] = {{"10", "5", 10, 5},
                 {"", "5", 0, 0},
                 {"10", "", 10, 0},
                 {" -3", "12abc", -3, 12},
                 {at255, "x", 12345, 0}};
    for (const auto& c : cases) {
        SetDlgItemTextA(dialog_, IDC_REFRESH_MINUTES, c.minutes.c_str());
        SetDlgItemTextA(dialog_, IDC_ITEM_SECONDS, c.seconds.c_str());
        g_refreshMinutes = g_itemDelaySeconds = 99;
        ReadDelays(dialog_);
        EXPECT_EQ(c.refresh, g_refreshMinutes) << c.minutes;
        EXPECT_EQ(c.item, g_itemDelaySeconds) << c.minutes << ", " << c.seconds;
    }
}

TEST_F(Setup, GoWithoutAClientWarnsClearsThePathAndStaysOpen) {
    std::string box;
    WhileModal(
        [&] {
            HWND found = FindWindowA("#32770", "Error");
            if (!found)
                return false;
            box = TextOf(found, 0xFFFF);
            PostMessageA(found, WM_COMMAND, IDOK, 0);
            return true;
        },
        [&] { SendMessageA(dialog_, WM_COMMAND, MAKEWPARAM(IDC_GO, BN_CLICKED), 0); });
    EXPECT_EQ("That Fasttrak client was not found. Try again", box);
    EXPECT_EQ(std::string(sizeof g_clientPath, '\0'),
              std::string(g_clientPath, sizeof g_clientPath));
    EXPECT_TRUE(IsWindow(dialog_));
    // A notification other than a click is no GO.
    RegisterClient(kGrokster, "DatabaseDir", std::string("C:\\G\\db", 8));
    SetDlgItemTextA(dialog_, IDC_REFRESH_MINUTES, "3");
    SendMessageA(dialog_, WM_COMMAND, MAKEWPARAM(IDC_GO, EN_CHANGE), 0);
    EXPECT_EQ('\0', g_clientPath[0]);
}

TEST_F(Setup, SystemMenuOffersTheRepairCommand) {
    HMENU menu = GetSystemMenu(dialog_, FALSE);
    const int count = GetMenuItemCount(menu);
    char text[64] = "";
    GetMenuStringA(menu, count - 1, text, sizeof text, MF_BYPOSITION);
    EXPECT_STREQ("Repair DAT files...", text);
    EXPECT_EQ(static_cast<UINT>(IDM_REPAIR_DAT), GetMenuItemID(menu, count - 1));
}

// Counted from its start until it has ended: a client that goes meanwhile
// leaves the program running.
TEST_F(Setup, ARepairJobCountsWhileItRuns) {
    SendMessageA(dialog_, WM_COMMAND, IDC_REPAIR, 0);
    EXPECT_EQ(1, g_repairJobs);
    EXPECT_EQ(kRepairWarning, AnswerBox("Warning", IDNO));
    EXPECT_TRUE(PollUntil(5000, [] { return g_repairJobs == 0; }));
}

// A client whose window is late: asked after each (shortened) minute, Yes
// waiting a whole one on, at idle; No leaves it running, and the next GO
// starts no second copy but waits for this one again, taking a window that
// came while the question was open.
TEST(Launch, AClientWithoutItsWindowIsAskedAboutAtIdleAndStartedOnce) {
    ConfigureStandin("a", 4500);
    const std::string exe = StandinExe();
    ASSERT_LT(exe.size(), sizeof g_clientPath);
    std::memcpy(g_clientPath, exe.c_str(), exe.size() + 1);
    std::vector<std::string> asked;
    DWORD at[2] = {}; // the Yes to the first question, the second question
    double cpu[2] = {};
    auto answer = [&](bool holdForWindow) {
        HWND box = FindWindowA("#32770", "Tidewatch");
        if (!box || !IsWindowVisible(box) || (holdForWindow && !FindWindowA(kClientClass, nullptr)))
            return false;
        asked.push_back(TextOf(box, 0xFFFF));
        if (asked.size() <= 2) {
            at[asked.size() - 1] = GetTickCount();
            cpu[asked.size() - 1] = CpuMs(GetCurrentProcessId());
        }
        PostMessageA(box, WM_COMMAND, asked.size() == 1 ? IDYES : IDNO, 0);
        return asked.size() != 1;
    };
    bool launched = true;
    WhileModal([&] { return answer(false); }, [&] { launched = LaunchClient(1000); });
    EXPECT_FALSE(launched);
    EXPECT_GE(at[1] - at[0], 1000u) << "asked again before a whole time had passed";
    const double share = (cpu[1] - cpu[0]) * 100 / (at[1] - at[0]);
    std::printf("CPU while waiting for a running client's window: %.1f %% of a core\n", share);
    EXPECT_LT(share, 15.0);

    WhileModal([&] { return answer(true); }, [&] { launched = LaunchClient(1000); });
    EXPECT_TRUE(launched) << "the window that came during the question was not taken";
    const std::string question = "Tidewatch started " + exe +
                                 ", but its window has not appeared yet.\r\nKeep waiting for it?";
    EXPECT_EQ(std::vector<std::string>(3, question), asked);
    const std::vector<std::string> log = StandinLog();
    EXPECT_EQ(1, std::count_if(log.begin(), log.end(), [](const std::string& line) {
                  return line.find(" START ") != line.npos;
              }));
    EndStandin();
    std::memset(g_clientPath, 0, sizeof g_clientPath); // as every GO finds it
}

} // namespace
