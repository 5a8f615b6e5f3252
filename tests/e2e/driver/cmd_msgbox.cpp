// Message boxes: read the text, answer with a button. Both look only at
// visible message boxes; add -t to pick one by caption ("Error" when none).
#include "tests/e2e/driver/driver.h"

#include <cstdio>
#include <cstring>

namespace {

const unsigned long kMessageTextId = 0xFFFF;

int MessageText(DriverOptions& options) {
    if (!NeedArgs(options, 0, 0, "msgbox-text"))
        return kDriverUsage;
    options.messageBoxOnly = true;
    options.visibleOnly = true;
    HWND box = WaitForTarget(options);
    std::string text;
    if (!box || !ReadWindowText(GetDlgItem(box, kMessageTextId), text))
        return kDriverFailed;
    printf("%s\n", text.c_str());
    return kDriverOk;
}

bool ButtonId(const std::string& name, unsigned long& id) {
    static const struct {
        const char* name;
        unsigned long id;
    } kButtons[] = {{"ok", IDOK}, {"cancel", IDCANCEL}, {"yes", IDYES}, {"no", IDNO}};
    for (const auto& b : kButtons) {
        if (name == b.name) {
            id = b.id;
            return true;
        }
    }
    return ParseNumber(name, id);
}

// Posts the button's command, then waits for the box to close.
int Answer(DriverOptions& options) {
    unsigned long id = 0;
    if (!NeedArgs(options, 1, 1, "msgbox-answer"))
        return kDriverUsage;
    if (!ButtonId(options.args[0], id)) {
        DriverError("'%s' is neither ok, cancel, yes, no nor a number", options.args[0].c_str());
        return kDriverUsage;
    }
    options.messageBoxOnly = true;
    options.visibleOnly = true;
    HWND box = WaitForTarget(options);
    if (!box)
        return kDriverFailed;
    HWND button = GetDlgItem(box, static_cast<int>(id));
    if (!PostMessageA(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                      reinterpret_cast<LPARAM>(button))) {
        DriverError("cannot post to %s", HandleText(box).c_str());
        return kDriverFailed;
    }
    if (!PollUntil(options.timeoutMs, [&] { return !IsWindow(box); })) {
        DriverError("message box %s still open after %lu ms", HandleText(box).c_str(),
                    options.timeoutMs);
        return kDriverFailed;
    }
    return kDriverOk;
}

const DriverCommand kCommands[] = {
    {"msgbox-text", "- print the text of a visible message box (static 0xFFFF)", MessageText},
    {"msgbox-answer", "ok|cancel|yes|no|ID - press a message box button, wait for it to close",
     Answer},
};
TW_DRIVER_COMMANDS(kCommands);

} // namespace
