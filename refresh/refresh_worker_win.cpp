#include "refresh/refresher.h"

#include "refresh/settings.h"
#include "refresh/walk.h"

#include <commctrl.h>

#include <vector>

HANDLE g_hWorker;

namespace {

// How long a message to the client may take; a client that does not answer
// ends the walk.
constexpr UINT kClientTimeoutMs = 10000;

// Thread id of g_hWorker, so a worker can tell whether it is the newest.
volatile LONG s_newestWorkerId;
// Superseded workers that may still be running (main thread only).
std::vector<HANDLE> s_olderWorkers;
// Held by the worker whose message the client is handling: only one worker
// ever waits for the client, and none starts while one does.
CRITICAL_SECTION s_sending;
const bool s_sendingReady = (InitializeCriticalSection(&s_sending), true);

struct WorkerContext {
    HWND client;
    HWND tray;
    LONG self;
};

bool IsNewest(void* context) {
    return InterlockedCompareExchange(&s_newestWorkerId, 0, 0) ==
           static_cast<WorkerContext*>(context)->self;
}

// A message to the client or one of its tree views, on behalf of the newest
// worker only. False when the client did not answer in time; a window that
// has gone answers 0.
bool Send(void* context, HWND window, UINT message, WPARAM wParam, LPARAM lParam,
          ItemRef* result = nullptr) {
    DWORD_PTR answer = 0;
    EnterCriticalSection(&s_sending);
    const bool newest = IsNewest(context);
    const bool answered =
        newest && (SendMessageTimeoutA(window, message, wParam, lParam,
                                       SMTO_NORMAL | SMTO_ABORTIFHUNG, kClientTimeoutMs, &answer) ||
                   !IsWindow(window));
    LeaveCriticalSection(&s_sending);
    if (result)
        *result = answered ? static_cast<ItemRef>(answer) : 0;
    return answered;
}

// Arms timer 2 and suspends this worker (never another) until the tray
// window resumes it; no pause without an item delay.
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
        return Send(c, static_cast<WorkerContext*>(c)->client, WM_COMMAND, command, 0);
    },
    [](void* c, TreeRef tree, ItemRef* root) {
        return Send(c, Tree(tree), TVM_GETNEXTITEM, TVGN_ROOT, 0, root);
    },
    [](void* c, TreeRef tree, ItemRef item, ItemRef* next) {
        return Send(c, Tree(tree), TVM_GETNEXTITEM, TVGN_NEXT, static_cast<LPARAM>(item), next);
    },
    [](void* c, TreeRef tree, ItemRef item) {
        return Send(c, Tree(tree), TVM_SELECTITEM, TVGN_CARET, static_cast<LPARAM>(item));
    },
    IsNewest,
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
    // A client that keeps a worker waiting gets no second one; the next
    // refresh tries again.
    if (!s_sendingReady || !TryEnterCriticalSection(&s_sending))
        return;
    LeaveCriticalSection(&s_sending);
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
