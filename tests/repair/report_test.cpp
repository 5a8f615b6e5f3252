// The report dialog and the repair job in process. The open-file dialog is
// a script; a timer of this thread plays the user in the modal loops.
#include "dat/repair_job.h"

#include <cderr.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "dat/report.h"
#include "res/resource.h"
#include "tests/e2e/rig.h"

namespace {

const std::size_t kTextLimit = kReportTextSize - 1;
const char kNoFiles[4] = {};

std::string ReportText(HWND dialog) {
    return TextOf(dialog, IDC_REPORT_TEXT);
}

void AppendPath(const std::string& path) {
    AppendReport(kReportVerifying, reinterpret_cast<std::uintptr_t>(path.c_str()), 1);
}

HWND CreateReport() {
    static const SelectionRecord record{0, kNoFiles};
    return CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_REPORT), nullptr,
                              ReportDlgProc, reinterpret_cast<LPARAM>(&record));
}

TEST(ReportDialog, StopsAtItsBoundWithOneCutShortLine) {
    const std::size_t overhead = std::strlen("Verifying ...\r\n");
    const std::size_t cut = std::strlen(kReportCutShort);
    const std::size_t room = kTextLimit - cut - std::strlen(kReportBanner);
    // A first line one character too long for the room, or far too long.
    for (std::size_t length : {room + 1, std::size_t(70000)}) {
        HWND dialog = CreateReport();
        AppendPath(std::string(length - overhead, 'h'));
        EXPECT_EQ(std::string(kReportBanner) + kReportCutShort, ReportText(dialog)) << length;
        DestroyWindow(dialog);
    }
    // Lines that fill the text exactly up to the room the notice needs.
    HWND dialog = CreateReport();
    std::string expected = kReportBanner;
    while (expected.size() < kTextLimit - cut) {
        const std::size_t line = std::min<std::size_t>(1000, kTextLimit - cut - expected.size());
        ASSERT_GT(line, overhead);
        const std::string path(line - overhead, 'p');
        AppendPath(path);
        expected += "Verifying " + path + "...\r\n";
    }
    EXPECT_EQ(expected, ReportText(dialog));
    EXPECT_EQ(0, SendDlgItemMessageA(dialog, IDC_REPORT_TEXT, EM_GETFIRSTVISIBLELINE, 0, 0));
    AppendPath("C:\\next.dat");
    AppendPath("C:\\later.dat");
    EXPECT_EQ(expected + kReportCutShort, ReportText(dialog));
    DestroyWindow(dialog);
}

TEST(ReportDialog, ADestroyedDialogHandsTheThreadsLinesBack) {
    std::string earlier;
    SetReportSink([](void* text, const char* line) { *static_cast<std::string*>(text) += line; },
                  &earlier);
    HWND dialog = CreateReport();
    AppendPath("C:\\in-dialog.dat");
    DestroyWindow(dialog);
    AppendPath("C:\\after.dat");
    SetReportSink(nullptr, nullptr);
    EXPECT_EQ("Verifying C:\\after.dat...\r\n", earlier);
}

// The open-file dialog as a script: records the request, then answers.
struct DialogScript {
    OPENFILENAMEA request = {};
    std::string filter;
    bool zeroFilled = false;
    BOOL result = FALSE;
    DWORD error = 0;
    std::string fill;       // written to the start of the buffer
    bool fillToEnd = false; // names up to the buffer's last byte
} g_script;

BOOL ScriptedDialog(OPENFILENAMEA* request, DWORD* error) {
    g_script.request = *request;
    g_script.filter.assign(request->lpstrFilter, 17);
    g_script.zeroFilled = std::all_of(request->lpstrFile, request->lpstrFile + request->nMaxFile,
                                      [](char c) { return c == '\0'; });
    std::memcpy(request->lpstrFile, g_script.fill.data(), g_script.fill.size());
    if (g_script.fillToEnd)
        std::memset(request->lpstrFile + g_script.fill.size(), 'n',
                    request->nMaxFile - g_script.fill.size());
    *error = g_script.error;
    return g_script.result;
}

// What the user saw, in order ("Warning: ...", "Error: ...", "Report: ..."),
// answering Yes, OK and closing each.
DWORD g_shownFrom, g_shownTo;
LRESULT g_shownTop;

std::vector<std::string> RunJob() {
    std::vector<std::string> seen;
    std::vector<HWND> done;
    WhileModal(
        [&] {
            for (const char* title : {"Warning", "Error", "DAT Repairer report"}) {
                HWND w = FindWindowA("#32770", title);
                if (!w || !IsWindowVisible(w) || std::count(done.begin(), done.end(), w))
                    continue;
                done.push_back(w);
                const bool report = title[0] == 'D';
                if (report) {
                    SendDlgItemMessageA(w, IDC_REPORT_TEXT, EM_GETSEL,
                                        reinterpret_cast<WPARAM>(&g_shownFrom),
                                        reinterpret_cast<LPARAM>(&g_shownTo));
                    g_shownTop =
                        SendDlgItemMessageA(w, IDC_REPORT_TEXT, EM_GETFIRSTVISIBLELINE, 0, 0);
                }
                seen.push_back(std::string(report ? "Report" : title) + ": " +
                               TextOf(w, report ? IDC_REPORT_TEXT : 0xFFFF));
                PostMessageA(w, report ? WM_CLOSE : WM_COMMAND, title[0] == 'W' ? IDYES : IDOK, 0);
            }
            return false;
        },
        [] { EXPECT_EQ(0u, RunRepairJob(ScriptedDialog)); });
    return seen;
}

const std::string kWarned = std::string("Warning: ") + kRepairWarning;

TEST(RepairJob, AsksForDatFilesWithTheFixedRecordAndEndsQuietlyOnCancel) {
    g_script = DialogScript();
    EXPECT_EQ(std::vector<std::string>{kWarned}, RunJob());
    const OPENFILENAMEA& r = g_script.request;
    EXPECT_EQ(76u, r.lStructSize);
    EXPECT_EQ(nullptr, r.hwndOwner);
    EXPECT_EQ(std::string("DAT files\0*.dat\0\0", 17), g_script.filter);
    EXPECT_EQ(64u * 1024u, r.nMaxFile);
    EXPECT_TRUE(g_script.zeroFilled);
    EXPECT_STREQ("Select files to verify", r.lpstrTitle);
    EXPECT_EQ(0x81204u, r.Flags);
    EXPECT_EQ(nullptr, r.lpstrInitialDir);
}

// Too small a buffer, reported or as a list to its last byte: asked to pick
// fewer; any other failure ends quietly; none opens a report.
TEST(RepairJob, DialogFailuresEndWithoutAReport) {
    const std::vector<std::string> fewer = {kWarned, std::string("Error: ") + kSelectFewer};
    g_script = DialogScript();
    g_script.error = FNERR_BUFFERTOOSMALL;
    g_script.fill = "\x10\x27";
    EXPECT_EQ(fewer, RunJob());
    g_script = DialogScript();
    g_script.result = TRUE;
    g_script.fill = std::string("C:\\f\0a.dat\0", 11);
    g_script.fillToEnd = true;
    EXPECT_EQ(fewer, RunJob());
    g_script = DialogScript();
    g_script.error = FNERR_INVALIDFILENAME;
    EXPECT_EQ(std::vector<std::string>{kWarned}, RunJob());
}

TEST(RepairJob, AFolderWithOneNameIsJoinedAndTheReportShownUnselectedFromTheTop) {
    g_script = DialogScript();
    g_script.result = TRUE;
    g_script.fill = std::string("C:\\no-such\0only.dat\0\0", 21);
    const std::string path = "C:\\no-such\\only.dat";
    EXPECT_EQ(
        (std::vector<std::string>{kWarned, "Report: " + std::string(kReportBanner) + "Verifying " +
                                               path + "...\r\nERROR: Footer of " + path +
                                               " is damaged. No chance of repair\r\n"}),
        RunJob());
    EXPECT_EQ(nullptr, g_hReport);
    EXPECT_EQ(g_shownFrom, g_shownTo) << "the shown report is selected";
    // A report longer than its window is shown from its top.
    g_script.fill = std::string("C:\\no-such\0", 11);
    for (int i = 0; i < 12; ++i)
        g_script.fill += "n" + std::to_string(i) + ".dat" + '\0';
    RunJob();
    EXPECT_EQ(0, g_shownTop);
}

} // namespace
