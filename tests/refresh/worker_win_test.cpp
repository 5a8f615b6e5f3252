// The refresh worker against an in-process fake client: exact message
// sequences, pauses, tree-view discovery and overlapping workers. Timer
// expiries are driven by the test (WM_TIMER sent to the tray window) except
// where the real item timer is measured.
#include "tests/refresh/fake_client_win.h"

#include "app/launcher.h"
#include "refresh/refresher.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

class Worker : public ::testing::Test {
  protected:
    void SetUp() override {
        g_refreshMinutes = 60;     // timer 1 never fires by itself here
        g_itemDelaySeconds = 1000; // pauses end only when the test says so
        client = std::make_unique<FakeClient>();
        ASSERT_NE(nullptr, tray);
        KillTimer(tray, TIMER_ITEM); // left armed by an earlier walk
    }

    // One tray window for all: Wine takes two seconds to add an icon after
    // the window of an earlier one has gone.
    static void SetUpTestSuite() {
        g_refreshMinutes = 60;
        tray = CreateTrayWindow();
    }
    static void TearDownTestSuite() { DestroyWindow(tray); }

    void TearDown() override {
        // Let every worker run out before its windows go away.
        g_itemDelaySeconds = 0;
        if (g_hWorker != nullptr) {
            SendMessageA(tray, WM_TIMER, TIMER_ITEM, 0);
            EXPECT_TRUE(PumpUntil([] { return HasEnded(g_hWorker); }));
        }
        client.reset();
    }

    // Timer 1 expires: a new worker starts.
    HANDLE StartWorker() {
        HANDLE before = g_hWorker;
        SendMessageA(tray, WM_TIMER, TIMER_REFRESH, 0);
        EXPECT_NE(before, g_hWorker) << "timer 1 started no worker";
        return g_hWorker;
    }

    // Timer 2 expires: the pause ends. Marked in the record.
    void EndPause() {
        g_sent.push_back({GetTickCount(), "resume"});
        SendMessageA(tray, WM_TIMER, TIMER_ITEM, 0);
    }

    std::unique_ptr<FakeClient> client;
    static HWND tray;
};

HWND Worker::tray;

TEST_F(Worker, FourItemTreeSendsTheExactSequenceWithPausesInPlace) {
    client->AddTree("T1", {"a1", "a2", "a3", "a4"}, {"a2"});
    HANDLE worker = StartWorker();
    std::vector<std::string> expected = {"cmd 32880", "root T1", "select T1:a1", "cmd 32880",
                                         "cmd 32986"};
    const std::vector<std::vector<std::string>> afterEachPause = {
        {"resume", "next T1:a1", "select T1:a2"},
        {"resume", "cmd 32986", "next T1:a2", "select T1:a3"},
        {"resume", "cmd 32986", "next T1:a3", "select T1:a4"},
        {"resume", "cmd 32986", "next T1:a4"},
    };
    for (const auto& step : afterEachPause) {
        ASSERT_TRUE(WaitPausedOrEnded(worker));
        ASSERT_FALSE(HasEnded(worker)) << "ended early";
        ExpectSequence(expected, SentTexts());
        EndPause();
        expected.insert(expected.end(), step.begin(), step.end());
    }
    ASSERT_TRUE(PumpUntil([&] { return HasEnded(worker); }));
    ExpectSequence(expected, SentTexts());
    // The walk left the last top-level item selected (a child would be wrong).
    HTREEITEM caret =
        TreeView_GetSelection(FindWindowExA(client->window(), nullptr, WC_TREEVIEWA, nullptr));
    EXPECT_EQ("a4", client->ItemName(reinterpret_cast<LPARAM>(caret)));
    EXPECT_TRUE(KillTimer(tray, TIMER_ITEM)) << "the pause armed timer 2";
}

TEST_F(Worker, ItemTimerWithNoSuspendedWorkerChangesNothing) {
    client->AddTree("T1", {"a1"});
    HANDLE worker = StartWorker();
    ASSERT_TRUE(WaitPausedOrEnded(worker));
    EndPause();
    ASSERT_TRUE(PumpUntil([&] { return HasEnded(worker); }));
    std::size_t before = g_sent.size();
    SendMessageA(tray, WM_TIMER, TIMER_ITEM, 0);
    SendMessageA(tray, WM_TIMER, TIMER_ITEM, 0);
    PumpFor(100);
    EXPECT_EQ(before, g_sent.size());
    EXPECT_TRUE(IsWindow(tray));
}

TEST_F(Worker, ZeroItemDelayNeverArmsTimer2NorSuspends) {
    g_itemDelaySeconds = 0;
    client->AddTree("T1", {"a1", "a2", "a3"});
    HANDLE worker = StartWorker();
    // Nobody resumes it: it must run to its end on its own.
    ASSERT_TRUE(PumpUntil([&] { return HasEnded(worker); }, 5000));
    ExpectSequence({"cmd 32880", "root T1", "select T1:a1", "cmd 32880", "cmd 32986", "next T1:a1",
                    "select T1:a2", "cmd 32986", "next T1:a2", "select T1:a3", "cmd 32986",
                    "next T1:a3"},
                   SentTexts());
    EXPECT_FALSE(KillTimer(tray, TIMER_ITEM)) << "timer 2 was armed";
}

TEST_F(Worker, RealItemTimerPausesForTheItemDelay) {
    g_itemDelaySeconds = 1;
    WatchTrayTimers(tray);
    client->AddTree("T1", {"a1", "a2", "a3"});
    HANDLE worker = StartWorker();
    bool ended = PumpUntil([&] { return HasEnded(worker); }, 15000);
    UnwatchTrayTimers(tray);
    ASSERT_TRUE(ended);
    ExpectSequence({"cmd 32880", "root T1", "select T1:a1", "cmd 32880", "cmd 32986", "timer 2",
                    "next T1:a1", "select T1:a2", "timer 2", "cmd 32986", "next T1:a2",
                    "select T1:a3", "timer 2", "cmd 32986", "next T1:a3"},
                   SentTexts());
    // Each pause runs from the message before "timer 2" to the one after it.
    int pauses = 0;
    for (std::size_t i = 1; i + 1 < g_sent.size(); ++i) {
        if (g_sent[i].what != "timer 2")
            continue;
        ++pauses;
        DWORD observed = g_sent[i + 1].time - g_sent[i - 1].time;
        EXPECT_GE(observed, 900u) << "pause " << pauses;
        EXPECT_LE(observed, 2500u) << "pause " << pauses;
    }
    EXPECT_EQ(3, pauses);
}

TEST_F(Worker, EmptyTreeGetsOneViewCommandOnly) {
    client->AddTree("T1", {});
    HANDLE worker = StartWorker();
    ASSERT_TRUE(PumpUntil([&] { return HasEnded(worker); }, 5000)) << "paused on an empty tree";
    ExpectSequence({"cmd 32880", "root T1"}, SentTexts());
}

TEST_F(Worker, OnlyTheFirstFiveTreeViewsAreWalkedNestedOnesIncluded) {
    g_itemDelaySeconds = 0;
    client->AddTree("T1", {"a"});
    HWND outer = client->AddContainer();
    HWND inner = client->AddContainer(outer);
    client->AddTree("T2", {"b"}, {}, inner); // two levels down
    client->AddLookalike();
    client->AddTree("T3", {"c"});
    client->AddTree("T4", {"d"});
    client->AddTree("T5", {"e"});
    client->AddTree("T6", {"f"});
    HANDLE worker = StartWorker();
    ASSERT_TRUE(PumpUntil([&] { return HasEnded(worker); }, 5000));
    std::vector<std::string> expected;
    for (const char* tree : {"T1:a", "T2:b", "T3:c", "T4:d", "T5:e"}) {
        std::string name(tree, 2);
        expected.insert(expected.end(), {"cmd 32880", "root " + name, "select " + std::string(tree),
                                         "cmd 32880", "cmd 32986", "next " + std::string(tree)});
    }
    ExpectSequence(expected, SentTexts());
}

TEST_F(Worker, EachRefreshFindsTheTreesAfreshIncludingNewOnes) {
    g_itemDelaySeconds = 0;
    client->AddTree("A", {"a"});
    client->AddTree("B", {"b"});
    HANDLE first = StartWorker();
    ASSERT_TRUE(PumpUntil([&] { return HasEnded(first); }, 5000));
    g_sent.clear();
    client->AddTree("C", {"c"});
    HANDLE second = StartWorker();
    ASSERT_TRUE(PumpUntil([&] { return HasEnded(second); }, 5000));
    std::vector<std::string> expected;
    for (std::string item : {"A:a", "B:b", "C:c"})
        expected.insert(expected.end(), {"cmd 32880", "root " + item.substr(0, 1), "select " + item,
                                         "cmd 32880", "cmd 32986", "next " + item});
    ExpectSequence(expected, SentTexts());
}

TEST_F(Worker, PausedWorkerSupersededByANewOneEndsAndTheNewOneWalks) {
    client->AddTree("T1", {"a1", "a2"});
    const std::vector<std::string> firstStep = {"cmd 32880", "root T1", "select T1:a1", "cmd 32880",
                                                "cmd 32986"};
    HANDLE older = StartWorker();
    ASSERT_TRUE(WaitPausedOrEnded(older));
    ASSERT_FALSE(HasEnded(older));
    g_sent.clear();

    HANDLE newer = StartWorker();
    ASSERT_NE(older, newer);
    ASSERT_TRUE(PumpUntil([&] { return HasEnded(older); }, 5000)) << "older worker still there";
    ASSERT_TRUE(WaitPausedOrEnded(newer));
    ASSERT_FALSE(HasEnded(newer));
    // The older worker sent nothing after it was superseded.
    ExpectSequence(firstStep, SentTexts());

    EndPause();
    ASSERT_TRUE(WaitPausedOrEnded(newer));
    EndPause();
    ASSERT_TRUE(PumpUntil([&] { return HasEnded(newer); }, 5000)) << "newer worker stuck";
    std::vector<std::string> expected = firstStep;
    expected.insert(expected.end(),
                    {"resume", "next T1:a1", "select T1:a2", "resume", "cmd 32986", "next T1:a2"});
    ExpectSequence(expected, SentTexts());
}

TEST_F(Worker, WorkerSupersededMidStepStopsAtItsNextPausePointNeverSuspending) {
    g_itemDelaySeconds = 0;
    client->AddTree("T1", {"a1", "a2", "a3"});
    client->AddTree("T2", {"b1"});
    HANDLE newer = nullptr;
    // While the first worker waits for its first selection to be handled,
    // timer 1 starts the next worker.
    client->onTreeMessage = [&](HWND, UINT message) {
        if (message == TVM_SELECTITEM && newer == nullptr) {
            SendMessageA(tray, WM_TIMER, TIMER_REFRESH, 0);
            newer = g_hWorker;
        }
    };
    HANDLE older = StartWorker();
    ASSERT_TRUE(PumpUntil([&] { return newer && HasEnded(older) && HasEnded(newer); }, 5000))
        << "a worker did not end";

    std::vector<std::string> log = SentTexts();
    const std::vector<std::string> olderBefore = {"cmd 32880", "root T1", "select T1:a1"};
    const std::vector<std::string> olderAfter = {"cmd 32880", "cmd 32986"};
    const std::vector<std::string> newerWalk = {
        "cmd 32880",    "root T1",   "select T1:a1", "cmd 32880",    "cmd 32986", "next T1:a1",
        "select T1:a2", "cmd 32986", "next T1:a2",   "select T1:a3", "cmd 32986", "next T1:a3",
        "cmd 32880",    "root T2",   "select T2:b1", "cmd 32880",    "cmd 32986", "next T2:b1"};
    ASSERT_GE(log.size(), olderBefore.size());
    ExpectSequence(olderBefore, {log.begin(), log.begin() + olderBefore.size()});
    std::vector<std::string> rest(log.begin() + olderBefore.size(), log.end());
    EXPECT_TRUE(IsInterleaving(olderAfter, newerWalk, rest))
        << "after the newer worker started, expected the older one's last two commands "
           "interleaved with the newer one's whole walk";
}

// No client window (none in this process, the desktop is locked for the test).
TEST(WorkerWithoutClient, EndsTheProgramWithExitCode0) {
    ASSERT_EQ(nullptr, FindWindowA("Kazaa", nullptr));
    EXPECT_EXIT(
        {
            g_refreshMinutes = 60;
            HWND tray = CreateTrayWindow();
            SendMessageA(tray, WM_TIMER, TIMER_REFRESH, 0);
            PumpFor(10000);
            std::exit(3);
        },
        ::testing::ExitedWithCode(0), "");
}

} // namespace
