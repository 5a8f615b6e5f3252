// The stand-in client: a window of class "Kazaa" holding tree views, which
// logs every WM_COMMAND and every tree selection change, one line each,
// "<milliseconds> <EVENT> <details>", flushed as it is written.
//
// Environment: TW_STANDIN_CONFIG (configuration file, see standin_config.h;
// built-in default when unset) and TW_STANDIN_LOG (log file, appended to;
// no log when unset). Both accept Windows or Unix paths.
#include <windows.h>
#include <commctrl.h>

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/standin/standin_config.h"

namespace {

const char kMainClass[] = "Kazaa";
const char kPanelClass[] = "StandinPanel";
const UINT_PTR kExitTimer = 1;

HANDLE g_log = INVALID_HANDLE_VALUE;
std::vector<HWND> g_trees;
StandinConfig g_config;

void Log(const char* format, ...) {
    if (g_log == INVALID_HANDLE_VALUE)
        return;
    char body[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(body, sizeof body, format, args);
    va_end(args);
    char line[1100];
    int n = snprintf(line, sizeof line, "%lu %s\n", GetTickCount(), body);
    if (n < 0)
        return;
    if (n >= static_cast<int>(sizeof line))
        n = sizeof line - 1;
    DWORD written = 0;
    // One write per line with append access: readers never see half a line.
    WriteFile(g_log, line, static_cast<DWORD>(n), &written, nullptr);
}

std::string EnvPath(const char* name) {
    char buffer[MAX_PATH * 2];
    DWORD n = GetEnvironmentVariableA(name, buffer, sizeof buffer);
    if (n == 0 || n >= sizeof buffer)
        return std::string();
    return ToWindowsPath(buffer);
}

bool ReadWholeFile(const std::string& path, std::string& text) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    text.clear();
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0)
        text.append(chunk, got);
    CloseHandle(file);
    return true;
}

int TreeIndex(HWND tree) {
    for (size_t i = 0; i < g_trees.size(); ++i) {
        if (g_trees[i] == tree)
            return static_cast<int>(i);
    }
    return -1;
}

void OnSelChanged(const NMHDR* header) {
    const NMTREEVIEWA* change = reinterpret_cast<const NMTREEVIEWA*>(header);
    char text[512] = "";
    TVITEMA item = {};
    item.mask = TVIF_TEXT;
    item.hItem = change->itemNew.hItem;
    item.pszText = text;
    item.cchTextMax = sizeof text;
    if (item.hItem)
        SendMessageA(header->hwndFrom, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
    Log("SELECT tree=%d item=%s", TreeIndex(header->hwndFrom), text);
}

// Shared by the main window and the intermediate panels: a nested tree view
// notifies its panel, not the main window.
LRESULT CALLBACK StandinWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_NOTIFY: {
        const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header->code == TVN_SELCHANGEDA || header->code == TVN_SELCHANGEDW)
            OnSelChanged(header);
        break;
    }
    case WM_COMMAND:
        if (HIWORD(wParam) == 0 && lParam == 0)
            Log("WM_COMMAND %u", LOWORD(wParam));
        else
            Log("WM_COMMAND %u code=%u", LOWORD(wParam), HIWORD(wParam));
        return 0;
    case WM_TIMER:
        if (wParam == kExitTimer) {
            Log("EXIT-AFTER");
            DestroyWindow(window);
            return 0;
        }
        break;
    case WM_CLOSE:
        Log("CLOSE");
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        if (GetParent(window) == nullptr)
            PostQuitMessage(0);
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

void AddItems(HWND tree, const StandinTree& config) {
    for (const StandinItem& item : config.items) {
        TVINSERTSTRUCTA insert = {};
        insert.hParent = TVI_ROOT;
        insert.hInsertAfter = TVI_LAST;
        insert.item.mask = TVIF_TEXT;
        insert.item.pszText = const_cast<char*>(item.text.c_str());
        HTREEITEM parent = reinterpret_cast<HTREEITEM>(
            SendMessageA(tree, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&insert)));
        for (const std::string& child : item.children) {
            insert.hParent = parent;
            insert.item.pszText = const_cast<char*>(child.c_str());
            SendMessageA(tree, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&insert));
        }
        if (!item.children.empty())
            SendMessageA(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(parent));
    }
}

void CreateTrees(HWND main, HINSTANCE instance) {
    const int width = 150;
    const int height = 170;
    for (size_t i = 0; i < g_config.trees.size(); ++i) {
        const StandinTree& config = g_config.trees[i];
        HWND parent = main;
        int x = 8 + static_cast<int>(i % 4) * (width + 8);
        int y = 8 + static_cast<int>(i / 4) * (height + 8);
        int w = width;
        int h = height;
        for (int level = 0; level < config.depth; ++level) {
            parent = CreateWindowExA(0, kPanelClass, "", WS_CHILD | WS_VISIBLE | WS_BORDER, x, y, w,
                                     h, parent, nullptr, instance, nullptr);
            x = 4;
            y = 4;
            w -= 10;
            h -= 10;
        }
        HWND tree = CreateWindowExA(WS_EX_CLIENTEDGE, WC_TREEVIEWA, "",
                                    WS_CHILD | WS_VISIBLE | TVS_HASLINES | TVS_HASBUTTONS |
                                        TVS_LINESATROOT | TVS_SHOWSELALWAYS,
                                    x, y, w, h, parent,
                                    reinterpret_cast<HMENU>(static_cast<UINT_PTR>(100 + i)),
                                    instance, nullptr);
        g_trees.push_back(tree);
        AddItems(tree, config);
        Log("TREE %u depth=%d items=%u", static_cast<unsigned>(i), config.depth,
            static_cast<unsigned>(config.items.size()));
    }
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
    std::string logPath = EnvPath("TW_STANDIN_LOG");
    if (!logPath.empty()) {
        g_log = CreateFileA(logPath.c_str(), FILE_APPEND_DATA,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    char self[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, self, sizeof self);
    Log("START pid=%lu exe=%s", GetCurrentProcessId(), self);

    std::string configPath = EnvPath("TW_STANDIN_CONFIG");
    if (configPath.empty()) {
        g_config = DefaultStandinConfig();
    } else {
        std::string text;
        std::string error;
        if (!ReadWholeFile(configPath, text)) {
            Log("ERROR cannot read config %s", configPath.c_str());
            return 2;
        }
        if (!ParseStandinConfig(text, g_config, error)) {
            Log("ERROR config %s", error.c_str());
            return 2;
        }
    }

    if (g_config.noWindow) {
        // A client that starts but never shows its window.
        Log("NO-WINDOW");
        Sleep(INFINITE);
    }
    if (g_config.windowDelayMs > 0)
        Sleep(static_cast<DWORD>(g_config.windowDelayMs));

    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_TREEVIEW_CLASSES};
    InitCommonControlsEx(&controls);

    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = StandinWndProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kMainClass;
    RegisterClassExA(&wc);
    wc.lpszClassName = kPanelClass;
    RegisterClassExA(&wc);

    HWND main = CreateWindowExA(0, kMainClass, g_config.title.c_str(), WS_OVERLAPPEDWINDOW, 40, 40,
                                660, 400, nullptr, nullptr, instance, nullptr);
    if (!main) {
        Log("ERROR cannot create window (%lu)", GetLastError());
        return 3;
    }
    CreateTrees(main, instance);
    ShowWindow(main, show == SW_HIDE ? SW_SHOWNORMAL : show);
    UpdateWindow(main);
    if (g_config.exitAfterMs > 0)
        SetTimer(main, kExitTimer, static_cast<UINT>(g_config.exitAfterMs), nullptr);
    Log("READY hwnd=0x%08lx trees=%u", static_cast<unsigned long>(reinterpret_cast<UINT_PTR>(main)),
        static_cast<unsigned>(g_trees.size()));

    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    Log("EXIT %d", static_cast<int>(msg.wParam));
    if (g_log != INVALID_HANDLE_VALUE)
        CloseHandle(g_log);
    return static_cast<int>(msg.wParam);
}
