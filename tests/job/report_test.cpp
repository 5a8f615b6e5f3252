// The report dialog and the repair job in process. The open-file dialog is
// a script; a timer of this thread plays the user in the modal loops.
#include "job/repair_job.h"

#include <cderr.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <string>

#include "dat/report.h"
#include "tests/dat/dat_test_util.h"
#include "res/resource.h"
#include "tests/e2e/rig.h"

namespace {

const std::size_t kTextLimit = kReportTextSize - 1;
const char kNoFiles[4] = {};

void AppendPath(const std::string& path) {
    AppendReport(kReportVerifying, reinterpret_cast<std::uintptr_t>(path.c_str()), 1);
}

// Exactly `bytes` bytes of text in Japanese and Cyrillic (ASCII to make up):
// far fewer characters.
std::string Mixed(std::size_t bytes) {
    std::string text;
    while (text.size() + 15 <= bytes)
        text += "\u65e5\u672c-\u0444\u0430\u0439\u043b";
    return text + std::string(bytes - text.size(), 'p');
}

// A report of no files once it has written its banner, hidden again: lines
// reach a hidden one quicker.
HWND CreateReport() {
    static const SelectionRecord record{0, kNoFiles};
    HWND dialog = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_REPORT),
                                     nullptr, ReportDlgProc, reinterpret_cast<LPARAM>(&record));
    EXPECT_TRUE(PollUntil(10000, [&] { return !TextOf(dialog, IDC_REPORT_TEXT).empty(); }));
    ShowWindow(dialog, SW_HIDE);
    return dialog;
}

// The bound counts bytes; lines are cut short whole, never within a character.
TEST(ReportDialog, StopsAtItsBoundWithOneCutShortLine) {
    const std::size_t overhead = std::strlen("Verifying ...\r\n");
    const std::size_t cut = std::strlen(kReportCutShort);
    const std::size_t room = kTextLimit - cut - std::strlen(kReportBanner);
    // A first line one byte too long for the room gives the notice.
    HWND dialog = CreateReport();
    AppendPath(Mixed(room + 1 - overhead));
    EXPECT_EQ(std::string(kReportBanner) + kReportCutShort, TextOf(dialog, IDC_REPORT_TEXT));
    DestroyWindow(dialog);
    // Lines that fill the text exactly up to the room the notice needs.
    dialog = CreateReport();
    std::string expected = kReportBanner;
    while (expected.size() < kTextLimit - cut) {
        const std::size_t line = std::min<std::size_t>(1000, kTextLimit - cut - expected.size());
        ASSERT_GT(line, overhead);
        const std::string path = Mixed(line - overhead);
        AppendPath(path);
        expected += "Verifying " + path + "...\r\n";
    }
    EXPECT_EQ(expected, TextOf(dialog, IDC_REPORT_TEXT));
    EXPECT_EQ(0, SendDlgItemMessageA(dialog, IDC_REPORT_TEXT, EM_GETFIRSTVISIBLELINE, 0, 0));
    AppendPath("C:\\next.dat");
    AppendPath("C:\\later.dat");
    EXPECT_EQ(expected + kReportCutShort, TextOf(dialog, IDC_REPORT_TEXT));
    DestroyWindow(dialog);
}

// The dialog selects the whole text whenever it gives the report the focus
// (here on WM_NEXTDLGCTL; on Windows also on each activation). The first
// time the report is shown from the top; later, as the user left it.
TEST(ReportDialog, OnlyTheFirstFocusGainShowsItFromTheTop) {
    HWND dialog = CreateReport();
    for (int i = 0; i < 200; ++i)
        AppendPath("C:\\" + std::to_string(i) + ".dat");
    ShowWindow(dialog, SW_SHOW);
    HWND edit = GetDlgItem(dialog, IDC_REPORT_TEXT);
    auto view = [&](DWORD from, DWORD to, LRESULT top) {
        SetFocus(nullptr);
        SendMessageA(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(edit), TRUE);
        return PollUntil(2000, [&] {
            DWORD f = 0, t = 0;
            SendMessageA(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&f),
                         reinterpret_cast<LPARAM>(&t));
            return f == from && t == to && SendMessageA(edit, EM_GETFIRSTVISIBLELINE, 0, 0) == top;
        });
    };
    EXPECT_TRUE(view(0, 0, 0)) << "not from the top, unselected";
    SendMessageA(edit, EM_SETSEL, 30, 40);
    SendMessageA(edit, EM_LINESCROLL, 0, 50);
    EXPECT_TRUE(view(30, 40, 50)) << "the user's selection or scroll position was lost";
    DestroyWindow(dialog);
}

// The open-file dialog as a script: records the request, then answers with
// result and error, its list the bytes fill (and names up to its last byte).
struct DialogScript {
    BOOL result;
    DWORD error;
    std::string fill;
    bool toEnd;
    OPENFILENAMEA request;
    std::string filter;
    bool zeroFilled;
} g_script;

BOOL ScriptedDialog(OPENFILENAMEA* request, DWORD* error) {
    std::filesystem::current_path(std::filesystem::temp_directory_path()); // browsed there
    g_script.request = *request;
    g_script.filter.assign(request->lpstrFilter, 17);
    g_script.zeroFilled = std::all_of(request->lpstrFile, request->lpstrFile + request->nMaxFile,
                                      [](char c) { return c == '\0'; });
    std::memcpy(request->lpstrFile, g_script.fill.data(), g_script.fill.size());
    if (g_script.toEnd)
        std::memset(request->lpstrFile + g_script.fill.size(), 'n',
                    request->nMaxFile - g_script.fill.size());
    *error = g_script.error;
    return g_script.result;
}

DWORD g_shownTo;
LRESULT g_shownTop;
std::string g_lastReport; // the report's text as its dialog was destroyed

LRESULT CALLBACK KeepLastReport(int code, WPARAM window, LPARAM lParam) {
    HWND w = reinterpret_cast<HWND>(window);
    if (code == HCBT_DESTROYWND && TextOf(w) == "DAT Repairer report")
        g_lastReport = TextOf(w, IDC_REPORT_TEXT);
    return CallNextHookEx(nullptr, code, window, lParam);
}

// The job with this script; what the user saw, in order ("Warning: ...",
// "Error: ...", "Report: ..."), answering Yes and closing each; the report
// once it shows `last` (or after 30 s): lines come between files. `tick`
// runs every 20 ms meanwhile.
std::vector<std::string> RunJob(
    BOOL result, DWORD error, const std::string& fill, bool toEnd = false, const char* last = "",
    const std::function<void()>& tick = [] {}) {
    g_script = {result, error, fill, toEnd, {}, {}, false};
    std::vector<std::string> seen;
    std::vector<HWND> done;
    const DWORD start = GetTickCount();
    HHOOK hook = SetWindowsHookExA(WH_CBT, KeepLastReport, nullptr, GetCurrentThreadId());
    WhileModal(
        [&] {
            tick();
            for (const char* title : {"Warning", "Error", "DAT Repairer report"}) {
                HWND w = FindWindowA("#32770", title);
                if (!w || !IsWindowVisible(w) || std::count(done.begin(), done.end(), w))
                    continue;
                const bool report = title[0] == 'D';
                const std::string text = TextOf(w, report ? IDC_REPORT_TEXT : 0xFFFF);
                if (report && text.find(last) == text.npos && GetTickCount() - start < 30000)
                    continue;
                done.push_back(w);
                if (report) {
                    SendDlgItemMessageA(w, IDC_REPORT_TEXT, EM_GETSEL, 0,
                                        reinterpret_cast<LPARAM>(&g_shownTo));
                    g_shownTop =
                        SendDlgItemMessageA(w, IDC_REPORT_TEXT, EM_GETFIRSTVISIBLELINE, 0, 0);
                }
                seen.push_back(std::string(report ? "Report" : title) + ": " + text);
                PostMessageA(w, report ? WM_CLOSE : WM_COMMAND, IDYES, 0);
            }
            return false;
        },
        [] { EXPECT_EQ(0u, RunRepairJob(ScriptedDialog)); });
    UnhookWindowsHookEx(hook);
    return seen;
}

const std::string kWarned = std::string("Warning: ") + kRepairWarning;

TEST(RepairJob, AsksForDatFilesWithTheFixedRecordAndEndsQuietlyOnCancel) {
    const std::filesystem::path folder = std::filesystem::current_path();
    EXPECT_EQ(std::vector<std::string>{kWarned}, RunJob(FALSE, 0, ""));
    EXPECT_EQ(folder, std::filesystem::current_path()) << "the dialog's browsing is undone";
    const OPENFILENAMEA& r = g_script.request;
    // The 32-bit program passes the 76-byte record it always has; the 64-bit
    // build its own size of the same record.
#ifdef _WIN64
    EXPECT_EQ(136u, r.lStructSize);
#else
    EXPECT_EQ(76u, r.lStructSize);
#endif
    EXPECT_EQ(std::string("DAT files\0*.dat\0\0", 17), g_script.filter);
    EXPECT_EQ(64u * 1024u, r.nMaxFile);
    EXPECT_TRUE(g_script.zeroFilled);
    EXPECT_STREQ("Select files to verify", r.lpstrTitle);
    EXPECT_EQ(0x81204u, r.Flags);
}

// Too small a buffer, reported or as a list to its last byte: asked to pick
// fewer; any other failure ends quietly; none opens a report.
TEST(RepairJob, DialogFailuresEndWithoutAReport) {
    const std::vector<std::string> fewer = {kWarned, std::string("Error: ") + kSelectFewer};
    EXPECT_EQ(fewer, RunJob(FALSE, FNERR_BUFFERTOOSMALL, "\x10\x27"));
    EXPECT_EQ(fewer, RunJob(TRUE, 0, std::string("C:\\f\0a.dat\0", 11), true));
    EXPECT_EQ(std::vector<std::string>{kWarned}, RunJob(FALSE, FNERR_INVALIDFILENAME, ""));
}

// The missing file's line is followed by the system's reason.
TEST(RepairJob, AFolderWithOneNameIsJoinedAndTheReportShownUnselectedFromTheTop) {
    const std::string path = "C:\\no-such\\only.dat";
    const std::vector<std::string> seen =
        RunJob(TRUE, 0, std::string("C:\\no-such\0only.dat\0\0", 21), false, "only");
    ASSERT_EQ(2u, seen.size());
    EXPECT_EQ(kWarned, seen[0]);
    const std::string shown = "Report: " + std::string(kReportBanner) + "Verifying " + path +
                              "...\r\nERROR: File " + path + " could not be opened\r\n";
    EXPECT_EQ(shown, seen[1].substr(0, shown.size()));
    const std::string reason = seen[1].substr(std::min(shown.size(), seen[1].size()));
    EXPECT_TRUE(std::regex_match(reason, std::regex("Reason: [^\r\n]+\r\n"))) << reason;
    EXPECT_EQ(nullptr, g_hReport);
    EXPECT_EQ(0u, g_shownTo) << "the shown report is selected, or its caret not at the top";
    // A report longer than its window is shown from its top, up to its bound.
    std::string many("C:\\no-such\0", 11);
    for (int i = 100; i < 220; ++i)
        many += std::string(240, 'n') + std::to_string(i) + ".dat" + '\0';
    const std::string full = RunJob(TRUE, 0, many, false, kReportCutShort).at(1);
    EXPECT_EQ(0, g_shownTop);
    EXPECT_LE(full.size(), std::strlen("Report: ") + kTextLimit);
    EXPECT_EQ(kReportCutShort, full.substr(full.rfind("ERROR: R")));
}

// A damaged file and an intact one in a folder of their own; the repair's
// copy is held until the report's thread has been seen answering (or 10 s).
class Copy : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ =
            (std::filesystem::temp_directory_path() / ("tw-copy-" + std::to_string(GetTickCount())))
                .string();
        std::filesystem::create_directory(folder_);
        for (const char* name : {"bad.dat", "good.dat"}) {
            const Bytes bytes = name[0] == 'b' ? JunkFile() : FixedPointFile();
            std::ofstream(folder_ + "\\" + name, std::ios::binary)
                .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        }
        SetReportFaultHook(HoldCopy, this);
    }
    void TearDown() override {
        SetReportFaultHook(nullptr, nullptr);
        CloseHandle(copying_), CloseHandle(answered_);
        std::filesystem::remove_all(folder_);
    }
    static bool HoldCopy(void* self, DatIoStep step) {
        Copy* copy = static_cast<Copy*>(self);
        if (step == DatIoStep::CopyKept) {
            SetEvent(copy->copying_);
            copy->heldFor_ = WaitForSingleObject(copy->answered_, 10000) == WAIT_OBJECT_0;
        }
        return false;
    }
    // The job over both files; `duringCopy` is given the report while the
    // copy is held. The report's text at its end.
    std::string Run(const std::function<void(HWND)>& duringCopy) {
        RunJob(TRUE, 0, folder_ + '\0' + "bad.dat" + '\0' + "good.dat" + '\0', false,
               "good.dat is ok", [&] {
                   if (WaitForSingleObject(copying_, 0) == WAIT_OBJECT_0 &&
                       WaitForSingleObject(answered_, 0) == WAIT_TIMEOUT) {
                       duringCopy(FindWindowA("#32770", "DAT Repairer report"));
                       SetEvent(answered_);
                   }
               });
        return g_lastReport;
    }
    static Bytes Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), {});
    }
    std::string folder_;
    HANDLE copying_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE answered_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    bool heldFor_ = false;
};

// One file after another, however long the copy.
TEST_F(Copy, TheReportAnswersDuringALongCopyAndTheNextFileWaitsForIt) {
    const std::string text = Run([](HWND) {});
    EXPECT_TRUE(heldFor_) << "the report did not answer during the copy";
    EXPECT_EQ(FixedPointFile(), Read(folder_ + "\\bad.dat"));
    const std::size_t repaired = text.find("bad.dat repaired successfully!");
    EXPECT_LT(repaired, text.find("Verifying " + folder_ + "\\good.dat")) << text;
    EXPECT_NE(text.npos, text.find("good.dat is ok", repaired)) << text;
}

// The copy in hand is abandoned, the file left as it was with nothing beside
// it, and the next file is not even opened: the hidden report takes the
// job's lines up to its end.
TEST_F(Copy, ClosingTheReportAbandonsItsCopyAndOpensNoFurtherFile) {
    const std::string text = Run([](HWND report) { SendMessageA(report, WM_CLOSE, 0, 0); });
    EXPECT_TRUE(heldFor_);
    EXPECT_TRUE(JunkFile() == Read(folder_ + "\\bad.dat")) << "the file changed";
    EXPECT_EQ(2, std::distance(std::filesystem::directory_iterator(folder_), {}));
    EXPECT_NE(text.npos, text.find("bad.dat failed repair")) << text;
    EXPECT_EQ(text.npos, text.find("good.dat")) << text;
}

} // namespace
