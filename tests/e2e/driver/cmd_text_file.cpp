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
    if (!NeedArgs(options, 2, 2, "set-text-file") || !ParseIdArg(options, 0, id))
        return kDriverUsage;
    std::string text;
    if (!ReadWholeFile(options.args[1], text))
        return kDriverFailed;
    return SetControlText(options, id, text);
}

const DriverCommand kCommands[] = {
    {"set-text-file", "ID FILE - set a control's text to a file's bytes (WM_SETTEXT)",
     SetTextFromFile},
};
TW_DRIVER_COMMANDS(kCommands);

} // namespace
