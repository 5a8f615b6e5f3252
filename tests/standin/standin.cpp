// The stand-in client: a window of the client's class with tree views,
// which logs what it receives, a line each, "<GetTickCount ms> <EVENT> ...":
//   START pid=N exe=PATH cwd=FOLDER | READY | WM_COMMAND ID | SELECT tree=N item=TEXT
//   HANG ms=N | EXIT N
//
// Environment (all optional):
//   TW_STANDIN_LOG    log file (a Windows path), appended to
//   TW_STANDIN_TREES  the trees: ';' between trees, ',' between top-level
//                     items, '/' before each child of an item, a leading '>'
//                     per panel the tree is nested in ("a/a1,b;>>c" is a tree
//                     with a (child a1) and b, and a tree two panels deep with c)
//   TW_STANDIN_DELAY  milliseconds before the window is created
//   TW_STANDIN_HANG   "ID:MS": on the first WM_COMMAND ID, stop answering for MS
//   TW_STANDIN_EXIT   "N": the first start into a fresh log ends with exit
//                     code N before creating its window; "N+": later starts
//                     hand over to a copy of this program and end with 0,
//                     as a launcher does
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "refresh/settings.h"

namespace {

HANDLE g_log = INVALID_HANDLE_VALUE;
std::vector<HWND> g_trees;
unsigned g_hangCommand;
unsigned long g_hangMs;

// One write per line with append access: a reader never sees half a line.
void Log(const std::string& event) {
    const std::string line = std::to_string(GetTickCount()) + " " + event + "\n";
    DWORD written = 0;
    WriteFile(g_log, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

std::string Env(const char* name, const char* otherwise = "") {
    char value[1024];
    const DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
    return n == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND
               ? otherwise
               : std::string(value, n < sizeof value ? n : 0);
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::istringstream in(text);
    for (std::string part; std::getline(in, part, separator);)
        parts.push_back(part);
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
    for (std::string layout : Split(description, ';')) {
        const int i = static_cast<int>(g_trees.size());
        HWND parent = main;
        int x = 8 + i % 4 * 158, y = 8 + i / 4 * 178, w = 150, h = 170;
        for (; !layout.empty() && layout[0] == '>'; layout.erase(0, 1), x = y = 4, w -= 10, h -= 10)
            parent = CreateWindowExA(0, "StandinPanel", "", WS_CHILD | WS_VISIBLE | WS_BORDER, x, y,
                                     w, h, parent, nullptr, nullptr, nullptr);
        HWND tree = CreateWindowExA(WS_EX_CLIENTEDGE, WC_TREEVIEWA, "",
                                    WS_CHILD | WS_VISIBLE | TVS_HASLINES | TVS_HASBUTTONS |
                                        TVS_LINESATROOT | TVS_SHOWSELALWAYS,
                                    x, y, w, h, parent, nullptr, nullptr, nullptr);
        g_trees.push_back(tree);
        for (const std::string& item : Split(layout, ',')) {
            const std::vector<std::string> names = Split(item + '/', '/');
            HTREEITEM top = Insert(tree, TVI_ROOT, names[0]);
            for (std::size_t n = 1; n < names.size(); ++n)
                Insert(tree, top, names[n]);
            SendMessageA(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(top));
        }
    }
}

// Shared by the main window and the panels: a nested tree notifies its panel.
LRESULT CALLBACK StandinWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const auto* change = reinterpret_cast<const NMTREEVIEWA*>(lParam);
    if (message == WM_NOTIFY && change->hdr.code == TVN_SELCHANGEDA) {
        char text[256] = "";
        TVITEMA item = {TVIF_TEXT, change->itemNew.hItem, 0, 0, text, sizeof text, 0, 0, 0, 0};
        SendMessageA(change->hdr.hwndFrom, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
        std::size_t tree = 0;
        while (tree < g_trees.size() && g_trees[tree] != change->hdr.hwndFrom)
            ++tree;
        Log("SELECT tree=" + std::to_string(tree) + " item=" + text);
    } else if (message == WM_COMMAND) {
        Log("WM_COMMAND " + std::to_string(wParam));
        if (wParam == g_hangCommand && g_hangMs != 0) {
            Log("HANG ms=" + std::to_string(g_hangMs));
            Sleep(g_hangMs);
            g_hangMs = 0;
        }
        return 0;
    } else if (message == WM_DESTROY && GetParent(window) == nullptr) {
        PostQuitMessage(0);
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    g_log = CreateFileA(Env("TW_STANDIN_LOG").c_str(), FILE_APPEND_DATA,
                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    const bool first = GetFileSize(g_log, nullptr) == 0;
    char self[MAX_PATH] = "", folder[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, self, sizeof self);
    GetCurrentDirectoryA(sizeof folder, folder);
    Log("START pid=" + std::to_string(GetCurrentProcessId()) + " exe=" + self + " cwd=" + folder);
    const std::string exit = Env("TW_STANDIN_EXIT");
    if (first && !exit.empty())
        return std::atoi(exit.c_str());
    if (!exit.empty() && exit.back() == '+' &&
        std::strstr(GetCommandLineA(), " handed") == nullptr) {
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION child = {};
        std::string line = std::string("\"") + self + "\" handed";
        CreateProcessA(self, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                       &child);
        return 0;
    }
    std::sscanf(Env("TW_STANDIN_HANG").c_str(), "%u:%lu", &g_hangCommand, &g_hangMs);
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
    CreateTrees(main,
                Env("TW_STANDIN_TREES", "First/First child,Second,Third,Fourth;>Deep,Deeper"));
    Log("READY");

    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    Log("EXIT " + std::to_string(msg.wParam));
    return static_cast<int>(msg.wParam);
}
