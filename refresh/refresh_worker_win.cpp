#include "refresh/refresher.h"

#include "refresh/settings.h"
#include "refresh/walk.h"

#include <commctrl.h>

HANDLE g_hWorker;

namespace {

// How long a message to the client may take; a client that does not answer
// ends the walk.
constexpr UINT kClientTimeoutMs = 10000;

struct WorkerContext {
    HWND client;
    HWND tray;
};

// A message to the client or one of its tree views. False when the client
// did not answer in time; a window that has gone answers 0.
bool Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam, ItemRef* result = nullptr) {
    DWORD_PTR answer = 0;
    const bool answered =
        SendMessageTimeoutA(window, message, wParam, lParam, SMTO_NORMAL | SMTO_ABORTIFHUNG,
                            kClientTimeoutMs, &answer) ||
        !IsWindow(window);
    if (result)
        *result = answered ? static_cast<ItemRef>(answer) : 0;
    return answered;
}

// Arms timer 2 and suspends this worker until the tray window resumes it;
// no pause without an item delay.
void PauseBetweenItems(HWND trayWindow) {
    const std::uint32_t delay = ItemDelayMs(g_itemDelaySeconds);
    if (delay == 0)
        return;
    SetTimer(trayWindow, TIMER_ITEM, delay, nullptr);
    SuspendThread(GetCurrentThread());
}

HWND Tree(TreeRef tree) {
    return reinterpret_cast<HWND>(tree);
}

const WalkOps kWindowsOps = {
    nullptr,
    [](void* c, unsigned command) {
        return Send(static_cast<WorkerContext*>(c)->client, WM_COMMAND, command, 0);
    },
    [](void*, TreeRef tree, ItemRef* root) {
        return Send(Tree(tree), TVM_GETNEXTITEM, TVGN_ROOT, 0, root);
    },
    [](void*, TreeRef tree, ItemRef item, ItemRef* next) {
        return Send(Tree(tree), TVM_GETNEXTITEM, TVGN_NEXT, static_cast<LPARAM>(item), next);
    },
    [](void*, TreeRef tree, ItemRef item) {
        return Send(Tree(tree), TVM_SELECTITEM, TVGN_CARET, static_cast<LPARAM>(item));
    },
    [](void* c) { PauseBetweenItems(static_cast<WorkerContext*>(c)->tray); },
};

BOOL CALLBACK CollectTreeViews(HWND window, LPARAM table) {
    char className[256] = {0};
    GetClassNameA(window, className, sizeof className);
    if (IsTreeViewClass(className))
        AddTreeView(*reinterpret_cast<TreeTable*>(table), reinterpret_cast<TreeRef>(window));
    return TRUE;
}

DWORD WINAPI RefreshWorker(LPVOID trayWindow) {
    HWND client = FindWindowA(kClientClass, nullptr);
    g_hClient = client;
    if (client == nullptr) {
        ClientGone(static_cast<HWND>(trayWindow));
        return 0;
    }

    // Filled afresh: trees the client created since the last refresh are found.
    TreeTable table = {};
    EnumChildWindows(client, CollectTreeViews, reinterpret_cast<LPARAM>(&table));

    WorkerContext context = {client, static_cast<HWND>(trayWindow)};
    WalkOps ops = kWindowsOps;
    ops.context = &context;
    WalkTreeViews(table, ops);
    return 0;
}

} // namespace

void StartRefreshWorker(HWND trayWindow) {
    // One walk at a time, never cut short: one that is still running (paused,
    // or waiting for the client to answer) holds back every period until the
    // first one after it has ended.
    if (g_hWorker != nullptr) {
        if (WaitForSingleObject(g_hWorker, 0) != WAIT_OBJECT_0)
            return;
        CloseHandle(g_hWorker);
    }
    g_hWorker = CreateThread(nullptr, 0, RefreshWorker, trayWindow, 0, nullptr);
}

void ResumeWorker() {
    if (g_hWorker != nullptr)
        ResumeThread(g_hWorker);
}
