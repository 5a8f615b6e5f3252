// The repair job: warning, file selection and the report dialog.
#pragma once

#include <windows.h>
#include <commdlg.h>

#include "dat/dat_io.h"

// Thread entry started by command IDC_REPAIR of the setup dialog. The
// parameter is ignored; returns 0.
DWORD WINAPI RepairJob(LPVOID parameter);

// The open-file dialog as a job runs it. Returns non-zero when files were
// chosen; otherwise *error receives the dialog's extended error (0 when the
// user cancelled).
using OpenFileDialog = BOOL (*)(OPENFILENAMEA* request, DWORD* error);

// The whole job with the given dialog (RepairJob passes the real one):
// warning, selection, report. Returns 0 once its report has been closed or
// the job has ended early.
DWORD RunRepairJob(OpenFileDialog openDialog);

// The report dialog's creation parameter. names is the open-file dialog's
// selection list (see job/selection.h); isSingle is 1 when it names exactly
// one file. Both stay the caller's and must outlive the dialog.
struct SelectionRecord {
    int isSingle;
    const char* names;
};

// Procedure of the report dialog (IDD_REPORT). Its initialisation takes the
// calling thread's report lines until the dialog is destroyed and posts it a
// message on which it shows itself and writes the whole report into control
// IDC_REPORT_TEXT, processing every selected file in order on a thread of
// its own, while the dialog keeps answering its messages; lines are painted
// as they come, those quicker than ten a second together. The repair
// questions are owned by the dialog. Closing the dialog hides it and stops
// its job alone: a copy in progress is abandoned at its next chunk (the
// file left as it was), no further file is opened, and the dialog ends
// (EndDialog, so a modal run returns 0) as soon as its thread is done; the
// lines until then are still added. Only its first focus gain shows the
// report from the top, unselected; later ones keep the user's view. The end
// of the session (log-off, shutdown) calls g_sessionEnd.
INT_PTR CALLBACK ReportDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The program's way out, taken when the session ends while a report is open;
// set by start-up. Null: the report lets the session end as it may.
extern void (*g_sessionEnd)();

// Tests: the file layer's fault hook (a thread's own) for the threads that
// process reports' files.
void SetReportFaultHook(DatIoFaultHook hook, void* context);

// The newest report dialog, null when none is open. Informational only:
// each job writes into its own dialog, never through this handle.
extern HWND g_hReport;

// Bound of the report text, its terminating zero included.
inline constexpr int kReportTextSize = 64000;
