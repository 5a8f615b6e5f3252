#include <cstring>
#include <string>

#include "job/repair_job.h"
#include "dat/report.h"
#include "job/selection.h"
#include "res/resource.h"

HWND g_hReport;

namespace {

// Posted by the initialisation: the files are processed once it arrives.
constexpr UINT kStartReport = WM_APP;

// While files are processed, lines that come quicker than this are shown
// together: a line takes microseconds to make, while each change of an edit
// control on screen takes milliseconds (it measures and scrolls its text).
constexpr DWORD kShowEveryMs = 100;

// One report dialog's state, kept in its DWLP_USER slot from WM_INITDIALOG
// to WM_NCDESTROY.
struct ReportState {
    HWND dialog = nullptr;
    int isSingle = 0;
    const char* names = nullptr;
    bool started = false;        // the files are being processed, or have been
    bool processing = false;     // the files are being processed
    bool cutShort = false;       // the cut-short line has been written
    bool closeRequested = false; // closed while its files were still being processed
    std::string pending;         // lines written but not yet shown
    DWORD shownAt = 0;           // when lines were last shown
    ReportSink previousSink = nullptr;
    void* previousContext = nullptr;
};

ReportState* StateOf(HWND dialog) {
    return reinterpret_cast<ReportState*>(GetWindowLongPtrA(dialog, DWLP_USER));
}

// Adds the pending lines at the end of the text as it stands (the edit
// control re-lays only the new part: rewriting the whole text for each line
// made a full report take most of a minute) and paints them at once, the
// thread being busy until the next file. The view and the selection stay
// where they were: at the top, unless the user has scrolled or selected.
void ShowPendingLines(ReportState* state) {
    if (state->pending.empty())
        return;
    HWND edit = GetDlgItem(state->dialog, IDC_REPORT_TEXT);
    const int length = GetWindowTextLengthA(edit);
    const LRESULT top = SendMessageA(edit, EM_GETFIRSTVISIBLELINE, 0, 0);
    DWORD from = 0, to = 0;
    SendMessageA(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&from), reinterpret_cast<LPARAM>(&to));
    SendMessageA(edit, EM_SETSEL, length, length);
    SendMessageA(edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(state->pending.c_str()));
    SendMessageA(edit, EM_SETSEL, from, to);
    SendMessageA(edit, EM_LINESCROLL, 0, top - SendMessageA(edit, EM_GETFIRSTVISIBLELINE, 0, 0));
    UpdateWindow(edit);
    state->pending.clear();
    state->shownAt = GetTickCount();
}

// Report sink of one dialog. The text and its zero stay within
// kReportTextSize bytes; room for the cut-short line is always kept, so it
// can be written when needed.
void AppendToReportDialog(void* context, const char* line) {
    ReportState* state = static_cast<ReportState*>(context);
    if (state->cutShort)
        return;
    const std::size_t length =
        GetWindowTextLengthA(GetDlgItem(state->dialog, IDC_REPORT_TEXT)) + state->pending.size();
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
    state->pending += added;
    if (!state->processing || GetTickCount() - state->shownAt >= kShowEveryMs)
        ShowPendingLines(state);
}

// The repair question: a box owned by the report, with the default caption.
bool AskRepair(void* context, const char* path) {
    ReportState* state = static_cast<ReportState*>(context);
    if (state->closeRequested)
        return false;
    ShowPendingLines(state);
    const std::string question =
        FormatReportLine(kRepairQuestion, reinterpret_cast<std::uintptr_t>(path), 1);
    return MessageBoxA(state->dialog, question.c_str(), nullptr, MB_YESNO) == IDYES;
}

// Between files: the thread's pending messages, as the dialog's own loop
// would handle them, so that the report scrolls, repaints and closes.
void AnswerPendingMessages(void* context) {
    const ReportState* state = static_cast<const ReportState*>(context);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        if (!IsDialogMessageA(state->dialog, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
}

void OnInitDialog(HWND dialog, const SelectionRecord* record) {
    static const char kNothing[2] = {'\0', '\0'};
    ReportState* state = new ReportState;
    state->dialog = dialog;
    state->isSingle = record ? record->isSingle : 0;
    state->names = record && record->names ? record->names : kNothing;
    SetWindowLongPtrA(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(state));
    g_hReport = dialog;
    // The edit's own limit would otherwise stop the text short of the bound.
    SendDlgItemMessageA(dialog, IDC_REPORT_TEXT, EM_SETLIMITTEXT, kReportTextSize, 0);
    SetReportSink(AppendToReportDialog, state, &state->previousSink, &state->previousContext);
    // The files are processed once this arrives, in the dialog's own loop.
    // A dialog is shown only when its queue is empty, so it shows itself
    // first and stays on screen while the report grows.
    PostMessageA(dialog, kStartReport, 0, 0);
}

void OnStartReport(HWND dialog) {
    ReportState* state = StateOf(dialog);
    if (!state || state->started)
        return;
    state->started = true;
    ShowWindow(dialog, SW_SHOW);
    UpdateWindow(dialog);
    state->processing = true;
    WriteRepairReport(state->names, state->isSingle, AskRepair, state, AnswerPendingMessages);
    state->processing = false;
    ShowPendingLines(state);
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
    case kStartReport:
        OnStartReport(dialog);
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
