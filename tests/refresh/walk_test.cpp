// The walk's exact message order, checked against a fake client whose tree
// views are plain lists of top-level items.
#include "refresh/walk.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct FakeTree {
    std::string name;
    std::vector<std::string> items; // top-level items in order
};

struct FakeClient {
    std::vector<FakeTree> trees;
    std::vector<std::string> log;
    // isNewest answers, consumed in order; true once exhausted.
    std::vector<bool> newest;
    std::size_t newestAsked = 0;

    // Item refs: tree index * 100 + item index + 1.
    static TreeRef Tree(int t) { return static_cast<TreeRef>(1000 + t); }
    const FakeTree& Of(TreeRef tree) const { return trees.at(tree - 1000); }
    std::string Label(TreeRef tree, ItemRef item) const {
        return Of(tree).name + ":" + Of(tree).items.at(item % 100 - 1);
    }
    ItemRef Ref(TreeRef tree, int index) const {
        return static_cast<ItemRef>((tree - 1000) * 100 + index + 1);
    }
};

FakeClient& Self(void* context) {
    return *static_cast<FakeClient*>(context);
}

const WalkOps kOps = {
    nullptr,
    [](void* c, unsigned command) { Self(c).log.push_back("cmd " + std::to_string(command)); },
    [](void* c, TreeRef tree) -> ItemRef {
        FakeClient& f = Self(c);
        f.log.push_back("root " + f.Of(tree).name);
        return f.Of(tree).items.empty() ? 0 : f.Ref(tree, 0);
    },
    [](void* c, TreeRef tree, ItemRef item) -> ItemRef {
        FakeClient& f = Self(c);
        f.log.push_back("next " + f.Label(tree, item));
        int index = static_cast<int>(item % 100) - 1;
        if (index + 1 >= static_cast<int>(f.Of(tree).items.size()))
            return 0;
        return f.Ref(tree, index + 1);
    },
    [](void* c, TreeRef tree, ItemRef item) {
        FakeClient& f = Self(c);
        f.log.push_back("select " + f.Label(tree, item));
    },
    [](void* c) -> bool {
        FakeClient& f = Self(c);
        std::size_t i = f.newestAsked++;
        return i >= f.newest.size() || f.newest[i];
    },
    [](void* c) { Self(c).log.push_back("pause"); },
};

bool Walk(FakeClient& client) {
    TreeTable table{};
    for (std::size_t i = 0; i < client.trees.size(); ++i)
        AddTreeView(table, FakeClient::Tree(static_cast<int>(i)));
    WalkOps ops = kOps;
    ops.context = &client;
    return WalkTreeViews(table, ops);
}

std::string Dump(const std::vector<std::string>& lines) {
    std::ostringstream out;
    for (std::size_t i = 0; i < lines.size(); ++i)
        out << "  " << i << ": " << lines[i] << "\n";
    return out.str();
}

void ExpectSequence(const std::vector<std::string>& expected,
                    const std::vector<std::string>& actual) {
    std::size_t n = std::min(expected.size(), actual.size());
    for (std::size_t i = 0; i < n; ++i) {
        if (expected[i] != actual[i]) {
            ADD_FAILURE() << "at " << i << ": expected \"" << expected[i] << "\", got \""
                          << actual[i] << "\"\nexpected:\n"
                          << Dump(expected) << "actual:\n"
                          << Dump(actual);
            return;
        }
    }
    EXPECT_EQ(expected.size(), actual.size()) << "expected:\n"
                                              << Dump(expected) << "actual:\n"
                                              << Dump(actual);
}

// The full sequence for one tree of four top-level items.
const std::vector<std::string> kFourItems = {
    "cmd 32880",   "root A",      "select A:a1", "cmd 32880", "cmd 32986",   "pause", "next A:a1",
    "select A:a2", "pause",       "cmd 32986",   "next A:a2", "select A:a3", "pause", "cmd 32986",
    "next A:a3",   "select A:a4", "pause",       "cmd 32986", "next A:a4",
};

TEST(WalkOrder, FourItemsGetCommandsAndPausesInTheirExactPlaces) {
    FakeClient client;
    client.trees = {{"A", {"a1", "a2", "a3", "a4"}}};
    EXPECT_TRUE(Walk(client));
    ExpectSequence(kFourItems, client.log);
}

TEST(WalkOrder, EmptyTreeGetsOneViewCommandOnlyAndTheWalkMovesOn) {
    FakeClient client;
    client.trees = {{"E", {}}, {"B", {"b1", "b2"}}, {"F", {}}};
    EXPECT_TRUE(Walk(client));
    ExpectSequence({"cmd 32880", "root E", "cmd 32880", "root B", "select B:b1", "cmd 32880",
                    "cmd 32986", "pause", "next B:b1", "select B:b2", "pause", "cmd 32986",
                    "next B:b2", "cmd 32880", "root F"},
                   client.log);
}

TEST(SupersededWorker, StopsAtItsFirstPausePointWithoutPausing) {
    FakeClient client;
    client.trees = {{"A", {"a1", "a2"}}, {"B", {"b1"}}};
    client.newest = {false};
    EXPECT_FALSE(Walk(client));
    ExpectSequence({"cmd 32880", "root A", "select A:a1", "cmd 32880", "cmd 32986"}, client.log);
}

TEST(SupersededWorker, WokenAfterANewerWorkerStartedSendsNothingMore) {
    FakeClient client;
    client.trees = {{"A", {"a1", "a2", "a3"}}};
    // Newest before and after the first pause, newest before the second,
    // superseded while paused there.
    client.newest = {true, true, true, false};
    EXPECT_FALSE(Walk(client));
    ExpectSequence({"cmd 32880", "root A", "select A:a1", "cmd 32880", "cmd 32986", "pause",
                    "next A:a1", "select A:a2", "pause"},
                   client.log);
}

TEST(SupersededWorker, NewestWorkerAsksAtEveryPausePoint) {
    FakeClient client;
    client.trees = {{"A", {"a1", "a2", "a3", "a4"}}};
    EXPECT_TRUE(Walk(client));
    // Four pause points, asked before and after each pause.
    EXPECT_EQ(8u, client.newestAsked);
}

TEST(TreeTableFill, KeepsTheFirstFiveInOrderAndDropsTheRest) {
    TreeTable table{};
    for (TreeRef t = 1; t <= 7; ++t)
        EXPECT_EQ(t <= 5, AddTreeView(table, t)) << "tree " << t;
    ASSERT_EQ(5, table.count);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(static_cast<TreeRef>(i + 1), table.trees[i]);
}

TEST(TreeTableFill, WalkNeverReadsPastFiveEvenWhenCountIsCorrupt) {
    FakeClient client;
    client.trees = {{"A", {}}, {"B", {}}, {"C", {}}, {"D", {}}, {"E", {}}};
    TreeTable table{};
    for (int i = 0; i < 5; ++i)
        AddTreeView(table, FakeClient::Tree(i));
    table.count = 9;
    WalkOps ops = kOps;
    ops.context = &client;
    WalkTreeViews(table, ops);
    EXPECT_EQ(10u, client.log.size()) << Dump(client.log);
}

TEST(TreeViewClass, MatchesTheExactNameOnly) {
    EXPECT_TRUE(IsTreeViewClass("SysTreeView32"));
    EXPECT_FALSE(IsTreeViewClass("systreeview32"));
    EXPECT_FALSE(IsTreeViewClass("SysTreeView32 "));
    EXPECT_FALSE(IsTreeViewClass("SysTreeView3"));
    EXPECT_FALSE(IsTreeViewClass("SysTreeView32X"));
    EXPECT_FALSE(IsTreeViewClass("SysListView32"));
    EXPECT_FALSE(IsTreeViewClass(""));
    EXPECT_FALSE(IsTreeViewClass(nullptr));
}

TEST(Intervals, RefreshMinutesScaleWithoutOverflowAndClampToTheTimerMaximum) {
    EXPECT_EQ(60000u, RefreshIntervalMs(1));
    EXPECT_EQ(120000u, RefreshIntervalMs(2));
    // 35791 minutes still fit; 35792 minutes exceed 0x7FFFFFFF ms.
    EXPECT_EQ(35791u * 60000u, RefreshIntervalMs(35791));
    EXPECT_EQ(0x7FFFFFFFu, RefreshIntervalMs(35792));
    // 71583 minutes wrap to a small number in 32-bit arithmetic.
    EXPECT_EQ(0x7FFFFFFFu, RefreshIntervalMs(71583));
    EXPECT_EQ(0x7FFFFFFFu, RefreshIntervalMs(std::numeric_limits<std::int32_t>::max()));
}

TEST(Intervals, ZeroOrNegativeRefreshMeansDisabled) {
    EXPECT_EQ(0u, RefreshIntervalMs(0));
    EXPECT_EQ(0u, RefreshIntervalMs(-1));
    EXPECT_EQ(0u, RefreshIntervalMs(std::numeric_limits<std::int32_t>::min()));
}

TEST(Intervals, ItemSecondsScaleWithoutOverflowAndClamp) {
    EXPECT_EQ(3000u, ItemDelayMs(3));
    EXPECT_EQ(2147483000u, ItemDelayMs(2147483));
    EXPECT_EQ(0x7FFFFFFFu, ItemDelayMs(2147484));
    // 4294968 seconds wrap to 704 ms in 32-bit arithmetic.
    EXPECT_EQ(0x7FFFFFFFu, ItemDelayMs(4294968));
    EXPECT_EQ(0x7FFFFFFFu, ItemDelayMs(std::numeric_limits<std::int32_t>::max()));
    EXPECT_EQ(0u, ItemDelayMs(0));
    EXPECT_EQ(0u, ItemDelayMs(-5));
}

} // namespace
