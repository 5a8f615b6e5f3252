#include "tests/refresh/fake_client_win.h"

#include "refresh/refresher.h"

#include <cstdio>

std::vector<std::string> g_sent;

namespace {

FakeClient* s_client;
std::map<HWND, WNDPROC> s_originalProcs;

void Record(const std::string& what) {
    g_sent.push_back(what);
}

std::string Hex(UINT_PTR value) {
    char text[32];
    std::snprintf(text, sizeof text, "%#lx", static_cast<unsigned long>(value));
    return text;
}

std::string Describe(HWND tree, UINT message, WPARAM wParam, LPARAM lParam) {
    const std::string name = s_client->TreeName(tree);
    if (message == TVM_GETNEXTITEM && wParam == TVGN_ROOT)
        return "root " + name;
    if (message == TVM_GETNEXTITEM && wParam == TVGN_NEXT)
        return "next " + name + ":" + s_client->ItemName(lParam);
    if (message == TVM_SELECTITEM && wParam == TVGN_CARET)
        return "select " + name + ":" + s_client->ItemName(lParam);
    return "tree " + name + " message " + Hex(message) + " " + Hex(wParam) + " " +
           s_client->ItemName(lParam);
}

LRESULT CALLBACK ClientProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND && InSendMessage())
        Record("cmd " + std::to_string(wParam) + (lParam ? " lParam " + Hex(lParam) : ""));
    return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT CALLBACK TreeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    // Only what other threads send: the test's own set-up is not recorded.
    bool fromWorker = InSendMessage() && message >= TV_FIRST && message < TV_FIRST + 0x100;
    if (fromWorker)
        Record(Describe(window, message, wParam, lParam));
    LRESULT result = CallWindowProcA(s_originalProcs[window], window, message, wParam, lParam);
    if (fromWorker && s_client->onTreeMessage)
        s_client->onTreeMessage(window, message);
    return result;
}

void RegisterClasses() {
    static bool done = false;
    if (done)
        return;
    done = true;
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_TREEVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    wc.hInstance = instance;
    wc.lpfnWndProc = ClientProc;
    wc.lpszClassName = "Kazaa";
    RegisterClassExA(&wc);
    wc.lpfnWndProc = DefWindowProcA;
    wc.lpszClassName = "FakeContainer";
    RegisterClassExA(&wc);
    wc.lpszClassName = "SysTreeView32X";
    RegisterClassExA(&wc);
    wc.lpfnWndProc = TrayWndProc;
    wc.lpszClassName = "TW";
    RegisterClassExA(&wc);
}

} // namespace

FakeClient::FakeClient() {
    RegisterClasses();
    s_client = this;
    g_sent.clear();
    window_ = CreateWindowExA(0, "Kazaa", "Fake client", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300,
                              nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
}

FakeClient::~FakeClient() {
    DestroyWindow(window_);
    s_client = nullptr;
}

HWND FakeClient::AddContainer(HWND parent) {
    return CreateWindowExA(0, "FakeContainer", "", WS_CHILD | WS_VISIBLE, 0, 0, 200, 200,
                           parent ? parent : window_, nullptr, GetModuleHandleA(nullptr), nullptr);
}

HWND FakeClient::AddLookalike() {
    return CreateWindowExA(0, "SysTreeView32X", "", WS_CHILD | WS_VISIBLE, 0, 0, 50, 50, window_,
                           nullptr, GetModuleHandleA(nullptr), nullptr);
}

HWND FakeClient::AddTree(const std::string& name, const std::vector<std::string>& items,
                         const std::vector<std::string>& withChildren, HWND container) {
    HWND tree = CreateWindowExA(
        0, WC_TREEVIEWA, name.c_str(), WS_CHILD | WS_VISIBLE | TVS_HASLINES | TVS_HASBUTTONS, 0, 0,
        150, 150, container ? container : window_, nullptr, GetModuleHandleA(nullptr), nullptr);
    treeNames_[tree] = name;
    for (const std::string& item : items) {
        TVINSERTSTRUCTA insert = {};
        insert.hParent = TVI_ROOT;
        insert.hInsertAfter = TVI_LAST;
        insert.item.mask = TVIF_TEXT;
        insert.item.pszText = const_cast<char*>(item.c_str());
        auto handle = reinterpret_cast<HTREEITEM>(
            SendMessageA(tree, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&insert)));
        itemNames_[reinterpret_cast<LPARAM>(handle)] = item;
        for (const std::string& parent : withChildren) {
            if (parent != item)
                continue;
            for (const char* suffix : {".child1", ".child2"}) {
                std::string child = item + suffix;
                TVINSERTSTRUCTA sub = insert;
                sub.hParent = handle;
                sub.item.pszText = const_cast<char*>(child.c_str());
                LRESULT c = SendMessageA(tree, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&sub));
                itemNames_[c] = child;
            }
            SendMessageA(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(handle));
        }
    }
    s_originalProcs[tree] = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(tree, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(TreeProc)));
    return tree;
}

std::string FakeClient::TreeName(HWND tree) const {
    auto found = treeNames_.find(tree);
    return found == treeNames_.end() ? "?" + Hex(reinterpret_cast<UINT_PTR>(tree)) : found->second;
}

std::string FakeClient::ItemName(LPARAM item) const {
    if (item == 0)
        return "0";
    auto found = itemNames_.find(item);
    return found == itemNames_.end() ? "?" + Hex(static_cast<UINT_PTR>(item)) : found->second;
}

HWND CreateTrayWindow() {
    RegisterClasses();
    return CreateWindowExA(0, "TW", nullptr, 0, 0, 0, 0, 0, nullptr, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
}

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (done())
            return true;
        if (GetTickCount() - start >= timeoutMs)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
}

void PumpFor(DWORD ms) {
    DWORD start = GetTickCount();
    PumpUntil([&] { return GetTickCount() - start >= ms; }, ms + 1000);
}

bool HasEnded(HANDLE thread) {
    return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
}

namespace {

// True when the thread is suspended (by itself: nothing else suspends).
bool IsSuspended(HANDLE thread) {
    if (HasEnded(thread))
        return false;
    DWORD previous = SuspendThread(thread);
    if (previous == static_cast<DWORD>(-1))
        return false;
    ResumeThread(thread);
    return previous > 0;
}

} // namespace

bool WaitPausedOrEnded(HANDLE worker, DWORD timeoutMs) {
    return PumpUntil([&] { return HasEnded(worker) || IsSuspended(worker); }, timeoutMs);
}

bool IsInterleaving(const std::vector<std::string>& a, const std::vector<std::string>& b,
                    const std::vector<std::string>& log) {
    if (a.size() + b.size() != log.size())
        return false;
    // can[i][j]: the first i of a and j of b make up the first i + j of log.
    std::vector<std::vector<bool>> can(a.size() + 1, std::vector<bool>(b.size() + 1, false));
    can[0][0] = true;
    for (std::size_t i = 0; i <= a.size(); ++i) {
        for (std::size_t j = 0; j <= b.size(); ++j) {
            if (i > 0 && can[i - 1][j] && a[i - 1] == log[i + j - 1])
                can[i][j] = true;
            if (j > 0 && can[i][j - 1] && b[j - 1] == log[i + j - 1])
                can[i][j] = true;
        }
    }
    return can[a.size()][b.size()];
}
