// The repair job in this process, with a stand-in for the open-file dialog:
// what it asks the dialog for, and how it ends for each thing the dialog can
// return. A helper thread plays the user: it answers the boxes and reads and
// closes the report.
#include <windows.h>
#include <cderr.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "dat/repair_job.h"

namespace {

const std::string kBanner = "Website for Tidewatch: https://github.com/tidewatch/tidewatch . Email "
                            "reports to tidewatch.reports@example.org . Good luck!!\r\n\r\n";
const std::string kWarning = "This is alpha software. DO NOT DISTRIBUTE! Use ENTIRELY at your OWN "
                             "risk. Make backups of ANY file you attempt to repair. Do you wish to "
                             "continue?";
const std::string kSelectFewer =
    "Too many files are selected. Please select fewer files and try again.";

// What the user saw, in order: "Warning: <text>", "Error: <text>", "Report: <text>".
class User {
  public:
    explicit User(int warningAnswer) : warningAnswer_(warningAnswer) {
        thread_ = std::thread([this] { Run(); });
    }
    ~User() { Stop(); }
    std::vector<std::string> Seen() {
        Stop();
        return seen_;
    }

  private:
    static std::string Text(HWND window, int id) {
        char text[70000] = {};
        GetDlgItemTextA(window, id, text, sizeof text);
        return text;
    }
    HWND Visible(const char* caption) {
        HWND window = FindWindowA("#32770", caption);
        return window && IsWindowVisible(window) && !Handled(window) ? window : nullptr;
    }
    void Run() {
        const DWORD start = GetTickCount();
        while (!stop_ && GetTickCount() - start < 20000) {
            if (HWND box = Visible("Warning")) {
                seen_.push_back("Warning: " + Text(box, 0xFFFF));
                Done(box);
                PostMessageA(box, WM_COMMAND, warningAnswer_, 0);
            } else if (HWND box = Visible("Error")) {
                seen_.push_back("Error: " + Text(box, 0xFFFF));
                Done(box);
                PostMessageA(box, WM_COMMAND, IDOK, 0);
            } else if (HWND report = Visible("DAT Repairer report")) {
                seen_.push_back("Report: " + Text(report, 1010));
                Done(report);
                PostMessageA(report, WM_CLOSE, 0, 0);
            }
            Sleep(10);
        }
    }
    void Stop() {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
    }
    // A window is handled once, even while it is still closing.
    void Done(HWND window) { handled_.push_back(window); }
    bool Handled(HWND window) const {
        return std::find(handled_.begin(), handled_.end(), window) != handled_.end();
    }

    int warningAnswer_;
    std::atomic<bool> stop_{false};
    std::vector<std::string> seen_;
    std::vector<HWND> handled_;
    std::thread thread_;
};

// The stand-in dialog: records the request, then does what the test says.
struct DialogScript {
    int calls = 0;
    OPENFILENAMEA request = {};
    std::string filter;      // the filter block, all 17 bytes
    bool zeroFilled = false; // the whole buffer was zero when handed over
    BOOL result = FALSE;
    DWORD error = 0;
    std::string fill; // bytes written to the start of the buffer
    bool fillToEnd = false;
};
DialogScript g_script;

BOOL ScriptedDialog(OPENFILENAMEA* request, DWORD* error) {
    ++g_script.calls;
    g_script.request = *request;
    g_script.filter.assign(request->lpstrFilter, 17);
    g_script.zeroFilled = true;
    for (DWORD i = 0; i < request->nMaxFile; ++i)
        g_script.zeroFilled = g_script.zeroFilled && request->lpstrFile[i] == '\0';
    std::memcpy(request->lpstrFile, g_script.fill.data(), g_script.fill.size());
    if (g_script.fillToEnd) {
        // A folder and names up to the buffer's very last byte, the last one cut.
        DWORD at = static_cast<DWORD>(g_script.fill.size());
        for (int n = 0; at < request->nMaxFile; ++n) {
            const std::string name = "name" + std::to_string(n) + ".dat";
            for (char c : name + '\0')
                if (at < request->nMaxFile)
                    request->lpstrFile[at++] = c;
        }
        request->lpstrFile[request->nMaxFile - 1] = 'x';
    }
    *error = g_script.error;
    return g_script.result;
}

class RepairJobRun : public ::testing::Test {
  protected:
    void SetUp() override { g_script = DialogScript(); }
    std::vector<std::string> RunJob(int warningAnswer) {
        User user(warningAnswer);
        EXPECT_EQ(0u, RunRepairJob(ScriptedDialog));
        return user.Seen();
    }
    static std::string Folder() {
        char temp[MAX_PATH] = {};
        GetTempPathA(sizeof temp, temp);
        return std::string(temp) + "tw-job-missing";
    }
};

TEST_F(RepairJobRun, AsksTheDialogForDatFilesWithTheFixedRecord) {
    g_script.result = FALSE; // cancelled
    EXPECT_EQ(std::vector<std::string>{"Warning: " + kWarning}, RunJob(IDYES));
    ASSERT_EQ(1, g_script.calls);
    const OPENFILENAMEA& r = g_script.request;
    EXPECT_EQ(76u, r.lStructSize);
    EXPECT_EQ(nullptr, r.hwndOwner);
    EXPECT_EQ(std::string("DAT files\0*.dat\0\0", 17), g_script.filter);
    EXPECT_EQ(64u * 1024u, r.nMaxFile);
    EXPECT_TRUE(g_script.zeroFilled);
    EXPECT_STREQ("Select files to verify", r.lpstrTitle);
    EXPECT_EQ(0x81204u, r.Flags);
    EXPECT_EQ(nullptr, r.lpstrInitialDir);
    EXPECT_EQ(nullptr, r.lpstrDefExt);
    EXPECT_EQ(nullptr, r.lpstrCustomFilter);
    EXPECT_EQ(nullptr, r.lpstrFileTitle);
    EXPECT_EQ(0u, r.nFilterIndex);
}

// A buffer too small for the selection, reported as such or as a list that
// runs to the buffer's last byte: the job asks for fewer files. Any other
// failure ends it quietly. None of them opens a report.
TEST_F(RepairJobRun, DialogFailuresEndTheJobWithoutAReport) {
    // The error leaves only the size it would need in the buffer's first bytes.
    g_script.error = FNERR_BUFFERTOOSMALL;
    g_script.fill = std::string("\x10\x27", 2);
    EXPECT_EQ((std::vector<std::string>{"Warning: " + kWarning, "Error: " + kSelectFewer}),
              RunJob(IDYES));
    g_script = DialogScript();
    g_script.result = TRUE;
    g_script.fill = Folder() + '\0';
    g_script.fillToEnd = true;
    EXPECT_EQ((std::vector<std::string>{"Warning: " + kWarning, "Error: " + kSelectFewer}),
              RunJob(IDYES));
    g_script = DialogScript();
    g_script.error = FNERR_INVALIDFILENAME;
    EXPECT_EQ(std::vector<std::string>{"Warning: " + kWarning}, RunJob(IDYES));
}

TEST_F(RepairJobRun, AFolderWithOneNameIsJoinedNotTakenForAFile) {
    g_script.result = TRUE;
    const std::string folder = Folder();
    g_script.fill = folder + '\0' + "only.dat" + '\0' + '\0';
    const std::string path = folder + "\\only.dat";
    const std::vector<std::string> expected = {"Warning: " + kWarning,
                                               "Report: " + kBanner + "Verifying " + path +
                                                   "...\r\n" + "ERROR: Footer of " + path +
                                                   " is damaged. No chance of repair\r\n"};
    EXPECT_EQ(expected, RunJob(IDYES));
}

} // namespace
