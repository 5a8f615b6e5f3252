#include "tests/e2e/driver/driver.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <io.h>

namespace {

// Function-local so registration order between files does not matter.
std::vector<DriverCommand>& Registry() {
    static std::vector<DriverCommand> commands;
    return commands;
}

const char* g_commandName = "twdriver";

struct FindState {
    const DriverOptions* options;
    std::vector<HWND>* found;
};

bool Matches(HWND window, const DriverOptions& options) {
    if (options.handle && window != options.handle)
        return false;
    if (options.visibleOnly && !IsWindowVisible(window))
        return false;
    if (!options.className.empty()) {
        char cls[256] = "";
        GetClassNameA(window, cls, sizeof cls);
        if (options.className != cls)
            return false;
    }
    if (options.hasTitle || !options.titlePart.empty()) {
        char title[512] = "";
        GetWindowTextA(window, title, sizeof title);
        if (options.hasTitle && options.title != title)
            return false;
        if (!options.titlePart.empty() && !strstr(title, options.titlePart.c_str()))
            return false;
    }
    if (options.messageBoxOnly) {
        char cls[256] = "";
        GetClassNameA(window, cls, sizeof cls);
        if (strcmp(cls, "#32770") != 0 || !GetDlgItem(window, 0xFFFF))
            return false;
    }
    return true;
}

BOOL CALLBACK CollectWindow(HWND window, LPARAM lParam) {
    FindState* state = reinterpret_cast<FindState*>(lParam);
    if (Matches(window, *state->options))
        state->found->push_back(window);
    return TRUE;
}

void PrintUsage() {
    fprintf(stderr, "usage: twdriver COMMAND [-c CLASS] [-t TITLE] [-s TEXT] [-w HWND] [-T MS] "
                    "[-v] [-m] [ARGS...]\ncommands:\n");
    for (const DriverCommand& c : Registry())
        fprintf(stderr, "  %-14s %s\n", c.name, c.usage);
}

bool ParseOptions(int argc, char** argv, DriverOptions& options) {
    for (int i = 2; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) {
                DriverError("option %s needs a value", a.c_str());
                return false;
            }
            out = argv[++i];
            return true;
        };
        std::string v;
        if (a == "-c") {
            if (!value(options.className))
                return false;
        } else if (a == "-t") {
            if (!value(options.title))
                return false;
            options.hasTitle = true;
        } else if (a == "-s") {
            if (!value(options.titlePart))
                return false;
        } else if (a == "-w" || a == "-T") {
            unsigned long n = 0;
            if (!value(v) || !ParseNumber(v, n)) {
                DriverError("option %s needs a number", a.c_str());
                return false;
            }
            if (a == "-w")
                options.handle = reinterpret_cast<HWND>(static_cast<UINT_PTR>(n));
            else
                options.timeoutMs = n;
        } else if (a == "-v") {
            options.visibleOnly = true;
        } else if (a == "-m") {
            options.messageBoxOnly = true;
        } else if (a == "--") {
            for (++i; i < argc; ++i)
                options.args.push_back(argv[i]);
        } else {
            options.args.push_back(a);
        }
    }
    return true;
}

} // namespace

DriverRegistrar::DriverRegistrar(const DriverCommand* table, size_t count) {
    Registry().insert(Registry().end(), table, table + count);
}

void DriverError(const char* format, ...) {
    fprintf(stderr, "twdriver %s: ", g_commandName);
    va_list args;
    va_start(args, format);
    vfprintf(stderr, format, args);
    va_end(args);
    fputc('\n', stderr);
}

std::vector<HWND> MatchingWindows(const DriverOptions& options) {
    std::vector<HWND> found;
    // A handle may name a child window too, which EnumWindows never lists.
    if (options.handle) {
        if (IsWindow(options.handle) && Matches(options.handle, options))
            found.push_back(options.handle);
        return found;
    }
    FindState state = {&options, &found};
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&state));
    return found;
}

HWND WaitForTarget(const DriverOptions& options) {
    HWND target = nullptr;
    PollUntil(options.timeoutMs, [&] {
        std::vector<HWND> found = MatchingWindows(options);
        target = found.empty() ? nullptr : found.front();
        return target != nullptr;
    });
    if (!target) {
        DriverError("no window with class '%s' title '%s'%s%s after %lu ms",
                    options.className.c_str(), options.hasTitle ? options.title.c_str() : "*",
                    options.visibleOnly ? ", visible" : "",
                    options.messageBoxOnly ? ", message box" : "", options.timeoutMs);
    }
    return target;
}

bool ParseNumber(const std::string& text, unsigned long& value) {
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    unsigned long v = strtoul(text.c_str(), &end, 0);
    if (*end != '\0' || errno != 0 || text[0] == '-')
        return false;
    value = v;
    return true;
}

bool NeedArgs(const DriverOptions& options, size_t min, size_t max, const char* command) {
    if (options.args.size() >= min && options.args.size() <= max)
        return true;
    for (const DriverCommand& c : Registry()) {
        if (strcmp(c.name, command) == 0)
            fprintf(stderr, "usage: twdriver %s [window options] %s\n", c.name, c.usage);
    }
    return false;
}

bool ParseIdArg(const DriverOptions& options, size_t index, unsigned long& id) {
    if (ParseNumber(options.args[index], id))
        return true;
    DriverError("'%s' is not a number", options.args[index].c_str());
    return false;
}

int SetControlText(const DriverOptions& options, unsigned long id, const std::string& text) {
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

HWND ControlOf(HWND window, unsigned long id) {
    HWND control = GetDlgItem(window, static_cast<int>(id));
    if (!control)
        DriverError("window %s has no control %lu", HandleText(window).c_str(), id);
    return control;
}

bool ReadWindowText(HWND window, std::string& text) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length))
        return false;
    std::vector<char> buffer(length + 2, '\0');
    DWORD_PTR got = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXT, buffer.size(),
                             reinterpret_cast<LPARAM>(buffer.data()), SMTO_ABORTIFHUNG, 5000, &got))
        return false;
    text.assign(buffer.data());
    return true;
}

std::string HandleText(HWND window) {
    char text[32];
    snprintf(text, sizeof text, "0x%08lx",
             static_cast<unsigned long>(reinterpret_cast<UINT_PTR>(window)));
    return text;
}

int main(int argc, char** argv) {
    // Plain "\n" line ends, so shell scripts compare output without stripping "\r".
    _setmode(_fileno(stdout), _O_BINARY);
    if (argc < 2 || strcmp(argv[1], "help") == 0 || strcmp(argv[1], "--help") == 0) {
        PrintUsage();
        return argc < 2 ? kDriverUsage : kDriverOk;
    }
    for (const DriverCommand& c : Registry()) {
        if (strcmp(c.name, argv[1]) != 0)
            continue;
        g_commandName = c.name;
        DriverOptions options;
        if (!ParseOptions(argc, argv, options))
            return kDriverUsage;
        int status = c.run(options);
        fflush(stdout);
        return status;
    }
    fprintf(stderr, "twdriver: unknown command '%s'\n", argv[1]);
    PrintUsage();
    return kDriverUsage;
}
