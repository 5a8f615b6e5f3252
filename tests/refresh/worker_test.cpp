// Refresh workers in process against the stand-in client: what reaches the
// client, where the walk pauses, and workers that overlap. Timer expiries
// are sent by the test; the real timers run end to end.
#include "refresh/refresher.h"

#include <gtest/gtest.h>

#include "refresh/settings.h"
#include "tests/e2e/rig.h"

namespace {

using Events = std::vector<std::string>;

bool HasEnded(HANDLE thread) {
    return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
}

// Nothing but the worker itself suspends a worker.
bool IsPaused(HANDLE worker) {
    const DWORD previous = SuspendThread(worker);
    if (previous == static_cast<DWORD>(-1))
        return false;
    ResumeThread(worker);
    return previous > 0;
}

Events Walk(const char* tree, std::initializer_list<const char*> items) {
    Events walk = {"WM_COMMAND 32880"};
    for (const char* item : items) {
        walk.push_back(std::string("SELECT tree=") + tree + " item=" + item);
        if (walk.size() == 2)
            walk.push_back("WM_COMMAND 32880");
        walk.push_back("WM_COMMAND 32986");
    }
    return walk;
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
        ASSERT_TRUE(WaitStandinLog(" READY "));
        // The walk of both trees; the tree nested in a panel is found too.
        full_ = Walk("0", {"a1", "a2", "a3"});
        const Events second = Walk("1", {"b1", "b2"});
        full_.insert(full_.end(), second.begin(), second.end());
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
    Events full_;
};

HWND Worker::tray_;

TEST_F(Worker, WithoutItemDelayWalksEveryTreeAndNeverPauses) {
    g_itemDelaySeconds = 0;
    HANDLE worker = StartWorker();
    ASSERT_TRUE(PollUntil(10000, [&] { return HasEnded(worker); }));
    EXPECT_EQ(full_, StandinEvents());
    EXPECT_FALSE(KillTimer(tray_, TIMER_ITEM)) << "timer 2 was armed";
}

TEST_F(Worker, PausesAfterTheFirstItemAndBeforeEachLaterCommandUntilTimer2) {
    g_itemDelaySeconds = 1000; // the pause ends only when the test says so
    HANDLE worker = StartWorker();
    // Where the walk stands at each pause.
    const std::size_t pauses[] = {4, 5, 7, 12, 13};
    for (std::size_t at : pauses) {
        ASSERT_TRUE(PollUntil(10000, [&] { return IsPaused(worker) || HasEnded(worker); }));
        ASSERT_FALSE(HasEnded(worker)) << "ended before the pause at " << at;
        EXPECT_EQ(Events(full_.begin(), full_.begin() + at), StandinEvents());
        EXPECT_TRUE(KillTimer(tray_, TIMER_ITEM)) << "the pause armed no timer 2";
        SendMessageA(tray_, WM_TIMER, TIMER_ITEM, 0);
    }
    ASSERT_TRUE(PollUntil(10000, [&] { return HasEnded(worker); }));
    EXPECT_EQ(full_, StandinEvents());
}

TEST_F(Worker, APausedWorkerSupersededEndsAndTheNewOneWalksFromTheStart) {
    g_itemDelaySeconds = 1000;
    HANDLE older = StartWorker();
    for (int pause = 0; pause < 2; ++pause) {
        ASSERT_TRUE(PollUntil(10000, [&] { return IsPaused(older); }));
        if (pause == 0)
            SendMessageA(tray_, WM_TIMER, TIMER_ITEM, 0);
    }
    HANDLE newer = StartWorker();
    ASSERT_NE(older, newer);
    ASSERT_TRUE(PollUntil(10000, [&] { return HasEnded(older); })) << "the older worker lives on";
    ASSERT_TRUE(PollUntil(10000, [&] { return IsPaused(newer); }));
    Events expected(full_.begin(), full_.begin() + 5);
    expected.insert(expected.end(), full_.begin(), full_.begin() + 4);
    EXPECT_EQ(expected, StandinEvents());
}

// A client that stops answering keeps at most one worker waiting, for at
// most its time-out, and gets one whole walk once it answers again.
TEST_F(Worker, AHungClientHoldsOneWorkerAndGetsOneWholeWalkAfterwards) {
    g_itemDelaySeconds = 0;
    ConfigureStandin("a1,a2/child,a3;>b1,b2", 0, "32986:12000");
    standin_.reset(new Program(StandinExe()));
    ASSERT_TRUE(WaitStandinLog(" READY "));
    int before = 0, threads = 0;
    CpuMs(GetCurrentProcessId(), &before);
    HANDLE hung = StartWorker();
    ASSERT_TRUE(WaitStandinLog(" HANG "));
    for (int period = 0; period < 3; ++period) {
        EXPECT_EQ(hung, StartWorker()) << "a second worker while the first waits";
        CpuMs(GetCurrentProcessId(), &threads);
        EXPECT_LE(threads - before, 2) << "worker threads";
    }
    EXPECT_TRUE(PollUntil(11000, [&] { return HasEnded(hung); })) << "still waiting";
    const std::size_t hangAt = StandinEvents().size();
    DWORD_PTR ignored;
    HWND client = FindWindowA(kClientClass, nullptr);
    ASSERT_TRUE(SendMessageTimeoutA(client, WM_NULL, 0, 0, SMTO_NORMAL, 20000, &ignored));
    HANDLE worker = StartWorker();
    ASSERT_TRUE(PollUntil(10000, [&] { return HasEnded(worker); }));
    Events after = StandinEvents();
    after.erase(after.begin(), after.begin() + hangAt);
    Events whole = full_;
    whole.erase(whole.begin() + 1); // a1, selected before the hang, is no change
    EXPECT_EQ(whole, after);
}

} // namespace
