// Texts too long for a command line (Windows stops at 32767 characters):
// taken from a file instead.
#include "tests/e2e/driver/driver.h"

#include <cstdio>

namespace {

bool ReadWholeFile(const std::string& path, std::string& text) {
    FILE* file = fopen(path.c_str(), "rb");
    if (!file) {
        DriverError("cannot open %s", path.c_str());
        return false;
    }
    char block[4096];
    size_t got;
    while ((got = fread(block, 1, sizeof block, file)) > 0)
        text.append(block, got);
    fclose(file);
    return true;
}

int SetTextFromFile(DriverOptions& options) {
    unsigned long id = 0;
    if (!NeedArgs(options, 2, 2, "set-text-file"))
        return kDriverUsage;
    if (!ParseNumber(options.args[0], id)) {
        DriverError("'%s' is not a number", options.args[0].c_str());
        return kDriverUsage;
    }
    std::string text;
    if (!ReadWholeFile(options.args[1], text))
        return kDriverFailed;
    HWND target = WaitForTarget(options);
    HWND control = target ? ControlOf(target, id) : nullptr;
    if (!control)
        return kDriverFailed;
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                             SMTO_ABORTIFHUNG, 10000, &result) ||
        !result) {
        DriverError("WM_SETTEXT of %zu characters to control %lu failed", text.size(), id);
        return kDriverFailed;
    }
    return kDriverOk;
}

const DriverCommand kCommands[] = {
    {"set-text-file", "ID FILE - set a control's text to a file's bytes (WM_SETTEXT)",
     SetTextFromFile},
};
TW_DRIVER_COMMANDS(kCommands);

} // namespace
