// The report dialog in this process: its template, the banner, the bound of
// its text, one report per job thread, and the end of a modal run.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

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

    RECT client = {0, 0, 266, 189};
    MapDialogRect(dialog, &client);
    RECT actual;
    GetClientRect(dialog, &actual);
    EXPECT_EQ(client.right, actual.right);
    EXPECT_EQ(client.bottom, actual.bottom);
    RECT box = {1, 1, 264, 187}; // position and size, each mapped on its own
    MapDialogRect(dialog, &box);
    RECT editBox;
    GetWindowRect(edit, &editBox);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&editBox), 2);
    EXPECT_EQ(box.left, editBox.left);
    EXPECT_EQ(box.top, editBox.top);
    EXPECT_EQ(box.right, editBox.right - editBox.left);
    EXPECT_EQ(box.bottom, editBox.bottom - editBox.top);
    DestroyWindow(dialog);
}

TEST(ReportDialog, StartsWithTheBannerAndTakesTheThreadsLines) {
    const SelectionRecord record{0, kNoFiles};
    HWND dialog = CreateReport(record);
    ASSERT_NE(nullptr, dialog);
    EXPECT_EQ(kBanner, ReportText(dialog));
    EXPECT_EQ(dialog, g_hReport);
    AppendReport(kReportPointer, 0xFFFFFFFFu, 0);
    EXPECT_EQ(kBanner + "Pointer: ffffffff\r\n", ReportText(dialog));
    DestroyWindow(dialog);
    EXPECT_EQ(nullptr, g_hReport);
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

TEST(ReportDialog, OneHugeLineIsReplacedByTheCutShortLine) {
    const SelectionRecord record{0, kNoFiles};
    HWND dialog = CreateReport(record);
    ASSERT_NE(nullptr, dialog);
    AppendPath(std::string(70000, 'h'));
    EXPECT_EQ(kBanner + kReportCutShort, ReportText(dialog));
    DestroyWindow(dialog);
}

// Two jobs, each on its own thread with its own dialog, take turns writing.
TEST(ReportDialog, EachJobThreadWritesIntoItsOwnReport) {
    // The two threads take turns, one step each, so their lines interleave.
    // Only one thread touches its dialog at a time: Wine's text layout cache
    // is not safe against two threads laying out edit text at once.
    HANDLE turn[2] = {CreateEventA(nullptr, FALSE, TRUE, nullptr),
                      CreateEventA(nullptr, FALSE, FALSE, nullptr)};
    std::string texts[2];
    auto job = [&](int me) {
        const SelectionRecord record{0, kNoFiles};
        auto step = [&](auto&& action) {
            WaitForSingleObject(turn[me], 10000);
            action();
            SetEvent(turn[1 - me]);
        };
        HWND dialog = nullptr;
        step([&] { dialog = CreateReport(record); });
        for (int round = 0; round < 3; ++round)
            step([&] {
                AppendPath("C:\\job" + std::to_string(me) + "-" + std::to_string(round) + ".dat");
            });
        step([&] {
            texts[me] = dialog ? ReportText(dialog) : "no dialog";
            DestroyWindow(dialog);
        });
    };
    std::thread first(job, 0), second(job, 1);
    first.join();
    second.join();
    CloseHandle(turn[0]);
    CloseHandle(turn[1]);
    for (int me = 0; me < 2; ++me) {
        std::string expected = kBanner;
        for (int round = 0; round < 3; ++round)
            expected += "Verifying C:\\job" + std::to_string(me) + "-" + std::to_string(round) +
                        ".dat...\r\n";
        EXPECT_EQ(expected, texts[me]) << "job " << me;
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
