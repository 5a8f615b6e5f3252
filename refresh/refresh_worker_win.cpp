#include "refresh/refresher.h"

#include "app/launcher.h"
#include "refresh/walk.h"

#include <commctrl.h>

#include <vector>

HANDLE g_hWorker;

namespace {

// Thread id of g_hWorker, so a worker can tell whether it is the newest.
volatile LONG s_newestWorkerId;
// Superseded workers that may still be running (main thread only).
std::vector<HANDLE> s_olderWorkers;

struct WorkerContext {
    HWND client;
    HWND tray;
    LONG self;
};

WorkerContext& Ctx(void* context) {
    return *static_cast<WorkerContext*>(context);
}

HWND TreeWindow(TreeRef tree) {
    return reinterpret_cast<HWND>(tree);
}

const WalkOps kWindowsOps = {
    nullptr,
    [](void* c, unsigned command) {
        SendMessageA(Ctx(c).client, WM_COMMAND, static_cast<WPARAM>(command), 0);
    },
    [](void*, TreeRef tree) -> ItemRef {
        return static_cast<ItemRef>(SendMessageA(TreeWindow(tree), TVM_GETNEXTITEM, TVGN_ROOT, 0));
    },
    [](void*, TreeRef tree, ItemRef item) -> ItemRef {
        return static_cast<ItemRef>(
            SendMessageA(TreeWindow(tree), TVM_GETNEXTITEM, TVGN_NEXT, static_cast<LPARAM>(item)));
    },
    [](void*, TreeRef tree, ItemRef item) {
        SendMessageA(TreeWindow(tree), TVM_SELECTITEM, TVGN_CARET, static_cast<LPARAM>(item));
    },
    [](void* c) -> bool {
        return InterlockedCompareExchange(&s_newestWorkerId, 0, 0) == Ctx(c).self;
    },
    [](void* c) { PauseBetweenItems(Ctx(c).tray); },
};

// A superseded worker wakes, sees it is no longer the newest and ends; one
// that already ended is forgotten.
void WakeOlderWorkers() {
    std::vector<HANDLE> running;
    for (HANDLE worker : s_olderWorkers) {
        if (WaitForSingleObject(worker, 0) == WAIT_OBJECT_0) {
            CloseHandle(worker);
        } else {
            ResumeThread(worker);
            running.push_back(worker);
        }
    }
    s_olderWorkers.swap(running);
}

} // namespace

void StartRefreshWorker(HWND trayWindow) {
    DWORD id = 0;
    // Created suspended so that it is the newest before it runs a single step.
    HANDLE worker = CreateThread(nullptr, 0, RefreshWorker, trayWindow, CREATE_SUSPENDED, &id);
    if (worker == nullptr)
        return;
    if (g_hWorker != nullptr)
        s_olderWorkers.push_back(g_hWorker);
    g_hWorker = worker;
    InterlockedExchange(&s_newestWorkerId, static_cast<LONG>(id));
    ResumeThread(worker);
    WakeOlderWorkers();
}

void ResumeWorkers() {
    if (g_hWorker != nullptr)
        ResumeThread(g_hWorker);
    // An older worker that suspended itself just as it was superseded.
    WakeOlderWorkers();
}

BOOL CALLBACK CollectTreeViews(HWND window, LPARAM lParam) {
    char className[256] = {0};
    GetClassNameA(window, className, sizeof className);
    if (IsTreeViewClass(className))
        AddTreeView(*reinterpret_cast<TreeTable*>(lParam), reinterpret_cast<TreeRef>(window));
    return TRUE;
}

void PauseBetweenItems(HWND trayWindow) {
    std::uint32_t delay = ItemDelayMs(g_itemDelaySeconds);
    if (delay == 0)
        return;
    SetTimer(trayWindow, TIMER_ITEM, delay, nullptr);
    // Only ever the calling worker: no worker suspends another.
    SuspendThread(GetCurrentThread());
}

DWORD WINAPI RefreshWorker(LPVOID trayWindow) {
    HWND client = FindWindowA("Kazaa", nullptr);
    g_hClient = client;
    if (client == nullptr)
        ExitTidewatch();

    // Filled afresh: trees the client created since the last refresh are
    // found, and overlapping workers never share a table.
    TreeTable table = {};
    EnumChildWindows(client, CollectTreeViews, reinterpret_cast<LPARAM>(&table));

    WorkerContext context = {client, static_cast<HWND>(trayWindow),
                             static_cast<LONG>(GetCurrentThreadId())};
    WalkOps ops = kWindowsOps;
    ops.context = &context;
    WalkTreeViews(table, ops);
    return 0;
}
