#include "refresh/walk.h"

#include <cstring>

bool AddTreeView(TreeTable& table, TreeRef tree) {
    if (table.count < 0 || table.count >= kMaxTreeViews)
        return false;
    table.trees[table.count++] = tree;
    return true;
}

bool IsTreeViewClass(const char* className) {
    return className != nullptr && std::strcmp(className, "SysTreeView32") == 0;
}

namespace {

std::uint32_t ScaledInterval(std::int32_t value, std::int64_t factor) {
    if (value <= 0)
        return 0;
    std::int64_t ms = static_cast<std::int64_t>(value) * factor;
    if (ms > static_cast<std::int64_t>(kMaxTimerIntervalMs))
        return kMaxTimerIntervalMs;
    return static_cast<std::uint32_t>(ms);
}

} // namespace

bool WalkTreeViews(const TreeTable& table, const WalkOps& ops) {
    void* const c = ops.context;
    for (int i = 0; i < table.count && i < kMaxTreeViews; ++i) {
        const TreeRef tree = table.trees[i];
        ItemRef item = 0;
        if (!ops.sendCommand(c, CLIENT_CMD_VIEW) || !ops.rootItem(c, tree, &item))
            return false;
        if (item == 0)
            continue;
        if (!ops.selectItem(c, tree, item) || !ops.sendCommand(c, CLIENT_CMD_VIEW) ||
            !ops.sendCommand(c, CLIENT_CMD_ITEM))
            return false;
        ops.pause(c);
        for (;;) {
            if (!ops.nextItem(c, tree, item, &item))
                return false;
            if (item == 0)
                break;
            if (!ops.selectItem(c, tree, item))
                return false;
            ops.pause(c);
            if (!ops.sendCommand(c, CLIENT_CMD_ITEM))
                return false;
        }
    }
    return true;
}

std::uint32_t RefreshIntervalMs(std::int32_t minutes) {
    return ScaledInterval(minutes, 60000);
}

std::uint32_t ItemDelayMs(std::int32_t seconds) {
    return ScaledInterval(seconds, 1000);
}
