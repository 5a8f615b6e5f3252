// End to end: the real tidewatch.exe with the stand-in client, driven
// through its windows as a user would. With TW_SHOTS naming a folder (make
// screenshots), the repair scenario also saves pictures of what it shows.
#include "tests/e2e/rig.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#include "dat/dat.h"
#include "dat/report.h"
#include "refresh/refresher.h"
#include "refresh/settings.h"
#include "res/resource.h"
#include "tests/dat/dat_test_util.h"

namespace {

const char kKazaaKey[] = "SOFTWARE\\KaZaA\\CloudLoad";

void Press(HWND dialog, int id) {
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

// With TW_SHOTS, the screen from (left, top) to the window's far corner (or
// the screen's) as TW_SHOTS\name.bmp, once two captures in a row agree: what
// it shows has finished painting.
void Shot(const char* name, HWND window, LONG left = -1, LONG top = -1) {
    char folder[MAX_PATH] = "";
    RECT r = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    if (!GetEnvironmentVariableA("TW_SHOTS", folder, sizeof folder) ||
        (window && !GetWindowRect(window, &r)))
        return;
    r = {left < 0 ? r.left : left, top < 0 ? r.top : top, r.right, r.bottom};
    BITMAPINFOHEADER info = {
        sizeof info, r.right - r.left, r.top - r.bottom, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    HDC screen = GetDC(nullptr), memory = CreateCompatibleDC(screen);
    char* pixels = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS,
                                      reinterpret_cast<void**>(&pixels), nullptr, 0);
    SelectObject(memory, bitmap);
    std::string bits, previous;
    PollUntil(10000, [&] {
        previous.swap(bits);
        BitBlt(memory, 0, 0, info.biWidth, -info.biHeight, screen, r.left, r.top, SRCCOPY);
        GdiFlush();
        bits.assign(pixels, -info.biHeight * ((info.biWidth * 3 + 3) & ~3));
        return bits == previous;
    });
    BITMAPFILEHEADER head = {0x4D42, DWORD(sizeof head + sizeof info + bits.size()), 0, 0,
                             sizeof head + sizeof info};
    std::ofstream out(std::string(folder) + "\\" + name + ".bmp", std::ios::binary);
    out.write(reinterpret_cast<const char*>(&head), sizeof head);
    out.write(reinterpret_cast<const char*>(&info), sizeof info) << bits;
    DeleteDC(memory);
    DeleteObject(bitmap);
    ReleaseDC(nullptr, screen);
}

class Scenario : public ::testing::Test {
  protected:
    // tidewatch.exe with its setup dialog; the stand-in registered as the
    // KaZaA installation or no client at all.
    void Start(bool registered, const char* trees = "", DWORD windowDelayMs = 0,
               const char* exit = "") {
        RegisterClient(kKazaaKey, "ExeDir", registered ? clientFolder_ + '\0' : "");
        ConfigureStandin(trees, windowDelayMs, "", exit);
        tidewatch_.reset(new Program(WinPath(TW_TIDEWATCH_EXE)));
        setup_ = WaitWindow("#32770", "Tidewatch+", 60000);
        ASSERT_TRUE(setup_);
    }
    // The delays typed (empty: blank), the KaZaA box ticked.
    void Fill(const char* minutes, const char* seconds) {
        SetTextOf(setup_, IDC_REFRESH_MINUTES, minutes);
        SetTextOf(setup_, IDC_ITEM_SECONDS, seconds);
        SendMessageA(GetDlgItem(setup_, IDC_OPT_KAZAA), BM_SETCHECK, BST_CHECKED, 0);
    }
    // GO, and the hidden tray window once the client is there.
    HWND Go() {
        Press(setup_, IDC_GO);
        EXPECT_TRUE(WaitStandinLog(" READY", 60000)) << "no client";
        return WaitWindow("TW", nullptr, 30000, true);
    }
    // The icon's menu as a right click opens it; with a taskbar (pictures)
    // the cursor stands on the icon, ours being the only one, at its right end.
    HWND OpenTrayMenu(HWND tray) {
        RECT bar;
        HWND taskbar = FindWindowA("Shell_TrayWnd", nullptr);
        if (taskbar && IsWindowVisible(taskbar) && GetWindowRect(taskbar, &bar))
            SetCursorPos(bar.right - 10, (bar.top + bar.bottom) / 2);
        PostMessageA(tray, WM_TRAYNOTIFY, TRAY_ICON_ID, WM_RBUTTONDOWN);
        return WaitWindow("#32768", nullptr);
    }
    void TearDown() override {
        tidewatch_.reset();
        EndStandin();
        RegisterClient(kKazaaKey, "", "");
    }
    std::unique_ptr<Program> tidewatch_;
    HWND setup_ = nullptr;
    const std::string clientFolder_ = StandinExe().substr(0, StandinExe().rfind('\\'));
};

// Clients that cannot start (a stale install, an end before the window) are
// named with the reason and the dialog comes back as it was left; then the
// client is launched in its own folder through a launcher that ends at once,
// its window waited for at idle.
TEST_F(Scenario, SecondCopyClientsThatCannotStartThenOneAwaitedAtIdleWhoseEndEndsAll) {
    Start(true, "a,b", 4000, "3+");
    {
        Program second(WinPath(TW_TIDEWATCH_EXE));
        EXPECT_EQ("Tidewatch is already running", AnswerBox("Error", IDOK, 30000));
        EXPECT_EQ(0, second.Exit());
        EXPECT_TRUE(IsWindowVisible(setup_)) << "the first copy's dialog";
    }
    Fill("0", "2");
    RegisterClient(kKazaaKey, "ExeDir", std::string("C:\\windows", 11));
    Press(setup_, IDC_GO);
    EXPECT_EQ("Tidewatch could not start C:\\windows\\Kazaa.exe\r\nFile not found.",
              AnswerBox("Error", IDOK));
    ASSERT_TRUE(setup_ = WaitWindow("#32770", "Tidewatch+"));
    RegisterClient(kKazaaKey, "ExeDir", clientFolder_ + '\0');
    Press(setup_, IDC_GO);
    EXPECT_EQ("Tidewatch could not start " + StandinExe() +
                  "\r\nIt ended before its window appeared, with exit code 3.",
              AnswerBox("Error", IDOK, 60000));
    ASSERT_TRUE(setup_ = WaitWindow("#32770", "Tidewatch+"));
    EXPECT_EQ("0 2", TextOf(setup_, IDC_REFRESH_MINUTES) + " " + TextOf(setup_, IDC_ITEM_SECONDS));
    const DWORD started = GetTickCount();
    const double cpuBefore = CpuMs(tidewatch_->pid);
    ASSERT_TRUE(Go());
    EXPECT_TRUE(WaitStandinLog(" exe=" + StandinExe() + " cwd=" + clientFolder_, 0));
    const double cpu = (CpuMs(tidewatch_->pid) - cpuBefore) * 100 / (GetTickCount() - started);
    std::printf("CPU while waiting for the client's window: %.1f %% of a core\n", cpu);
    EXPECT_LT(cpu, 10.0);
    PostMessageA(FindWindowA(kClientClass, nullptr), WM_CLOSE, 0, 0);
    EXPECT_EQ(0, tidewatch_->Exit(20000));
}

TEST_F(Scenario, CloseBoxWhileARepairJobWaits) {
    Start(false);
    PostMessageA(setup_, WM_SYSCOMMAND, IDM_REPAIR_DAT, 0);
    HWND warning = WaitWindow("#32770", "Warning");
    ASSERT_TRUE(warning) << "the system menu's item starts no job";
    PostMessageA(setup_, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(0, tidewatch_->Exit());
    EXPECT_FALSE(IsWindow(warning));
}

// The repair job through the real dialogs: two jobs at once, each report on
// screen while it grows.
class Repair : public Scenario {
  protected:
    void SetUp() override {
        // A folder of its own each run: the open-file dialog starts where the
        // last one ended, and typing the folder it shows does not clear the name.
        char temp[MAX_PATH] = "";
        GetTempPathA(sizeof temp, temp);
        folder_ = GetEnvironmentVariableA("TW_SHOTS", nullptr, 0)
                      ? "C:\\Shared" // what the pictures show
                      : temp + std::string("tw-e2e-") + std::to_string(GetTickCount());
        for (const char* sub : {"", "\\first", "\\second"})
            CreateDirectoryA((folder_ + sub).c_str(), nullptr);
        for (const std::string& name :
             Lines{"first\\bad.dat", "first\\good.dat", "second\\" + mixed_}) {
            const Bytes bytes = name[6] == 'b' ? JunkFile() : FixedPointFile();
            std::ofstream(folder_ + "\\" + name, std::ios::binary)
                .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        }
    }
    // Command 1006, the warning answered Yes, then the files picked by their
    // folder first and then their names.
    void Job(const std::string& sub, std::vector<std::string> names) {
        PostMessageA(setup_, WM_COMMAND, IDC_REPAIR, 0);
        EXPECT_EQ(kRepairWarning, AnswerBox("Warning", IDYES));
        HWND dialog = WaitWindow("#32770", "Select files to verify");
        ASSERT_TRUE(dialog);
        const int field = 0x47c;
        SetTextOf(dialog, field, folder_ + "\\" + sub);
        Press(dialog, IDOK);
        ASSERT_TRUE(PollUntil(10000, [&] { return TextOf(dialog, field).empty(); }));
        std::string typed;
        for (const std::string& name : names)
            typed += "\"" + name + "\" ";
        SetTextOf(dialog, field, typed);
        Press(dialog, IDOK);
        ASSERT_TRUE(WaitGone(dialog, 20000));
    }
    void TearDown() override {
        Scenario::TearDown();
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
    std::string Verified(const std::string& name, const char* calculated) {
        return "Verifying " + folder_ + "\\" + name + "...\r\nPointer: 27\r\nFile Checksum: " +
               "80163648\r\nCalculated Checksum: " + calculated + "\r\n";
    }
    std::string Intact(const std::string& name) {
        return Verified(name, "80163648") + "File " + folder_ + "\\" + name +
               " is ok, repair not needed\r\n";
    }
    std::string folder_;
    const std::string mixed_ = "\u65e5\u672c-\u0444\u0430\u0439\u043b.dat"; // Japanese, Cyrillic
};

TEST_F(Repair, TwoJobsAtOnceThenTheClientAndTheTrayMenuExit) {
    Start(true, "First,Second;>Deep");
    Fill("5", "3");
    PostMessageA(setup_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(setup_, IDC_OPT_KAZAA)),
                 TRUE);
    Shot("setup-dialog", setup_);

    // The first job stops at the repair question; a second one runs to its end.
    Job("first", {"bad.dat", "good.dat"});
    const std::string question =
        "File " + folder_ + "\\first\\bad.dat is damaged. Do you wish to attempt repair?";
    HWND box = WaitWindow("#32770", "Error");
    ASSERT_TRUE(box);
    EXPECT_EQ(question, TextOf(box, 0xFFFF));
    // It is asked over its report, on screen with the file's checks so far.
    HWND first = GetWindow(box, GW_OWNER);
    ASSERT_EQ("DAT Repairer report", TextOf(first));
    EXPECT_TRUE(IsWindowVisible(first));
    const Bytes junk = JunkFile();
    const std::string damaged = Hex(DatChecksum(&junk[junk.size() - 49], 39));
    const std::string checked = kReportBanner + Verified("first\\bad.dat", damaged.c_str());
    EXPECT_EQ(checked, TextOf(first, IDC_REPORT_TEXT));

    Job("second", {mixed_});
    HWND report = nullptr; // the one that is not `first`, once it holds the whole report
    const char* title = "DAT Repairer report";
    EXPECT_TRUE(PollUntil(20000, [&] {
        report = FindWindowExA(nullptr, FindWindowA("#32770", title) == first ? first : nullptr,
                               "#32770", title);
        return TextOf(report, IDC_REPORT_TEXT) == kReportBanner + Intact("second\\" + mixed_);
    })) << TextOf(report, IDC_REPORT_TEXT);
    PostMessageA(report, WM_CLOSE, 0, 0);
    ASSERT_TRUE(WaitGone(report));
    EXPECT_TRUE(IsWindowVisible(box)) << "closing one report ended the other job";

    EXPECT_EQ(question, AnswerBox("Error", IDYES));
    const std::string whole = checked + "New Pointer: 27\r\nNew Checksum: 80163648\r\n" +
                              Verified("first\\bad.dat", "80163648") + "File " + folder_ +
                              "\\first\\bad.dat repaired successfully!\r\n" +
                              Intact("first\\good.dat");
    EXPECT_TRUE(PollUntil(20000, [&] { return TextOf(first, IDC_REPORT_TEXT) == whole; }))
        << TextOf(first, IDC_REPORT_TEXT);
    std::ifstream in(folder_ + "\\first\\bad.dat", std::ios::binary);
    EXPECT_EQ(FixedPointFile(), Bytes(std::istreambuf_iterator<char>(in), {}));
    Shot("repair-report", first);
    PostMessageA(first, WM_CLOSE, 0, 0);

    // GO launches the client; the tray menu's Exit ends the program.
    HWND menu = OpenTrayMenu(Go());
    ASSERT_TRUE(menu);
    RECT r;
    GetWindowRect(menu, &r);
    Shot("tray-menu", nullptr, std::max(0L, r.left - 160), std::max(0L, r.top - 24));
    PostMessageA(menu, WM_KEYDOWN, VK_DOWN, 0);
    PostMessageA(menu, WM_KEYDOWN, VK_RETURN, 0);
    EXPECT_EQ(0, tidewatch_->Exit());
}

// A real timed walk; make test runs it beside the rest (two refresh periods).
TEST_F(Scenario, OneTimedWalkThenTheClientGoes) {
    Start(true, "First/First child,Second,Third,Fourth");
    Fill("1", "1");
    ASSERT_TRUE(Go());
    const DWORD tray = GetTickCount();
    const double cpuBefore = CpuMs(tidewatch_->pid);
    std::vector<DWORD> ticks;
    auto events = [&] {
        ticks.clear();
        return StandinEvents(&ticks);
    };
    ASSERT_TRUE(PollUntil(120000, [&] { return !events().empty(); }));
    const double cpu = (CpuMs(tidewatch_->pid) - cpuBefore) * 100 / (GetTickCount() - tray);
    ASSERT_TRUE(PollUntil(30000, [&] { return events().size() >= 10; }));
    EXPECT_EQ((std::vector<std::string>{"WM_COMMAND 32880", "SELECT tree=0 item=First",
                                        "WM_COMMAND 32880", "WM_COMMAND 32986",
                                        "SELECT tree=0 item=Second", "WM_COMMAND 32986",
                                        "SELECT tree=0 item=Third", "WM_COMMAND 32986",
                                        "SELECT tree=0 item=Fourth", "WM_COMMAND 32986"}),
              events());
    // Timers never fire early; a busy machine may make them late.
    std::printf("idle in the tray: %.1f %% of a core; first refresh after %lu ms, a walk of %lu "
                "ms\n",
                cpu, ticks[0] - tray, ticks[9] - ticks[0]);
    EXPECT_LT(cpu, 5.0);
    EXPECT_GE(ticks[0] - tray, 59000u);
    EXPECT_GE(ticks[9] - ticks[0], 3960u) << "four pauses of a second";

    // The client closes: the next refresh ends the program.
    PostMessageA(FindWindowA(kClientClass, nullptr), WM_CLOSE, 0, 0);
    EXPECT_EQ(0, tidewatch_->Exit(90000));
    EXPECT_GE(GetTickCount() - tray, 119000u) << "ended before the second refresh";
}

} // namespace
