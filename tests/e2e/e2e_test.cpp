// End to end: the real tidewatch.exe with the stand-in client, driven
// through its windows as a user would. With TW_SHOTS naming a folder (make
// screenshots), the repair scenario also saves pictures of what it shows.
#include "tests/e2e/rig.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>

#include "dat/dat.h"
#include "dat/report.h"
#include "refresh/refresher.h"
#include "refresh/settings.h"
#include "res/resource.h"
#include "tests/dat/samples.h"

namespace {

void Step(const char* what) {
    std::printf("==> %s\n", what);
    std::fflush(stdout);
}

void Press(HWND dialog, int id) {
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

// With TW_SHOTS, the screen's area r as TW_SHOTS\name.bmp, once two captures
// in a row agree (what it shows has finished painting).
void Shot(const char* name, RECT r) {
    char folder[MAX_PATH] = "";
    if (!GetEnvironmentVariableA("TW_SHOTS", folder, sizeof folder))
        return;
    const int w = r.right - r.left, h = r.bottom - r.top;
    BITMAPINFOHEADER info = {sizeof info, w, -h, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    BITMAPFILEHEADER head = {0x4D42, 0, 0, 0, sizeof head + sizeof info};
    HDC screen = GetDC(nullptr), memory = CreateCompatibleDC(screen);
    char* pixels = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS,
                                      reinterpret_cast<void**>(&pixels), nullptr, 0);
    SelectObject(memory, bitmap);
    std::string bits, previous;
    PollUntil(10000, [&] {
        previous.swap(bits);
        BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
        GdiFlush();
        bits.assign(pixels, h * ((w * 3 + 3) & ~3));
        return bits == previous;
    });
    head.bfSize = static_cast<DWORD>(sizeof head + sizeof info + bits.size());
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
    void Start(bool registered, const char* trees = "", DWORD windowDelayMs = 0) {
        Register(registered);
        ConfigureStandin(trees, windowDelayMs);
        tidewatch_.reset(new Program(WinPath(TW_TIDEWATCH_EXE)));
        setup_ = WaitWindow("#32770", "Tidewatch+", 60000);
        ASSERT_TRUE(setup_);
    }
    void Register(bool registered) {
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\KaZaA\\CloudLoad");
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\KaZaA");
        std::string folder = StandinExe();
        folder.erase(folder.rfind('\\'));
        HKEY key = nullptr;
        if (registered && !RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\KaZaA\\CloudLoad", 0,
                                           nullptr, 0, KEY_WRITE, nullptr, &key, nullptr)) {
            RegSetValueExA(key, "ExeDir", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                           static_cast<DWORD>(folder.size() + 1));
            RegCloseKey(key);
        }
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
        EXPECT_TRUE(WaitStandinLog(" READY ", 60000)) << "no client";
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
        Register(false);
    }
    std::unique_ptr<Program> tidewatch_;
    HWND setup_ = nullptr;
};

TEST_F(Scenario, SecondCopyNoClientThenTheClientAtIdleAndTheTrayMenu) {
    Start(false, "a,b", 4000);
    {
        Step("A second copy says so and ends with 0");
        Program second(WinPath(TW_TIDEWATCH_EXE));
        EXPECT_EQ("Tidewatch is already running", AnswerBox("Error", IDOK, 30000));
        EXPECT_EQ(0, second.Exit());
        EXPECT_TRUE(IsWindowVisible(setup_)) << "the first copy's dialog";
    }
    Step("GO without a client: the message, and the dialog stays");
    Fill("", "");
    Press(setup_, IDC_GO);
    EXPECT_EQ("That Fasttrak client was not found. Try again", AnswerBox("Error", IDOK));
    EXPECT_TRUE(IsWindowVisible(setup_));

    Step("GO with the client registered: launched, its window waited for at idle");
    Register(true);
    Press(setup_, IDC_GO);
    ASSERT_TRUE(WaitStandinLog(" START pid=", 30000));
    EXPECT_TRUE(WaitStandinLog("exe=" + StandinExe(), 0));
    const DWORD started = GetTickCount();
    const double cpuBefore = CpuMs(tidewatch_->pid);
    HWND tray = Go();
    ASSERT_TRUE(tray);
    const double cpu = (CpuMs(tidewatch_->pid) - cpuBefore) * 100 / (GetTickCount() - started);
    std::printf("CPU while waiting for the client's window: %.1f %% of a core\n", cpu);
    EXPECT_LT(cpu, 10.0);

    Step("The tray menu dismissed; the client closes and the program ends");
    HWND menu = OpenTrayMenu(tray);
    ASSERT_TRUE(menu);
    PostMessageA(menu, WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_EQ(-1, tidewatch_->Exit(500)) << "ended when the menu was dismissed";
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

// The repair job through the real dialogs: two jobs at once.
class Repair : public Scenario {
  protected:
    void SetUp() override {
        char temp[MAX_PATH] = "";
        GetTempPathA(sizeof temp, temp);
        folder_ = std::string(temp) + "tw-e2e-" + std::to_string(GetCurrentProcessId());
        if (GetEnvironmentVariableA("TW_SHOTS", nullptr, 0))
            folder_ = "C:\\Shared"; // what the pictures show
        for (const char* sub : {"", "\\first", "\\second"})
            CreateDirectoryA((folder_ + sub).c_str(), nullptr);
        for (const char* name : {"first\\bad.dat", "first\\good.dat", "second\\x.dat"}) {
            const Bytes bytes = name[6] == 'b' ? JunkFile() : FixedPointFile();
            std::ofstream(folder_ + "\\" + name, std::ios::binary)
                .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        }
    }
    // Command 1006, the warning answered Yes, then the files picked: one by
    // its full path, several by their folder first and then their names.
    void Job(const std::string& sub, std::vector<std::string> names) {
        PostMessageA(setup_, WM_COMMAND, IDC_REPAIR, 0);
        EXPECT_EQ(kRepairWarning, AnswerBox("Warning", IDYES));
        HWND dialog = WaitWindow("#32770", "Select files to verify");
        ASSERT_TRUE(dialog);
        const int field = 0x47c;
        std::string typed = folder_ + "\\" + sub + "\\" + names[0];
        if (names.size() > 1) {
            SetTextOf(dialog, field, folder_ + "\\" + sub);
            Press(dialog, IDOK);
            ASSERT_TRUE(PollUntil(10000, [&] { return TextOf(dialog, field).empty(); }));
            typed.clear();
            for (const std::string& name : names)
                typed += "\"" + name + "\" ";
        }
        SetTextOf(dialog, field, typed);
        Press(dialog, IDOK);
        ASSERT_TRUE(WaitGone(dialog, 20000));
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
};

TEST_F(Repair, TwoJobsAtOnceThenTheClientAndTheTrayMenuExit) {
    Start(true, "First,Second;>Deep");
    Fill("5", "3");
    PostMessageA(setup_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(setup_, IDC_OPT_KAZAA)),
                 TRUE);
    RECT r;
    GetWindowRect(setup_, &r);
    Shot("setup-dialog", r);

    Step("First job: two files, stopped at the repair question");
    Job("first", {"bad.dat", "good.dat"});
    const std::string question =
        "File " + folder_ + "\\first\\bad.dat is damaged. Do you wish to attempt repair?";
    HWND box = WaitWindow("#32770", "Error");
    ASSERT_TRUE(box);
    EXPECT_EQ(question, TextOf(box, 0xFFFF));

    Step("Second job meanwhile: one file, to its end");
    Job("second", {"x.dat"});
    HWND report = WaitWindow("#32770", "DAT Repairer report");
    ASSERT_TRUE(report);
    EXPECT_EQ(kReportBanner + Intact("second\\x.dat"), TextOf(report, IDC_REPORT_TEXT));
    PostMessageA(report, WM_CLOSE, 0, 0);
    ASSERT_TRUE(WaitGone(report));
    EXPECT_TRUE(IsWindowVisible(box)) << "closing one report ended the other job";

    Step("The first job's question answered Yes");
    EXPECT_EQ(question, AnswerBox("Error", IDYES));
    report = WaitWindow("#32770", "DAT Repairer report");
    ASSERT_TRUE(report);
    const Bytes junk = JunkFile();
    char damaged[16];
    std::snprintf(damaged, sizeof damaged, "%x", DatChecksum(&junk[junk.size() - 49], 39));
    EXPECT_EQ(kReportBanner + Verified("first\\bad.dat", damaged) +
                  "New Pointer: 27\r\nNew Checksum: 80163648\r\n" +
                  Verified("first\\bad.dat", "80163648") + "File " + folder_ +
                  "\\first\\bad.dat repaired successfully!\r\n" + Intact("first\\good.dat"),
              TextOf(report, IDC_REPORT_TEXT));
    std::ifstream in(folder_ + "\\first\\bad.dat", std::ios::binary);
    EXPECT_EQ(FixedPointFile(), Bytes(std::istreambuf_iterator<char>(in), {}));
    GetWindowRect(report, &r);
    Shot("repair-report", r);
    PostMessageA(report, WM_CLOSE, 0, 0);

    Step("GO: the client is launched; the tray menu's Exit ends the program");
    HWND menu = OpenTrayMenu(Go());
    ASSERT_TRUE(menu);
    GetWindowRect(menu, &r);
    Shot("tray-menu", {std::max(0L, r.left - 160), std::max(0L, r.top - 24),
                       GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)});
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

    Step("Waiting a minute for the first refresh");
    std::vector<DWORD> ticks;
    auto events = [&] {
        ticks.clear();
        return StandinEvents(&ticks);
    };
    ASSERT_TRUE(PollUntil(120000, [&] { return !events().empty(); }));
    const double cpu = (CpuMs(tidewatch_->pid) - cpuBefore) * 100 / (GetTickCount() - tray);
    std::printf("CPU idle in the tray: %.1f %% of a core\n", cpu);
    EXPECT_LT(cpu, 5.0);
    ASSERT_TRUE(PollUntil(30000, [&] { return events().size() >= 10; }));
    EXPECT_EQ((std::vector<std::string>{"WM_COMMAND 32880", "SELECT tree=0 item=First",
                                        "WM_COMMAND 32880", "WM_COMMAND 32986",
                                        "SELECT tree=0 item=Second", "WM_COMMAND 32986",
                                        "SELECT tree=0 item=Third", "WM_COMMAND 32986",
                                        "SELECT tree=0 item=Fourth", "WM_COMMAND 32986"}),
              events());
    // Timers never fire early; a busy machine may make them late.
    std::printf("first refresh after %lu ms, pauses of", ticks[0] - tray);
    EXPECT_GE(ticks[0] - tray, 59000u);
    for (int at : {4, 5, 7, 9}) {
        std::printf(" %lu", ticks[at] - ticks[at - 1]);
        EXPECT_GE(ticks[at] - ticks[at - 1], 990u) << "no pause before event " << at;
    }
    std::printf(" ms\n");

    Step("The client closes: the next refresh ends the program");
    PostMessageA(FindWindowA(kClientClass, nullptr), WM_CLOSE, 0, 0);
    EXPECT_EQ(0, tidewatch_->Exit(90000));
    EXPECT_GE(GetTickCount() - tray, 119000u) << "ended before the second refresh";
}

} // namespace
