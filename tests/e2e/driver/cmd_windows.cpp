// Finding windows: wait for one, wait for it to go, list them.
#include "tests/e2e/driver/driver.h"

#include <cstdio>

namespace {

int Wait(DriverOptions& options) {
    if (!NeedArgs(options, 0, 0, "wait"))
        return kDriverUsage;
    HWND target = WaitForTarget(options);
    if (!target)
        return kDriverFailed;
    printf("%s\n", HandleText(target).c_str());
    return kDriverOk;
}

int WaitGone(DriverOptions& options) {
    if (!NeedArgs(options, 0, 0, "wait-gone"))
        return kDriverUsage;
    if (PollUntil(options.timeoutMs, [&] { return MatchingWindows(options).empty(); }))
        return kDriverOk;
    DriverError("window still there after %lu ms", options.timeoutMs);
    return kDriverFailed;
}

void PrintWindow(HWND window, const char* prefix) {
    char cls[256] = "";
    GetClassNameA(window, cls, sizeof cls);
    std::string text;
    ReadWindowText(window, text);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    printf("%s%s parent=%s id=%ld pid=%lu visible=%d class=%s text=%s\n", prefix,
           HandleText(window).c_str(), HandleText(GetParent(window)).c_str(),
           static_cast<long>(GetWindowLongPtrA(window, GWLP_ID)), pid,
           IsWindowVisible(window) ? 1 : 0, cls, text.c_str());
}

int List(DriverOptions& options) {
    if (!NeedArgs(options, 0, 0, "list"))
        return kDriverUsage;
    std::vector<HWND> found = MatchingWindows(options);
    for (HWND window : found)
        PrintWindow(window, "");
    return found.empty() ? kDriverFailed : kDriverOk;
}

BOOL CALLBACK PrintChild(HWND window, LPARAM) {
    PrintWindow(window, "");
    return TRUE;
}

int Children(DriverOptions& options) {
    if (!NeedArgs(options, 0, 0, "children"))
        return kDriverUsage;
    HWND target = WaitForTarget(options);
    if (!target)
        return kDriverFailed;
    EnumChildWindows(target, PrintChild, 0);
    return kDriverOk;
}

// Repaints the window now (WM_PAINT is sent, not left for an idle moment),
// so a screenshot taken next shows its current state.
int Redraw(DriverOptions& options) {
    if (!NeedArgs(options, 0, 0, "redraw"))
        return kDriverUsage;
    HWND target = WaitForTarget(options);
    if (!target)
        return kDriverFailed;
    RedrawWindow(target, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    SendMessageTimeoutA(target, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, nullptr);
    return kDriverOk;
}

const DriverCommand kCommands[] = {
    {"wait", "- wait for the window, print its handle", Wait},
    {"wait-gone", "- wait until no such window exists", WaitGone},
    {"list", "- print every matching top-level window now (status 1 when none)", List},
    {"children", "- print every descendant of the window: handle, parent, id, class, text",
     Children},
    {"redraw", "- repaint the window and its children now", Redraw},
};
TW_DRIVER_COMMANDS(kCommands);

} // namespace
