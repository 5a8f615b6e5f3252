// The refresh worker against an in-process fake client: exact message
// sequences, pauses, tree-view discovery and overlapping workers. Timer
// expiries are driven by the test (WM_TIMER sent to the tray window); the
// real timers are measured end to end.
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
        g_sent.push_back("resume");
        SendMessageA(tray, WM_TIMER, TIMER_ITEM, 0);
    }

    std::unique_ptr<FakeClient> client;
    static HWND tray;
};

HWND Worker::tray;

// The walk of a tree with a single item and no item delay.
void AppendOneItemWalk(std::vector<std::string>& walk, const std::string& tree,
                       const std::string& item) {
    const std::string label = tree + ":" + item;
    walk.insert(walk.end(), {"cmd 32880", "root " + tree, "select " + label, "cmd 32880",
                             "cmd 32986", "next " + label});
}

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
        EXPECT_EQ(expected, g_sent);
        EndPause();
        expected.insert(expected.end(), step.begin(), step.end());
    }
    ASSERT_TRUE(PumpUntil([&] { return HasEnded(worker); }));
    EXPECT_EQ(expected, g_sent);
    // The walk left the last top-level item selected (a child would be wrong).
    HTREEITEM caret =
        TreeView_GetSelection(FindWindowExA(client->window(), nullptr, WC_TREEVIEWA, nullptr));
    EXPECT_EQ("a4", client->ItemName(reinterpret_cast<LPARAM>(caret)));
    EXPECT_TRUE(KillTimer(tray, TIMER_ITEM)) << "the pause armed timer 2";
}

TEST_F(Worker, ZeroItemDelayNeverArmsTimer2NorSuspends) {
    g_itemDelaySeconds = 0;
    client->AddTree("T1", {"a1", "a2", "a3"});
    HANDLE worker = StartWorker();
    // Nobody resumes it: it must run to its end on its own.
    ASSERT_TRUE(PumpUntil([&] { return HasEnded(worker); }, 5000));
    EXPECT_EQ((std::vector<std::string>{"cmd 32880", "root T1", "select T1:a1", "cmd 32880",
                                        "cmd 32986", "next T1:a1", "select T1:a2", "cmd 32986",
                                        "next T1:a2", "select T1:a3", "cmd 32986", "next T1:a3"}),
              g_sent);
    EXPECT_FALSE(KillTimer(tray, TIMER_ITEM)) << "timer 2 was armed";
}

TEST_F(Worker, EmptyTreeGetsOneViewCommandOnlyAndTheWalkMovesOn) {
    g_itemDelaySeconds = 0;
    client->AddTree("T1", {});
    client->AddTree("T2", {"b"});
    HANDLE worker = StartWorker();
    ASSERT_TRUE(PumpUntil([&] { return HasEnded(worker); }, 5000));
    std::vector<std::string> expected = {"cmd 32880", "root T1"};
    AppendOneItemWalk(expected, "T2", "b");
    EXPECT_EQ(expected, g_sent);
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
    for (std::string tree : {"T1a", "T2b", "T3c", "T4d", "T5e"})
        AppendOneItemWalk(expected, tree.substr(0, 2), tree.substr(2));
    EXPECT_EQ(expected, g_sent);
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
    for (const char* tree : {"A", "B", "C"})
        AppendOneItemWalk(expected, tree, {static_cast<char>(tree[0] - 'A' + 'a')});
    EXPECT_EQ(expected, g_sent);
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
    EXPECT_EQ(firstStep, g_sent);

    EndPause();
    ASSERT_TRUE(WaitPausedOrEnded(newer));
    EndPause();
    ASSERT_TRUE(PumpUntil([&] { return HasEnded(newer); }, 5000)) << "newer worker stuck";
    std::vector<std::string> expected = firstStep;
    expected.insert(expected.end(),
                    {"resume", "next T1:a1", "select T1:a2", "resume", "cmd 32986", "next T1:a2"});
    EXPECT_EQ(expected, g_sent);
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

    const std::vector<std::string>& log = g_sent;
    const std::vector<std::string> olderBefore = {"cmd 32880", "root T1", "select T1:a1"};
    const std::vector<std::string> olderAfter = {"cmd 32880", "cmd 32986"};
    const std::vector<std::string> newerWalk = {
        "cmd 32880",    "root T1",   "select T1:a1", "cmd 32880",    "cmd 32986", "next T1:a1",
        "select T1:a2", "cmd 32986", "next T1:a2",   "select T1:a3", "cmd 32986", "next T1:a3",
        "cmd 32880",    "root T2",   "select T2:b1", "cmd 32880",    "cmd 32986", "next T2:b1"};
    ASSERT_GE(log.size(), olderBefore.size());
    EXPECT_EQ(olderBefore, std::vector<std::string>(log.begin(), log.begin() + olderBefore.size()));
    std::vector<std::string> rest(log.begin() + olderBefore.size(), log.end());
    EXPECT_TRUE(IsInterleaving(olderAfter, newerWalk, rest))
        << "after the newer worker started, expected the older one's last two commands "
           "interleaved with the newer one's whole walk";
}

} // namespace
