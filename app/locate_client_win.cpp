// The client locator: the chosen client's executable from its registry value.
#include "app/launcher.h"

#include "app/client_table.h"
#include "res/resource.h"

namespace {

// The clients are 32-bit programs: on 64-bit Windows their values are in the
// registry's 32-bit view, where a 32-bit program looks anyway and a 64-bit
// one must ask to.
#ifdef _WIN64
constexpr REGSAM kClientView = KEY_WOW64_32KEY;
#else
constexpr REGSAM kClientView = 0;
#endif

bool IsChecked(HWND dialog, int control) {
    // A missing control gives a null handle, and a message to it returns 0.
    return SendMessageA(GetDlgItem(dialog, control), BM_GETCHECK, 0, 0) != 0;
}

} // namespace

void LocateClient(HWND dialog) {
    const ClientRow& row =
        PickClientRow(IsChecked(dialog, IDC_OPT_MORPHEUS), IsChecked(dialog, IDC_OPT_KAZAA));

    // Read apart from g_clientPath, so that whatever the value holds the
    // path is built within its bounds.
    char value[MAX_PATH] = {};
    DWORD size = sizeof value;
    bool found = false;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, row.key, 0, KEY_READ | kClientView, &key) ==
        ERROR_SUCCESS) {
        found = RegQueryValueExA(key, row.valueName, nullptr, nullptr,
                                 reinterpret_cast<BYTE*>(value), &size) == ERROR_SUCCESS;
        RegCloseKey(key);
    }
    BuildClientPath(row, value, found ? size : 0, found, g_clientPath, sizeof g_clientPath);
}
