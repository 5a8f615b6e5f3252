#include "refresh/walk.h"

#include <cstring>

bool AddTreeView(TreeTable& table, TreeRef tree) {
    if (table.count < 0 || table.count >= MAX_TREE_VIEWS)
        return false;
    table.trees[table.count++] = tree;
    return true;
}

bool IsTreeViewClass(const char* className) {
    return className != nullptr && std::strcmp(className, "SysTreeView32") == 0;
}

namespace {

// A pause point: an older worker stops here rather than pausing, and also
// when it learns after waking that it has been superseded.
bool PausePoint(const WalkOps& ops) {
    if (!ops.isNewest(ops.context))
        return false;
    ops.pause(ops.context);
    return ops.isNewest(ops.context);
}

std::uint32_t ScaledInterval(std::int32_t value, std::int64_t factor) {
    if (value <= 0)
        return 0;
    std::int64_t ms = static_cast<std::int64_t>(value) * factor;
    if (ms > static_cast<std::int64_t>(MAX_TIMER_INTERVAL_MS))
        return MAX_TIMER_INTERVAL_MS;
    return static_cast<std::uint32_t>(ms);
}

} // namespace

bool WalkTreeViews(const TreeTable& table, const WalkOps& ops) {
    for (int i = 0; i < table.count && i < MAX_TREE_VIEWS; ++i) {
        TreeRef tree = table.trees[i];
        ops.sendCommand(ops.context, CLIENT_CMD_VIEW);
        ItemRef item = ops.rootItem(ops.context, tree);
        if (item == 0)
            continue;
        ops.selectItem(ops.context, tree, item);
        ops.sendCommand(ops.context, CLIENT_CMD_VIEW);
        ops.sendCommand(ops.context, CLIENT_CMD_ITEM);
        if (!PausePoint(ops))
            return false;
        while ((item = ops.nextItem(ops.context, tree, item)) != 0) {
            ops.selectItem(ops.context, tree, item);
            if (!PausePoint(ops))
                return false;
            ops.sendCommand(ops.context, CLIENT_CMD_ITEM);
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
