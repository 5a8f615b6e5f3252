// Where windows are on the screen, and real mouse clicks: for screenshots
// cropped to a window and for clicking what only the shell draws (a
// notification icon).
#include "tests/e2e/driver/driver.h"

#include <cstdio>

namespace {

int Rect(DriverOptions& options) {
    if (!NeedArgs(options, 0, 0, "rect"))
        return kDriverUsage;
    HWND target = WaitForTarget(options);
    if (!target)
        return kDriverFailed;
    RECT rect;
    if (!GetWindowRect(target, &rect)) {
        DriverError("GetWindowRect failed (error %lu)", GetLastError());
        return kDriverFailed;
    }
    printf("%ld %ld %ld %ld\n", static_cast<long>(rect.left), static_cast<long>(rect.top),
           static_cast<long>(rect.right - rect.left), static_cast<long>(rect.bottom - rect.top));
    return kDriverOk;
}

bool ParseCoordinate(const std::string& text, long& value) {
    bool negative = !text.empty() && text[0] == '-';
    unsigned long magnitude = 0;
    if (!ParseNumber(negative ? text.substr(1) : text, magnitude) || magnitude > 0x7fff)
        return false;
    value = negative ? -static_cast<long>(magnitude) : static_cast<long>(magnitude);
    return true;
}

int Click(DriverOptions& options) {
    if (!NeedArgs(options, 2, 3, "click"))
        return kDriverUsage;
    long x = 0;
    long y = 0;
    if (!ParseCoordinate(options.args[0], x) || !ParseCoordinate(options.args[1], y)) {
        DriverError("click: bad position '%s %s'", options.args[0].c_str(),
                    options.args[1].c_str());
        return kDriverUsage;
    }
    const std::string button = options.args.size() > 2 ? options.args[2] : "left";
    DWORD down = 0;
    DWORD up = 0;
    if (button == "left") {
        down = MOUSEEVENTF_LEFTDOWN;
        up = MOUSEEVENTF_LEFTUP;
    } else if (button == "right") {
        down = MOUSEEVENTF_RIGHTDOWN;
        up = MOUSEEVENTF_RIGHTUP;
    } else {
        DriverError("click: left or right, not '%s'", button.c_str());
        return kDriverUsage;
    }
    // The pointer must have arrived before the button goes down: whoever
    // handles the click may ask for the cursor position (a popup menu opens
    // there), and under Wine the move reaches the X server asynchronously.
    if (!SetCursorPos(x, y)) {
        DriverError("SetCursorPos failed (error %lu)", GetLastError());
        return kDriverFailed;
    }
    POINT at = {};
    if (!PollUntil(options.timeoutMs,
                   [&] { return GetCursorPos(&at) && at.x == x && at.y == y; })) {
        DriverError("the mouse did not move to %ld %ld (it is at %ld %ld)", x, y,
                    static_cast<long>(at.x), static_cast<long>(at.y));
        return kDriverFailed;
    }
    // The move goes into the same input stream as the button, so the click
    // happens where the cursor is even for a program that asks the system
    // for the position rather than reading the message.
    const int width = GetSystemMetrics(SM_CXSCREEN);
    const int height = GetSystemMetrics(SM_CYSCREEN);
    INPUT inputs[3] = {};
    inputs[0].type = INPUT_MOUSE;
    inputs[0].mi.dx = width > 1 ? MulDiv(x, 65535, width - 1) : 0;
    inputs[0].mi.dy = height > 1 ? MulDiv(y, 65535, height - 1) : 0;
    inputs[0].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    inputs[1].type = INPUT_MOUSE;
    inputs[1].mi.dwFlags = down;
    inputs[2].type = INPUT_MOUSE;
    inputs[2].mi.dwFlags = up;
    if (SendInput(3, inputs, sizeof(INPUT)) != 3) {
        DriverError("SendInput failed (error %lu)", GetLastError());
        return kDriverFailed;
    }
    return kDriverOk;
}

const DriverCommand kCommands[] = {
    {"rect", "- print the window's screen rectangle: left top width height", Rect},
    {"click", "X Y [left|right] - move the mouse to the screen position and click there", Click},
};

TW_DRIVER_COMMANDS(kCommands);

} // namespace
