#include <cstring>
#include <string>

#include "job/repair_job.h"
#include "dat/report.h"
#include "job/selection.h"
#include "res/resource.h"

HWND g_hReport;

namespace {

// One report dialog's state, kept in its DWLP_USER slot from WM_INITDIALOG
// to WM_NCDESTROY.
struct ReportState {
    HWND dialog;
    bool cutShort;       // the cut-short line has been written
    bool closeRequested; // closed while its files were still being processed
    ReportSink previousSink;
    void* previousContext;
};

ReportState* StateOf(HWND dialog) {
    return reinterpret_cast<ReportState*>(GetWindowLongPtrA(dialog, DWLP_USER));
}

// Report sink of one dialog. The text and its zero stay within
// kReportTextSize bytes; room for the cut-short line is always kept, so it
// can be written when needed. The line is added at the end of the text as it
// stands (the edit control re-lays only the new part: rewriting the whole
// text for each line made a full report take most of a minute), and the view
// stays where it was, at the top unless the user has scrolled.
void AppendToReportDialog(void* context, const char* line) {
    ReportState* state = static_cast<ReportState*>(context);
    if (state->cutShort)
        return;
    HWND edit = GetDlgItem(state->dialog, IDC_REPORT_TEXT);
    const std::size_t length = GetWindowTextLengthA(edit);
    const std::size_t limit = kReportTextSize - 1; // characters, without the zero
    const std::size_t lineLength = std::strlen(line);
    const std::size_t cutLength = sizeof kReportCutShort - 1;
    const char* added = line;
    if (length > limit - cutLength || lineLength > limit - cutLength - length) {
        state->cutShort = true;
        if (length > limit - cutLength)
            return;
        added = kReportCutShort;
    }
    const LRESULT top = SendMessageA(edit, EM_GETFIRSTVISIBLELINE, 0, 0);
    SendMessageA(edit, EM_SETSEL, length, length);
    SendMessageA(edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(added));
    SendMessageA(edit, EM_LINESCROLL, 0, top - SendMessageA(edit, EM_GETFIRSTVISIBLELINE, 0, 0));
}

// The repair question: a box with no owner and the default caption.
bool AskRepair(void* context, const char* path) {
    const ReportState* state = static_cast<const ReportState*>(context);
    if (state->closeRequested)
        return false;
    const std::string question =
        FormatReportLine(kRepairQuestion, reinterpret_cast<std::uintptr_t>(path), 1);
    return MessageBoxA(nullptr, question.c_str(), nullptr, MB_YESNO) == IDYES;
}

void OnInitDialog(HWND dialog, const SelectionRecord* record) {
    ReportState* state = new ReportState{dialog, false, false, nullptr, nullptr};
    SetWindowLongPtrA(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(state));
    g_hReport = dialog;
    // The edit's own limit would otherwise stop the text short of the bound.
    SendDlgItemMessageA(dialog, IDC_REPORT_TEXT, EM_SETLIMITTEXT, kReportTextSize, 0);
    SetReportSink(AppendToReportDialog, state, &state->previousSink, &state->previousContext);
    static const char kNothing[2] = {'\0', '\0'};
    const char* names = record && record->names ? record->names : kNothing;
    WriteRepairReport(names, record ? record->isSingle : 0, AskRepair, state);
}

void OnNcDestroy(HWND dialog) {
    ReportState* state = StateOf(dialog);
    if (!state)
        return;
    SetWindowLongPtrA(dialog, DWLP_USER, 0);
    // Hand the thread's report back to whatever it wrote to before, unless a
    // newer dialog of this thread has taken it meanwhile.
    ReportSink currentSink = nullptr;
    void* currentContext = nullptr;
    SetReportSink(state->previousSink, state->previousContext, &currentSink, &currentContext);
    if (currentContext != state)
        SetReportSink(currentSink, currentContext);
    InterlockedCompareExchangePointer(reinterpret_cast<PVOID volatile*>(&g_hReport), nullptr,
                                      dialog);
    delete state;
}

} // namespace

INT_PTR CALLBACK ReportDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog(dialog, reinterpret_cast<const SelectionRecord*>(lParam));
        break;
    case WM_CLOSE:
        // Ends this job alone. A close that arrives while files are still
        // being processed stops further repairs; the rest is only verified.
        if (ReportState* state = StateOf(dialog))
            state->closeRequested = true;
        EndDialog(dialog, 0);
        break;
    case WM_COMMAND:
        // The dialog selects the whole report, and so shows its end, whenever
        // it gives the report the focus; show it unselected from the top.
        if (LOWORD(wParam) == IDC_REPORT_TEXT && HIWORD(wParam) == EN_SETFOCUS) {
            PostMessageA(reinterpret_cast<HWND>(lParam), EM_SETSEL, 0, 0);
            PostMessageA(reinterpret_cast<HWND>(lParam), EM_SCROLLCARET, 0, 0);
        }
        break;
    case WM_NCDESTROY:
        OnNcDestroy(dialog);
        break;
    }
    return 0;
}
