// The setup dialog: two delays, the client choice, GO, and the repair command.
#include "app/launcher.h"

#include <cstring>
#include <string>

#include "app/decimal.h"
#include "job/repair_job.h"
#include "refresh/refresher.h"
#include "refresh/settings.h"
#include "res/resource.h"

namespace {

// The setup dialog's system menu item that issues IDC_REPAIR.
constexpr char kRepairMenuText[] = "Repair DAT files...";

// The fields as GO last left them, for the dialog shown again.
struct Typed {
    std::string minutes, seconds;
    WPARAM kazaa;
} s_typed;

std::string FieldText(HWND dialog, int id) {
    std::string text(GetWindowTextLengthA(GetDlgItem(dialog, id)) + 1, '\0');
    text.resize(GetDlgItemTextA(dialog, id, &text[0], static_cast<int>(text.size())));
    return text;
}

void OnInitDialog(HWND dialog, bool again) {
    // The template has no Morpheus box, so this goes nowhere; kept so a
    // template that adds one starts with it ticked.
    SendMessageA(GetDlgItem(dialog, IDC_OPT_MORPHEUS), BM_SETCHECK, BST_CHECKED, 0);
    if (again) {
        SetDlgItemTextA(dialog, IDC_REFRESH_MINUTES, s_typed.minutes.c_str());
        SetDlgItemTextA(dialog, IDC_ITEM_SECONDS, s_typed.seconds.c_str());
        SendMessageA(GetDlgItem(dialog, IDC_OPT_KAZAA), BM_SETCHECK, s_typed.kazaa, 0);
    }

    // The template has no control for the repair command; the system menu offers it.
    HMENU menu = GetSystemMenu(dialog, FALSE);
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(menu, MF_STRING, IDM_REPAIR_DAT, kRepairMenuText);
}

void OnGo(HWND dialog) {
    ReadDelays(dialog);
    LocateClient(dialog);
    if (g_clientPath[0] == '\\') {
        MessageBoxA(nullptr, "That Fasttrak client was not found. Try again", nullptr, MB_OK);
        memset(g_clientPath, 0, sizeof g_clientPath);
        return;
    }
    s_typed = {
        FieldText(dialog, IDC_REFRESH_MINUTES), FieldText(dialog, IDC_ITEM_SECONDS),
        static_cast<WPARAM>(SendMessageA(GetDlgItem(dialog, IDC_OPT_KAZAA), BM_GETCHECK, 0, 0))};
    EndDialog(dialog, 0);
}

// Counted until its report has closed: the client's going waits for it.
DWORD WINAPI CountedRepairJob(LPVOID parameter) {
    RepairJob(parameter);
    --g_repairJobs;
    return 0;
}

void StartRepairJob() {
    ++g_repairJobs;
    HANDLE thread = CreateThread(nullptr, 0, CountedRepairJob, nullptr, 0, nullptr);
    if (thread)
        CloseHandle(thread);
    else
        --g_repairJobs;
}

} // namespace

INT_PTR CALLBACK SetupDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog(dialog, lParam != 0);
        break;
    case WM_CLOSE:
        ExitTidewatch();
    case WM_ENDSESSION: // log-off or shutdown
        if (wParam)
            ExitTidewatch();
        break;
    case WM_SYSCOMMAND:
        // The low four bits of a system command are the system's own.
        if ((wParam & 0xFFF0) == IDM_REPAIR_DAT)
            SendMessageA(dialog, WM_COMMAND, IDC_REPAIR, 0);
        break;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_GO && HIWORD(wParam) == 0)
            OnGo(dialog);
        else if (LOWORD(wParam) == IDC_REPAIR)
            StartRepairJob();
        break;
    }
    return FALSE;
}

void ReadDelays(HWND dialog) {
    char text[256] = {};
    GetDlgItemTextA(dialog, IDC_REFRESH_MINUTES, text, sizeof text);
    if (text[0] == '\0') {
        // A blank refresh delay disables refreshing, item delay included.
        g_refreshMinutes = 0;
        g_itemDelaySeconds = 0;
        return;
    }
    g_refreshMinutes = ParseDecimal(text);

    text[0] = '\0';
    GetDlgItemTextA(dialog, IDC_ITEM_SECONDS, text, sizeof text);
    g_itemDelaySeconds = text[0] == '\0' ? 0 : ParseDecimal(text);
}
