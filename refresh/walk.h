// The order in which one refresh visits the client's tree views, and the
// timer arithmetic. Portable (no windows.h) so the exact message order can be
// checked against a fake client.
#pragma once

#include <cstdint>

// Menu commands the client accepts as WM_COMMAND.
constexpr unsigned CLIENT_CMD_VIEW = 32880;
constexpr unsigned CLIENT_CMD_ITEM = 32986;

// At most this many tree views are walked by one refresh.
constexpr int kMaxTreeViews = 5;

// The largest interval the platform's timers accept.
constexpr std::uint32_t kMaxTimerIntervalMs = 0x7FFFFFFF;

typedef std::uintptr_t TreeRef; // a tree-view window
typedef std::uintptr_t ItemRef; // a tree item; 0 means "none"

// The tree views one worker found, in enumeration order.
struct TreeTable {
    TreeRef trees[kMaxTreeViews];
    int count;
};

// Appends `tree` unless the table is full; returns whether it was kept.
bool AddTreeView(TreeTable& table, TreeRef tree);

// True only for the exact, case-sensitive class name "SysTreeView32".
bool IsTreeViewClass(const char* className);

// What the walk needs from the client. Every call is synchronous and returns
// false when the client did not answer in time (the walk then ends at once).
struct WalkOps {
    void* context;
    bool (*sendCommand)(void* context, unsigned command);
    bool (*rootItem)(void* context, TreeRef tree, ItemRef* root);
    bool (*nextItem)(void* context, TreeRef tree, ItemRef item, ItemRef* next);
    bool (*selectItem)(void* context, TreeRef tree, ItemRef item);
    // Waits the item delay (returns at once when there is none).
    void (*pause)(void* context);
};

// Per tree: CLIENT_CMD_VIEW; the root selected; CLIENT_CMD_VIEW; CLIENT_CMD_ITEM;
// pause; then for every further top-level item: selected, pause,
// CLIENT_CMD_ITEM. A tree without items gets the first command only.
// Returns true when the walk ran to its end, false when it stopped because
// the client did not answer.
bool WalkTreeViews(const TreeTable& table, const WalkOps& ops);

// Timer 1 interval for a refresh delay in minutes; 0 means disabled (a blank
// or zero field, or a negative value from the parser's wrap).
std::uint32_t RefreshIntervalMs(std::int32_t minutes);

// Timer 2 interval for an item delay in seconds; 0 means no pause.
std::uint32_t ItemDelayMs(std::int32_t seconds);
