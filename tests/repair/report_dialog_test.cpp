// The report dialog in this process: its template, the banner, the bound of
// its text, the thread's lines handed back, and the end of a modal run.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "dat/repair_job.h"
#include "dat/report.h"
#include "dat/selection.h"
#include "res/resource.h"

namespace {

const std::string kBanner = "Website for Tidewatch: https://github.com/tidewatch/tidewatch . Email "
                            "reports to tidewatch.reports@example.org . Good luck!!\r\n\r\n";
const char kNoFiles[4] = {};
const std::size_t kTextLimit = 63999; // 64000 bytes with the terminating zero

HWND CreateReport(const SelectionRecord& record) {
    return CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_REPORT), nullptr,
                              ReportDlgProc, reinterpret_cast<LPARAM>(&record));
}

std::string ReportText(HWND dialog) {
    HWND edit = GetDlgItem(dialog, IDC_REPORT_TEXT);
    std::string text(GetWindowTextLengthA(edit) + 1, '\0');
    text.resize(GetDlgItemTextA(dialog, IDC_REPORT_TEXT, &text[0], static_cast<int>(text.size())));
    return text;
}

void AppendPath(const std::string& path) {
    AppendReport(kReportVerifying, reinterpret_cast<std::uintptr_t>(path.c_str()), 1);
}

std::size_t Occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

TEST(ReportTemplate, MatchesTheDialogAndEditLayout) {
    const SelectionRecord record{0, kNoFiles};
    HWND dialog = CreateReport(record);
    ASSERT_NE(nullptr, dialog) << "error " << GetLastError();
    char caption[64] = {};
    GetWindowTextA(dialog, caption, sizeof caption);
    EXPECT_STREQ("DAT Repairer report", caption);
    const LONG style = GetWindowLongA(dialog, GWL_STYLE);
    EXPECT_EQ(static_cast<LONG>(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME),
              style & (WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME));
    EXPECT_FALSE(IsWindowVisible(dialog)) << "shown before its report was written";

    HWND edit = GetDlgItem(dialog, IDC_REPORT_TEXT);
    ASSERT_NE(nullptr, edit);
    char className[32] = {};
    GetClassNameA(edit, className, sizeof className);
    EXPECT_STREQ("Edit", className);
    const LONG wanted =
        WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_TABSTOP | ES_MULTILINE | ES_READONLY;
    EXPECT_EQ(wanted, GetWindowLongA(edit, GWL_STYLE) & wanted);
    // An edit control in a dialog trades WS_BORDER for the sunken edge.
    EXPECT_TRUE((GetWindowLongA(edit, GWL_STYLE) & WS_BORDER) ||
                (GetWindowLongA(edit, GWL_EXSTYLE) & WS_EX_CLIENTEDGE));

    DestroyWindow(dialog);
}

struct Collected {
    std::string text;
};
void Collect(void* context, const char* line) {
    static_cast<Collected*>(context)->text += line;
}

TEST(ReportDialog, ADestroyedDialogHandsTheThreadsLinesBack) {
    Collected earlier;
    SetReportSink(Collect, &earlier);
    const SelectionRecord record{0, kNoFiles};
    HWND dialog = CreateReport(record);
    ASSERT_NE(nullptr, dialog);
    AppendPath("C:\\in-dialog.dat");
    DestroyWindow(dialog);
    AppendPath("C:\\after.dat");
    SetReportSink(nullptr, nullptr);
    EXPECT_EQ("Verifying C:\\after.dat...\r\n", earlier.text);
}

TEST(ReportDialog, StopsAtItsBoundWithOneCutShortLineAndKeepsEverythingBefore) {
    const SelectionRecord record{0, kNoFiles};
    HWND dialog = CreateReport(record);
    ASSERT_NE(nullptr, dialog);
    const std::size_t cutLength = std::strlen(kReportCutShort);
    const std::size_t lineOverhead = std::strlen("Verifying ...\r\n");

    // Lines of 1000 characters until less than one such line of room is left
    // in front of the cut-short line.
    std::string expected = kBanner;
    const std::string path(1000 - lineOverhead, 'p');
    while (expected.size() + 1000 + cutLength <= kTextLimit) {
        AppendPath(path);
        expected += "Verifying " + path + "...\r\n";
    }
    ASSERT_EQ(expected, ReportText(dialog));

    // A line that fills the text exactly up to the room the notice needs.
    const std::size_t room = kTextLimit - cutLength - expected.size();
    ASSERT_GT(room, lineOverhead);
    const std::string exact(room - lineOverhead, 'e');
    AppendPath(exact);
    expected += "Verifying " + exact + "...\r\n";
    ASSERT_EQ(kTextLimit - cutLength, expected.size());
    EXPECT_EQ(expected, ReportText(dialog));

    // The next line no longer fits: the notice instead, once, and then nothing.
    AppendPath("C:\\short.dat");
    expected += kReportCutShort;
    EXPECT_EQ(expected, ReportText(dialog));
    AppendPath("C:\\later.dat");
    AppendReport(kReportPointer, 1, 0);
    const std::string text = ReportText(dialog);
    EXPECT_EQ(expected, text);
    EXPECT_EQ(kTextLimit, text.size());
    EXPECT_EQ(1u, Occurrences(text, kReportCutShort));
    DestroyWindow(dialog);
}

// A first line one character too long for the room left in front of the
// notice, or far too long, gives the notice instead.
TEST(ReportDialog, ALineTooLongForTheRoomIsReplacedByTheCutShortLine) {
    const std::size_t room = kTextLimit - std::strlen(kReportCutShort) - kBanner.size();
    const std::size_t lineOverhead = std::strlen("Verifying ...\r\n");
    for (std::size_t length : {room + 1, std::size_t(70000)}) {
        const SelectionRecord record{0, kNoFiles};
        HWND dialog = CreateReport(record);
        ASSERT_NE(nullptr, dialog);
        AppendPath(std::string(length - lineOverhead, 'h'));
        EXPECT_EQ(kBanner + kReportCutShort, ReportText(dialog)) << "a line of " << length;
        DestroyWindow(dialog);
    }
}

// Selection of the report's text once the dialog is on screen and focused.
DWORD g_shownSelStart, g_shownSelEnd;

VOID CALLBACK CloseNewestReport(HWND, UINT, UINT_PTR timer, DWORD) {
    if (g_hReport && IsWindowVisible(g_hReport)) {
        KillTimer(nullptr, timer);
        SendDlgItemMessageA(g_hReport, IDC_REPORT_TEXT, EM_GETSEL,
                            reinterpret_cast<WPARAM>(&g_shownSelStart),
                            reinterpret_cast<LPARAM>(&g_shownSelEnd));
        PostMessageA(g_hReport, WM_CLOSE, 0, 0);
    }
}

TEST(ReportDialog, ClosingAModalReportEndsItsRunAndItsTextIsShownUnselected) {
    const SelectionRecord record{0, kNoFiles};
    const UINT_PTR timer = SetTimer(nullptr, 0, 50, CloseNewestReport);
    ASSERT_NE(0u, timer);
    const INT_PTR result =
        DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_REPORT), nullptr,
                        ReportDlgProc, reinterpret_cast<LPARAM>(&record));
    KillTimer(nullptr, timer);
    EXPECT_EQ(0, result);
    EXPECT_EQ(nullptr, g_hReport);
    // The focus given to the report on showing it leaves nothing selected.
    EXPECT_EQ(g_shownSelStart, g_shownSelEnd)
        << "the shown report is selected from " << g_shownSelStart << " to " << g_shownSelEnd;
}

} // namespace
