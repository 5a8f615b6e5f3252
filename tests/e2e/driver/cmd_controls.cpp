// Controls and commands: texts, check boxes, buttons, raw messages.
#include "tests/e2e/driver/driver.h"

#include <cstdio>

namespace {

int SetText(DriverOptions& options) {
    unsigned long id = 0;
    if (!NeedArgs(options, 2, 2, "set-text") || !ParseIdArg(options, 0, id))
        return kDriverUsage;
    return SetControlText(options, id, options.args[1]);
}

int GetText(DriverOptions& options) {
    unsigned long id = 0;
    if (!NeedArgs(options, 0, 1, "get-text") ||
        (options.args.size() == 1 && !ParseIdArg(options, 0, id)))
        return kDriverUsage;
    HWND target = WaitForTarget(options);
    if (!target)
        return kDriverFailed;
    HWND window = options.args.empty() ? target : ControlOf(target, id);
    std::string text;
    if (!window || !ReadWindowText(window, text))
        return kDriverFailed;
    printf("%s\n", text.c_str());
    return kDriverOk;
}

int Check(DriverOptions& options) {
    unsigned long id = 0;
    unsigned long state = BST_CHECKED;
    if (!NeedArgs(options, 1, 2, "check") || !ParseIdArg(options, 0, id) ||
        (options.args.size() == 2 && !ParseIdArg(options, 1, state)))
        return kDriverUsage;
    HWND target = WaitForTarget(options);
    HWND control = target ? ControlOf(target, id) : nullptr;
    if (!control)
        return kDriverFailed;
    DWORD_PTR now = 0;
    SendMessageTimeoutA(control, BM_SETCHECK, state, 0, SMTO_ABORTIFHUNG, 5000, nullptr);
    if (!SendMessageTimeoutA(control, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 5000, &now) ||
        now != state) {
        DriverError("control %lu: expected check state %lu, got %lu", id, state,
                    static_cast<unsigned long>(now));
        return kDriverFailed;
    }
    return kDriverOk;
}

int GetCheck(DriverOptions& options) {
    unsigned long id = 0;
    if (!NeedArgs(options, 1, 1, "get-check") || !ParseIdArg(options, 0, id))
        return kDriverUsage;
    HWND target = WaitForTarget(options);
    HWND control = target ? ControlOf(target, id) : nullptr;
    DWORD_PTR state = 0;
    if (!control ||
        !SendMessageTimeoutA(control, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 5000, &state))
        return kDriverFailed;
    printf("%lu\n", static_cast<unsigned long>(state));
    return kDriverOk;
}

bool Post(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (PostMessageA(window, message, wParam, lParam))
        return true;
    DriverError("PostMessage 0x%x to %s failed (%lu)", message, HandleText(window).c_str(),
                GetLastError());
    return false;
}

// A click as the button itself reports it: BN_CLICKED with the button's handle.
int Press(DriverOptions& options) {
    unsigned long id = 0;
    if (!NeedArgs(options, 1, 1, "press") || !ParseIdArg(options, 0, id))
        return kDriverUsage;
    HWND target = WaitForTarget(options);
    if (!target)
        return kDriverFailed;
    HWND button = GetDlgItem(target, static_cast<int>(id));
    return Post(target, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button))
               ? kDriverOk
               : kDriverFailed;
}

int Command(DriverOptions& options) {
    unsigned long id = 0;
    unsigned long code = 0;
    if (!NeedArgs(options, 1, 2, "command") || !ParseIdArg(options, 0, id) ||
        (options.args.size() == 2 && !ParseIdArg(options, 1, code)))
        return kDriverUsage;
    HWND target = WaitForTarget(options);
    return target && Post(target, WM_COMMAND, MAKEWPARAM(id, code), 0) ? kDriverOk : kDriverFailed;
}

int Close(DriverOptions& options) {
    if (!NeedArgs(options, 0, 0, "close"))
        return kDriverUsage;
    HWND target = WaitForTarget(options);
    return target && Post(target, WM_SYSCOMMAND, SC_CLOSE, 0) ? kDriverOk : kDriverFailed;
}

bool ParseMessage(DriverOptions& options, const char* name, UINT& message, WPARAM& wParam,
                  LPARAM& lParam) {
    unsigned long m = 0;
    unsigned long w = 0;
    unsigned long l = 0;
    if (!NeedArgs(options, 1, 3, name) || !ParseIdArg(options, 0, m) ||
        (options.args.size() > 1 && !ParseIdArg(options, 1, w)) ||
        (options.args.size() > 2 && !ParseIdArg(options, 2, l)))
        return false;
    message = m;
    wParam = w;
    lParam = static_cast<LPARAM>(l);
    return true;
}

int PostRaw(DriverOptions& options) {
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    if (!ParseMessage(options, "post", message, wParam, lParam))
        return kDriverUsage;
    HWND target = WaitForTarget(options);
    return target && Post(target, message, wParam, lParam) ? kDriverOk : kDriverFailed;
}

int SendRaw(DriverOptions& options) {
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    if (!ParseMessage(options, "send", message, wParam, lParam))
        return kDriverUsage;
    HWND target = WaitForTarget(options);
    DWORD_PTR result = 0;
    if (!target ||
        !SendMessageTimeoutA(target, message, wParam, lParam, SMTO_ABORTIFHUNG, 5000, &result)) {
        DriverError("message 0x%x not answered", message);
        return kDriverFailed;
    }
    printf("%lu\n", static_cast<unsigned long>(result));
    return kDriverOk;
}

const DriverCommand kCommands[] = {
    {"set-text", "ID TEXT - set a control's text (WM_SETTEXT)", SetText},
    {"get-text", "[ID] - print a control's text, or the window's own", GetText},
    {"check", "ID [STATE] - set a check box (BM_SETCHECK, default 1) and verify it", Check},
    {"get-check", "ID - print a check box's state (BM_GETCHECK)", GetCheck},
    {"press", "ID - post WM_COMMAND BN_CLICKED from button ID", Press},
    {"command", "ID [CODE] - post WM_COMMAND with this id (and notification code), lParam 0",
     Command},
    {"close", "- post WM_SYSCOMMAND SC_CLOSE", Close},
    {"post", "MSG [WPARAM [LPARAM]] - post a message (numbers: decimal or 0x hex)", PostRaw},
    {"send", "MSG [WPARAM [LPARAM]] - send a message, print its result", SendRaw},
};
TW_DRIVER_COMMANDS(kCommands);

} // namespace
