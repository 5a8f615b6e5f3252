#include <atomic>
#include <cstring>
#include <string>

#include "job/repair_job.h"
#include "dat/dat_io.h"
#include "dat/report.h"
#include "job/selection.h"
#include "res/resource.h"

HWND g_hReport;
void (*g_sessionEnd)();

namespace {

// Posted by the initialisation: the files are processed once it arrives.
constexpr UINT kStartReport = WM_APP;
// Sent by the thread that processes the files: a line (lParam), a repair
// question (lParam a Question), and posted as its last act: done.
constexpr UINT kReportLine = WM_APP + 1;
constexpr UINT kAskRepair = WM_APP + 2;
constexpr UINT kFilesDone = WM_APP + 3;
// Shows the lines still pending once kShowEveryMs has passed.
constexpr UINT_PTR kShowTimer = 1;

// While files are processed, lines that come quicker than this are shown
// together: a line takes microseconds to make, while each change of an edit
// control on screen takes milliseconds (it measures and scrolls its text).
constexpr DWORD kShowEveryMs = 100;

DatIoFaultHook s_faultHook;
void* s_faultContext;

// One report dialog's state, kept in its DWLP_USER slot from WM_INITDIALOG
// to WM_NCDESTROY. The files are processed on a thread of their own, so that
// the report answers its messages during a long copy; that thread reads
// names, isSingle and closeRequested (also its copies' cancel), everything
// else is the dialog's.
struct ReportState {
    HWND dialog = nullptr;
    int isSingle = 0;
    const char* names = nullptr;
    HANDLE files = nullptr;                  // the thread processing the files
    bool started = false;                    // the files are being processed, or have been
    bool filesDone = false;                  // their thread has ended, or is about to
    bool cutShort = false;                   // the cut-short line has been written
    std::atomic<bool> closeRequested{false}; // closed: no more files, no more questions
    DWORD selFrom = 0, selTo = 0;            // the view when the focus left: none yet, the top
    LRESULT topLine = 0;
    std::string pending; // lines written but not yet shown
    DWORD shownAt = 0;   // when lines were last shown
    ReportSink previousSink = nullptr;
    void* previousContext = nullptr;
};

struct Question {
    const char* path;
    bool yes;
};

ReportState* StateOf(HWND dialog) {
    return reinterpret_cast<ReportState*>(GetWindowLongPtrA(dialog, DWLP_USER));
}

HWND EditOf(const ReportState* state) {
    return GetDlgItem(state->dialog, IDC_REPORT_TEXT);
}

// Selects from..to and scrolls the text so that line `top` is the first shown.
void SetView(HWND edit, DWORD from, DWORD to, LRESULT top) {
    SendMessageA(edit, EM_SETSEL, from, to);
    SendMessageA(edit, EM_LINESCROLL, 0, top - SendMessageA(edit, EM_GETFIRSTVISIBLELINE, 0, 0));
}

// Adds the pending lines at the end of the text as it stands (the edit
// control re-lays only the new part: rewriting the whole text for each line
// made a full report take most of a minute) and paints them at once. The
// view and the selection stay where they were: at the top, unless the user
// has scrolled or selected.
void ShowPendingLines(ReportState* state) {
    KillTimer(state->dialog, kShowTimer);
    if (state->pending.empty())
        return;
    HWND edit = EditOf(state);
    const int length = GetWindowTextLengthA(edit);
    const LRESULT top = SendMessageA(edit, EM_GETFIRSTVISIBLELINE, 0, 0);
    DWORD from = 0, to = 0;
    SendMessageA(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&from), reinterpret_cast<LPARAM>(&to));
    SendMessageA(edit, EM_SETSEL, length, length);
    SendMessageA(edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(state->pending.c_str()));
    SetView(edit, from, to, top);
    UpdateWindow(edit);
    state->pending.clear();
    state->shownAt = GetTickCount();
}

// Adds one line. The text and its zero stay within kReportTextSize bytes;
// room for the cut-short line is always kept, so it can be written when
// needed. Lines of the files' thread are shown in batches.
void AddLine(ReportState* state, const char* line, bool batched) {
    if (state->cutShort)
        return;
    const std::size_t length = GetWindowTextLengthA(EditOf(state)) + state->pending.size();
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
    const bool first = state->pending.empty();
    state->pending += added;
    if (!batched || GetTickCount() - state->shownAt >= kShowEveryMs)
        ShowPendingLines(state);
    else if (first)
        SetTimer(state->dialog, kShowTimer, kShowEveryMs, nullptr);
}

// Report sink of the dialog's own thread.
void AppendToReportDialog(void* context, const char* line) {
    AddLine(static_cast<ReportState*>(context), line, false);
}

// The repair question: a box owned by the report, with the default caption.
// A report closed meanwhile repairs nothing more.
bool AskRepair(ReportState* state, const char* path) {
    if (state->closeRequested)
        return false;
    ShowPendingLines(state);
    const std::string question =
        FormatReportLine(kRepairQuestion, reinterpret_cast<std::uintptr_t>(path), 1);
    const int answer = MessageBoxA(state->dialog, question.c_str(), nullptr, MB_YESNO);
    return answer == IDYES && !state->closeRequested;
}

// The thread that processes the files hands its lines and questions to the
// dialog's thread, and waits for each to be taken: one file after another,
// in order.
void SendLine(void* context, const char* line) {
    SendMessageA(static_cast<ReportState*>(context)->dialog, kReportLine, 0,
                 reinterpret_cast<LPARAM>(line));
}

bool SendQuestion(void* context, const char* path) {
    Question question{path, false};
    SendMessageA(static_cast<ReportState*>(context)->dialog, kAskRepair, 0,
                 reinterpret_cast<LPARAM>(&question));
    return question.yes;
}

bool NotClosed(void* context) {
    return !static_cast<ReportState*>(context)->closeRequested;
}

DWORD WINAPI ProcessFiles(LPVOID context) {
    ReportState* state = static_cast<ReportState*>(context);
    SetDatIoFaultHook(s_faultHook, s_faultContext);
    DatIoSetThreadCancel(&state->closeRequested);
    SetReportSink(SendLine, state);
    WriteRepairReport(state->names, state->isSingle, SendQuestion, state, NotClosed);
    DatIoSetThreadCancel(nullptr);
    PostMessageA(state->dialog, kFilesDone, 0, 0);
    return 0;
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

void OnStartReport(ReportState* state) {
    if (state->started || state->closeRequested)
        return;
    state->started = true;
    ShowWindow(state->dialog, SW_SHOW);
    UpdateWindow(state->dialog);
    state->files = CreateThread(nullptr, 0, ProcessFiles, state, 0, nullptr);
    if (!state->files) // no thread to spare: processed here, unanswered meanwhile
        ProcessFiles(state);
}

// Only the first focus gain shows the report from the top, unselected; every
// later one puts back the view the user left. The dialog has just selected
// the whole text, and so shown its end, whenever it gives the report the
// focus; a click that follows still places the caret.
void OnReportFocus(ReportState* state, WORD event) {
    HWND edit = EditOf(state);
    if (event == EN_KILLFOCUS) {
        SendMessageA(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&state->selFrom),
                     reinterpret_cast<LPARAM>(&state->selTo));
        state->topLine = SendMessageA(edit, EM_GETFIRSTVISIBLELINE, 0, 0);
    } else if (event == EN_SETFOCUS) {
        SetView(edit, state->selFrom, state->selTo, state->topLine);
    }
}

// Ends this job alone. The report hides at once; its thread abandons a copy
// in progress at the next chunk, opens no further file and asks nothing
// more, and the dialog ends once that thread is done (within a chunk).
void OnClose(ReportState* state) {
    state->closeRequested = true;
    ShowWindow(state->dialog, SW_HIDE);
    if (!state->started || state->filesDone)
        EndDialog(state->dialog, 0);
}

void OnFilesDone(ReportState* state) {
    state->filesDone = true;
    ShowPendingLines(state);
    if (state->closeRequested)
        EndDialog(state->dialog, 0);
}

// Waits for the files' thread, taking its lines and questions meanwhile,
// which a closed report answers No.
void WaitForFiles(ReportState* state) {
    state->closeRequested = true;
    if (!state->files)
        return;
    while (MsgWaitForMultipleObjects(1, &state->files, FALSE, INFINITE, QS_SENDMESSAGE) !=
           WAIT_OBJECT_0) {
        MSG msg;
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    CloseHandle(state->files);
    state->files = nullptr;
}

void OnNcDestroy(HWND dialog) {
    ReportState* state = StateOf(dialog);
    if (!state)
        return;
    WaitForFiles(state);
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
    ReportState* state = StateOf(dialog);
    if (message == WM_INITDIALOG)
        OnInitDialog(dialog, reinterpret_cast<const SelectionRecord*>(lParam));
    if (!state)
        return 0;
    switch (message) {
    case kStartReport:
        OnStartReport(state);
        break;
    case kReportLine:
        AddLine(state, reinterpret_cast<const char*>(lParam), true);
        break;
    case kAskRepair: {
        Question* question = reinterpret_cast<Question*>(lParam);
        question->yes = AskRepair(state, question->path);
        break;
    }
    case kFilesDone:
        OnFilesDone(state);
        break;
    case WM_TIMER: // kShowTimer
        ShowPendingLines(state);
        break;
    case WM_CLOSE:
        OnClose(state);
        break;
    case WM_ENDSESSION: // log-off or shutdown
        if (wParam && g_sessionEnd)
            g_sessionEnd();
        break;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_REPORT_TEXT)
            OnReportFocus(state, HIWORD(wParam));
        break;
    case WM_NCDESTROY:
        OnNcDestroy(dialog);
        break;
    }
    return 0;
}

void SetReportFaultHook(DatIoFaultHook hook, void* context) {
    s_faultHook = hook;
    s_faultContext = context;
}
