// The order of one walk, its pauses, and the timer arithmetic.
#include "refresh/walk.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

namespace {

// Tree n (from 1) holds items[n - 1] top-level items; item refs are n * 100 + i.
struct FakeClient {
    std::vector<int> items;
    std::vector<std::string> log;
    std::size_t answers = 1000; // messages the client answers
    std::size_t sent = 0;
    bool Log(const std::string& what) {
        log.push_back(what);
        return ++sent <= answers;
    }
};

FakeClient& Self(void* context) {
    return *static_cast<FakeClient*>(context);
}

std::string Item(ItemRef item) {
    return std::to_string(item / 100) + ":" + std::to_string(item % 100);
}

const WalkOps kOps = {
    nullptr,
    [](void* c, unsigned command) { return Self(c).Log(std::to_string(command)); },
    [](void* c, TreeRef tree, ItemRef* root) {
        *root = Self(c).items.at(tree - 1) > 0 ? tree * 100 + 1 : 0;
        return Self(c).Log("root " + std::to_string(tree));
    },
    [](void* c, TreeRef tree, ItemRef item, ItemRef* next) {
        *next = static_cast<int>(item % 100) < Self(c).items.at(tree - 1) ? item + 1 : 0;
        return Self(c).Log("next " + Item(item));
    },
    [](void* c, TreeRef, ItemRef item) { return Self(c).Log("select " + Item(item)); },
    [](void* c) { Self(c).log.push_back("pause"); }};

// The walk of the trees, and whether it ran to its end.
bool Walk(FakeClient& client) {
    TreeTable table{};
    for (std::size_t i = 0; i < client.items.size(); ++i)
        AddTreeView(table, i + 1);
    WalkOps ops = kOps;
    ops.context = &client;
    return WalkTreeViews(table, ops);
}

TEST(Walk, FirstItemThenPausesBeforeEachLaterCommandAndEmptyTreesSkipped) {
    FakeClient client{{3, 0, 1}, {}};
    EXPECT_TRUE(Walk(client));
    EXPECT_EQ((std::vector<std::string>{
                  "32880",    "root 1",     "select 1:1", "32880", "32986",    "pause",
                  "next 1:1", "select 1:2", "pause",      "32986", "next 1:2", "select 1:3",
                  "pause",    "32986",      "next 1:3",   "32880", "root 2",   "32880",
                  "root 3",   "select 3:1", "32880",      "32986", "pause",    "next 3:1"}),
              client.log);
}

// A client that does not answer stops the walk at once.
TEST(Walk, StopsWhenNotAnswered) {
    const struct {
        std::size_t answers, steps;
    } cases[] = {{0, 1}, {2, 3}, {4, 5}, {5, 7}, {8, 11}};
    for (const auto& c : cases) {
        FakeClient client{{2, 1}, {}, c.answers};
        EXPECT_FALSE(Walk(client));
        EXPECT_EQ(c.steps, client.log.size()) << c.answers;
    }
}

TEST(TreeTable, HoldsFiveTreeViewsOfTheExactClassName) {
    FakeClient client{{0, 0, 0, 0, 0, 0}, {}};
    Walk(client);
    EXPECT_EQ(10u, client.log.size()) << "five trees: a command and a root each";
    EXPECT_TRUE(IsTreeViewClass("SysTreeView32"));
    for (const char* other : {"systreeview32", "SysTreeView3", "SysTreeView32X", ""})
        EXPECT_FALSE(IsTreeViewClass(other)) << other;
}

TEST(Intervals, ScaledWithoutOverflowClampedAndDisabledWhenNotPositive) {
    const std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
    const struct {
        std::int32_t value;
        std::uint32_t refreshMs, itemMs;
    } cases[] = {{1, 60000u, 1000u},
                 {35791, 35791u * 60000u, 35791000u},
                 {35792, 0x7FFFFFFFu, 35792000u},
                 {2147484, 0x7FFFFFFFu, 0x7FFFFFFFu},
                 {4294968, 0x7FFFFFFFu, 0x7FFFFFFFu},
                 {0, 0u, 0u},
                 {-1, 0u, 0u},
                 {kMin, 0u, 0u}};
    for (const auto& c : cases) {
        EXPECT_EQ(c.refreshMs, RefreshIntervalMs(c.value)) << c.value << " minutes";
        EXPECT_EQ(c.itemMs, ItemDelayMs(c.value)) << c.value << " seconds";
    }
}

} // namespace
