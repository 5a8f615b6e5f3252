// What the walk does where timing makes it hard to reach under Wine: a worker
// superseded before its first pause, and a corrupt table; and the interval
// arithmetic. (The message order itself is checked against a real tree view.)
#include "refresh/walk.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace {

// Trees are numbered from 1 and hold `items[tree - 1]` top-level items,
// numbered from 1 as well (item ref = tree * 100 + item).
struct FakeClient {
    std::vector<int> items;
    std::vector<std::string> log;
    bool newest = true; // what the worker hears when it asks

    static std::string Label(ItemRef item) {
        return std::to_string(item / 100) + ":" + std::to_string(item % 100);
    }
};

FakeClient& Self(void* context) {
    return *static_cast<FakeClient*>(context);
}

const WalkOps kOps = {
    nullptr,
    [](void* c, unsigned command) { Self(c).log.push_back("cmd " + std::to_string(command)); },
    [](void* c, TreeRef tree) -> ItemRef {
        Self(c).log.push_back("root " + std::to_string(tree));
        return Self(c).items.at(tree - 1) > 0 ? tree * 100 + 1 : 0;
    },
    [](void* c, TreeRef tree, ItemRef item) -> ItemRef {
        Self(c).log.push_back("next " + FakeClient::Label(item));
        return static_cast<int>(item % 100) < Self(c).items.at(tree - 1) ? item + 1 : 0;
    },
    [](void* c, TreeRef, ItemRef item) {
        Self(c).log.push_back("select " + FakeClient::Label(item));
    },
    [](void* c) -> bool { return Self(c).newest; },
    [](void* c) { Self(c).log.push_back("pause"); },
};

bool Walk(FakeClient& client, int count) {
    TreeTable table{};
    for (std::size_t i = 0; i < client.items.size(); ++i)
        AddTreeView(table, i + 1);
    table.count = count;
    WalkOps ops = kOps;
    ops.context = &client;
    return WalkTreeViews(table, ops);
}

TEST(SupersededWorker, StopsAtItsFirstPausePointWithoutPausing) {
    FakeClient client;
    client.items = {2, 1};
    client.newest = false;
    EXPECT_FALSE(Walk(client, 2));
    EXPECT_EQ(
        (std::vector<std::string>{"cmd 32880", "root 1", "select 1:1", "cmd 32880", "cmd 32986"}),
        client.log);
}

TEST(TreeTableFill, WalkNeverReadsPastFiveEvenWhenCountIsCorrupt) {
    FakeClient client;
    client.items = {0, 0, 0, 0, 0};
    Walk(client, 9);
    EXPECT_EQ(10u, client.log.size()) << "five empty trees: a command and a root each";
}

TEST(TreeViewClass, MatchesTheExactNameOnly) {
    EXPECT_TRUE(IsTreeViewClass("SysTreeView32"));
    for (const char* other :
         {"systreeview32", "SysTreeView3", "SysTreeView32X", "", static_cast<const char*>(nullptr)})
        EXPECT_FALSE(IsTreeViewClass(other)) << (other ? other : "null");
}

TEST(Intervals, ScaledWithoutOverflowClampedAndDisabledWhenNotPositive) {
    const std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
    const std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
    const struct {
        std::int32_t value;
        std::uint32_t refreshMs, itemMs;
    } cases[] = {
        {1, 60000u, 1000u},
        {3, 180000u, 3000u},
        {35791, 35791u * 60000u, 35791000u}, // the last minute count that fits
        {35792, 0x7FFFFFFFu, 35792000u},
        {71583, 0x7FFFFFFFu, 71583000u},     // minutes that wrap to a small number in 32 bits
        {2147483, 0x7FFFFFFFu, 2147483000u}, // the last second count that fits
        {2147484, 0x7FFFFFFFu, 0x7FFFFFFFu},
        {4294968, 0x7FFFFFFFu, 0x7FFFFFFFu}, // seconds that wrap to 704 ms in 32 bits
        {kMax, 0x7FFFFFFFu, 0x7FFFFFFFu},
        {0, 0u, 0u},
        {-1, 0u, 0u},
        {kMin, 0u, 0u},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.refreshMs, RefreshIntervalMs(c.value)) << c.value << " minutes";
        EXPECT_EQ(c.itemMs, ItemDelayMs(c.value)) << c.value << " seconds";
    }
}

} // namespace
