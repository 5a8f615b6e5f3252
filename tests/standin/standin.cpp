// The stand-in client: a window of the client's class with tree views, which logs
// what it receives, one line each, "<GetTickCount ms> <EVENT> <details>":
//   START pid=N exe=PATH | READY hwnd=0x... | WM_COMMAND ID | SELECT tree=N item=TEXT
//   HANG ms=N | CLOSE | EXIT N
//
// Environment (all optional):
//   TW_STANDIN_LOG    log file (Windows path), appended to
//   TW_STANDIN_TREES  the trees: ';' between trees, ',' between top-level
//                     items, '/' before each child of an item, a leading '>'
//                     per panel the tree is nested in ("a/a1,b;>>c;" is a tree
//                     with a (child a1) and b, a tree two panels deep with c,
//                     and an empty tree)
//   TW_STANDIN_DELAY  milliseconds before the window is created
//   TW_STANDIN_HANG   "ID:MS": on the first WM_COMMAND ID, stop answering for MS
#include <windows.h>
#include <commctrl.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "refresh/settings.h"

namespace {

const char kDefaultTrees[] = "First/First child,Second,Third,Fourth;>Deep,Deeper";
HANDLE g_log = INVALID_HANDLE_VALUE;
std::vector<HWND> g_trees;
unsigned g_hangCommand;
DWORD g_hangMs;

void Log(const char* format, ...) {
    char line[600];
    int n = std::snprintf(line, sizeof line, "%lu ", GetTickCount());
    va_list args;
    va_start(args, format);
    n += std::vsnprintf(line + n, sizeof line - n - 1, format, args);
    va_end(args);
    n = n < static_cast<int>(sizeof line) - 1 ? n : static_cast<int>(sizeof line) - 2;
    line[n++] = '\n';
    DWORD written = 0;
    // One write per line with append access: a reader never sees half a line.
    WriteFile(g_log, line, static_cast<DWORD>(n), &written, nullptr);
}

std::string Env(const char* name) {
    char value[1024] = "";
    DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
    return n < sizeof value ? value : "";
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::string::size_type at = 0, next;
    while ((next = text.find(separator, at)) != std::string::npos) {
        parts.push_back(text.substr(at, next - at));
        at = next + 1;
    }
    parts.push_back(text.substr(at));
    return parts;
}

HTREEITEM Insert(HWND tree, HTREEITEM parent, const std::string& text) {
    TVINSERTSTRUCTA insert = {};
    insert.hParent = parent;
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT;
    insert.item.pszText = const_cast<char*>(text.c_str());
    return reinterpret_cast<HTREEITEM>(
        SendMessageA(tree, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&insert)));
}

void CreateTrees(HWND main, const std::string& description) {
    int index = 0;
    for (std::string spec : Split(description, ';')) {
        HWND parent = main;
        RECT r = {8 + index % 4 * 158, 8 + index / 4 * 178, 150, 170};
        for (; !spec.empty() && spec[0] == '>'; spec.erase(0, 1)) {
            parent =
                CreateWindowExA(0, "StandinPanel", "", WS_CHILD | WS_VISIBLE | WS_BORDER, r.left,
                                r.top, r.right, r.bottom, parent, nullptr, nullptr, nullptr);
            r = {4, 4, r.right - 10, r.bottom - 10};
        }
        HWND tree =
            CreateWindowExA(WS_EX_CLIENTEDGE, WC_TREEVIEWA, "",
                            WS_CHILD | WS_VISIBLE | TVS_HASLINES | TVS_HASBUTTONS |
                                TVS_LINESATROOT | TVS_SHOWSELALWAYS,
                            r.left, r.top, r.right, r.bottom, parent, nullptr, nullptr, nullptr);
        g_trees.push_back(tree);
        for (const std::string& item : Split(spec, ',')) {
            std::vector<std::string> names = Split(item, '/');
            if (names[0].empty())
                continue;
            HTREEITEM top = Insert(tree, TVI_ROOT, names[0]);
            for (std::size_t i = 1; i < names.size(); ++i)
                Insert(tree, top, names[i]);
            SendMessageA(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(top));
        }
        ++index;
    }
}

void OnSelChanged(const NMTREEVIEWA* change) {
    char text[256] = "";
    TVITEMA item = {};
    item.mask = TVIF_TEXT;
    item.hItem = change->itemNew.hItem;
    item.pszText = text;
    item.cchTextMax = sizeof text;
    SendMessageA(change->hdr.hwndFrom, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
    int index = 0;
    while (index < static_cast<int>(g_trees.size()) && g_trees[index] != change->hdr.hwndFrom)
        ++index;
    Log("SELECT tree=%d item=%s", index, text);
}

// Shared by the main window and the panels: a nested tree notifies its panel.
LRESULT CALLBACK StandinWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_NOTIFY:
        if (reinterpret_cast<NMHDR*>(lParam)->code == TVN_SELCHANGEDA)
            OnSelChanged(reinterpret_cast<NMTREEVIEWA*>(lParam));
        break;
    case WM_COMMAND:
        Log("WM_COMMAND %u", static_cast<unsigned>(wParam));
        if (wParam == g_hangCommand && g_hangMs != 0) {
            Log("HANG ms=%lu", g_hangMs);
            Sleep(g_hangMs);
            g_hangMs = 0;
        }
        return 0;
    case WM_CLOSE:
        Log("CLOSE");
        break;
    case WM_DESTROY:
        if (GetParent(window) == nullptr)
            PostQuitMessage(0);
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    std::string logPath = Env("TW_STANDIN_LOG");
    if (!logPath.empty())
        g_log = CreateFileA(logPath.c_str(), FILE_APPEND_DATA,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    char self[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, self, sizeof self);
    Log("START pid=%lu exe=%s", GetCurrentProcessId(), self);
    std::string hang = Env("TW_STANDIN_HANG");
    if (!hang.empty() && std::sscanf(hang.c_str(), "%u:%lu", &g_hangCommand, &g_hangMs) != 2)
        g_hangMs = 0;
    Sleep(std::strtoul(Env("TW_STANDIN_DELAY").c_str(), nullptr, 10));

    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_TREEVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = StandinWndProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kClientClass;
    RegisterClassExA(&wc);
    wc.lpszClassName = "StandinPanel";
    RegisterClassExA(&wc);
    HWND main =
        CreateWindowExA(0, kClientClass, "Stand-in client", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40,
                        40, 660, 400, nullptr, nullptr, instance, nullptr);
    const std::string trees = Env("TW_STANDIN_TREES");
    CreateTrees(main,
                GetEnvironmentVariableA("TW_STANDIN_TREES", nullptr, 0) ? trees : kDefaultTrees);
    Log("READY hwnd=%#lx", static_cast<unsigned long>(reinterpret_cast<UINT_PTR>(main)));

    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    Log("EXIT %d", static_cast<int>(msg.wParam));
    return static_cast<int>(msg.wParam);
}
