// The launcher's Windows side in process: the setup dialog from its real
// template, ReadDelays, and LocateClient against Wine's registry.
#include "app/launcher.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <cstring>
#include <string>
#include <thread>

#include "res/resource.h"

namespace {

// ---- helpers ------------------------------------------------------------------

template <typename F> bool PollUntil(DWORD timeoutMs, F done) {
    DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start >= timeoutMs)
            return false;
        Sleep(20);
    }
    return true;
}

std::string ControlText(HWND dialog, int id) {
    char text[512] = "";
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

std::string ClassOf(HWND window) {
    char name[64] = "";
    GetClassNameA(window, name, sizeof name);
    return name;
}

struct DialogHolder {
    HWND dialog = nullptr;
    ~DialogHolder() {
        if (dialog)
            DestroyWindow(dialog);
    }
};

HWND CreateSetupDialog() {
    return CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_SETUP), nullptr,
                              SetupDlgProc, 0);
}

const char* const kVendorKeys[] = {"SOFTWARE\\KaZaA", "SOFTWARE\\Grokster", "SOFTWARE\\Morpheus"};
const char* const kClientKeys[] = {"SOFTWARE\\KaZaA\\CloudLoad", "SOFTWARE\\Grokster\\LocalContent",
                                   "SOFTWARE\\Morpheus\\LocalContent"};

bool KeyExists(const char* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

void DeleteClientKeys() {
    for (const char* key : kClientKeys)
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, key);
    for (const char* key : kVendorKeys)
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, key);
}

void WriteValue(const char* path, const char* name, DWORD type, const void* data, DWORD size) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_WRITE,
                                             nullptr, &key, nullptr))
        << "cannot create HKLM\\" << path;
    LONG status = RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
    ASSERT_EQ(ERROR_SUCCESS, status) << "cannot write " << name;
}

void WriteString(const char* path, const char* name, const std::string& text) {
    WriteValue(path, name, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
}

// Every test starts with no client registered and all settings at a value
// the code under test must overwrite.
class Launcher : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* key : kVendorKeys) {
            if (KeyExists(key))
                GTEST_SKIP() << "HKLM\\" << key << " exists already; not touching it";
        }
        owner_ = true;
        memset(g_clientPath, 0, sizeof g_clientPath);
        g_refreshMinutes = 99;
        g_itemDelaySeconds = 99;
        setup_.dialog = CreateSetupDialog();
        ASSERT_NE(nullptr, setup_.dialog) << "dialog 101 not created, error " << GetLastError();
    }
    void TearDown() override {
        if (owner_)
            DeleteClientKeys();
    }

    std::string Locate(bool kazaaTicked) {
        memset(g_clientPath, 0, sizeof g_clientPath);
        CheckDlgButton(setup_.dialog, IDC_OPT_KAZAA, kazaaTicked ? BST_CHECKED : BST_UNCHECKED);
        LocateClient(setup_.dialog);
        return std::string(g_clientPath, strnlen(g_clientPath, sizeof g_clientPath));
    }

    void Delays(const char* minutes, const char* seconds) {
        SetDlgItemTextA(setup_.dialog, IDC_REFRESH_MINUTES, minutes);
        SetDlgItemTextA(setup_.dialog, IDC_ITEM_SECONDS, seconds);
        g_refreshMinutes = 99;
        g_itemDelaySeconds = 99;
        ReadDelays(setup_.dialog);
    }

    DialogHolder setup_;
    bool owner_ = false;
};

// ---- the template -------------------------------------------------------------

// Reads the DIALOG resource as stored (not as Wine adjusts the live windows).
struct TemplateReader {
    const BYTE* p;
    DWORD Dword() {
        DWORD v;
        memcpy(&v, p, 4);
        p += 4;
        return v;
    }
    WORD Word() {
        WORD v;
        memcpy(&v, p, 2);
        p += 2;
        return v;
    }
    short Short() { return static_cast<short>(Word()); }
    // A string or, after 0xFFFF, an ordinal (returned as "#n").
    std::string SzOrOrd() {
        WORD first = Word();
        if (first == 0xFFFF)
            return "#" + std::to_string(Word());
        std::string text;
        for (WORD c = first; c != 0; c = Word())
            text += static_cast<char>(c);
        return text;
    }
    void AlignDword(const BYTE* base) {
        while ((p - base) % 4)
            ++p;
    }
};

struct TemplateControl {
    DWORD style;
    short x, y, cx, cy;
    WORD id;
    std::string cls, text;
};

TEST_F(Launcher, SetupTemplateIsStoredAsDesigned) {
    HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(IDD_SETUP), MAKEINTRESOURCEA(5));
    ASSERT_NE(nullptr, found);
    const BYTE* base = static_cast<const BYTE*>(LockResource(LoadResource(nullptr, found)));
    ASSERT_NE(nullptr, base);
    TemplateReader r{base};
    DWORD style = r.Dword();
    EXPECT_EQ(static_cast<DWORD>(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT |
                                 DS_CENTER),
              style)
        << std::hex << style;
    EXPECT_EQ(0u, r.Dword()) << "extended style";
    WORD count = r.Word();
    ASSERT_EQ(6, count);
    short x = r.Short(), y = r.Short(), cx = r.Short(), cy = r.Short();
    EXPECT_EQ(0, x);
    EXPECT_EQ(0, y);
    EXPECT_EQ(217, cx);
    EXPECT_EQ(130, cy);
    EXPECT_EQ("", r.SzOrOrd()) << "menu";
    EXPECT_EQ("", r.SzOrOrd()) << "class";
    EXPECT_EQ("Tidewatch+", r.SzOrOrd());
    EXPECT_EQ(8, r.Word()) << "font size";
    EXPECT_EQ("VERDANA", r.SzOrOrd());

    // Predefined classes are stored by name or as ordinals (0x80 button, 0x81 edit, 0x82 static).
    auto className = [](std::string stored) {
        if (stored == "#128")
            return std::string("BUTTON");
        if (stored == "#129")
            return std::string("EDIT");
        if (stored == "#130")
            return std::string("STATIC");
        for (char& ch : stored)
            ch = static_cast<char>(toupper(static_cast<unsigned char>(ch)));
        return stored;
    };
    const DWORD edit = WS_BORDER | WS_TABSTOP | ES_NUMBER | ES_AUTOHSCROLL;
    const TemplateControl expected[] = {
        {BS_AUTOCHECKBOX, 76, 82, 65, 8, IDC_OPT_KAZAA, "#128", "mark this box!"},
        {edit, 89, 36, 37, 12, IDC_REFRESH_MINUTES, "#129", ""},
        {SS_CENTERIMAGE, 37, 24, 142, 12, IDC_REFRESH_LABEL, "#130",
         "Refresh delay (minutes, blank to disable) :"},
        {WS_TABSTOP | BS_PUSHBUTTON, 21, 94, 172, 25, IDC_GO, "#128",
         "GO! Make sure kazaLite is running GO!"},
        {SS_CENTERIMAGE, 8, 51, 199, 12, IDC_ITEM_LABEL, "#130",
         "Delay between individual items (seconds, blank to disable) :"},
        {edit, 89, 63, 37, 12, IDC_ITEM_SECONDS, "#129", ""},
    };
    for (const TemplateControl& e : expected) {
        r.AlignDword(base);
        TemplateControl c;
        c.style = r.Dword();
        r.Dword(); // extended style
        c.x = r.Short();
        c.y = r.Short();
        c.cx = r.Short();
        c.cy = r.Short();
        c.id = r.Word();
        c.cls = r.SzOrOrd();
        c.text = r.SzOrOrd();
        r.p += r.Word(); // creation data
        EXPECT_EQ(e.id, c.id);
        EXPECT_EQ(e.style | WS_CHILD | WS_VISIBLE, c.style) << "control " << e.id << std::hex;
        EXPECT_EQ(className(e.cls), className(c.cls)) << "control " << e.id;
        EXPECT_EQ(e.text, c.text) << "control " << e.id;
        EXPECT_EQ(e.x, c.x) << "control " << e.id;
        EXPECT_EQ(e.y, c.y) << "control " << e.id;
        EXPECT_EQ(e.cx, c.cx) << "control " << e.id;
        EXPECT_EQ(e.cy, c.cy) << "control " << e.id;
    }
}

TEST_F(Launcher, SetupDialogCreatesTheControlsInTemplateOrder) {
    const struct {
        int id;
        const char* cls;
        const char* text;
    } expected[] = {
        {IDC_OPT_KAZAA, "Button", "mark this box!"},
        {IDC_REFRESH_MINUTES, "Edit", ""},
        {IDC_REFRESH_LABEL, "Static", "Refresh delay (minutes, blank to disable) :"},
        {IDC_GO, "Button", "GO! Make sure kazaLite is running GO!"},
        {IDC_ITEM_LABEL, "Static", "Delay between individual items (seconds, blank to disable) :"},
        {IDC_ITEM_SECONDS, "Edit", ""},
    };
    HWND dialog = setup_.dialog;
    char caption[64] = "";
    GetWindowTextA(dialog, caption, sizeof caption);
    EXPECT_STREQ("Tidewatch+", caption);
    HWND child = GetWindow(dialog, GW_CHILD);
    for (const auto& e : expected) {
        ASSERT_NE(nullptr, child) << "missing control " << e.id;
        EXPECT_EQ(e.id, GetDlgCtrlID(child));
        EXPECT_EQ(e.cls, ClassOf(child)) << "control " << e.id;
        EXPECT_EQ(e.text, ControlText(dialog, e.id)) << "control " << e.id;
        child = GetWindow(child, GW_HWNDNEXT);
    }
    EXPECT_EQ(nullptr, child) << "a control beyond the template's six";
    EXPECT_EQ(nullptr, GetDlgItem(dialog, IDC_OPT_MORPHEUS));
    EXPECT_EQ(BST_UNCHECKED, IsDlgButtonChecked(dialog, IDC_OPT_KAZAA));
}

TEST_F(Launcher, SystemMenuOffersTheRepairCommand) {
    HMENU menu = GetSystemMenu(setup_.dialog, FALSE);
    ASSERT_NE(nullptr, menu);
    int count = GetMenuItemCount(menu);
    ASSERT_GE(count, 2);
    EXPECT_EQ(static_cast<UINT>(IDM_REPAIR_DAT), GetMenuItemID(menu, count - 1));
    char text[64] = "";
    GetMenuStringA(menu, count - 1, text, sizeof text, MF_BYPOSITION);
    EXPECT_STREQ("Repair DAT files...", text);
    MENUITEMINFOA separator = {};
    separator.cbSize = sizeof separator;
    separator.fMask = MIIM_FTYPE;
    ASSERT_TRUE(GetMenuItemInfoA(menu, count - 2, TRUE, &separator));
    EXPECT_TRUE(separator.fType & MFT_SEPARATOR);
    // The system's own bits stay clear, so the command survives the 0xFFF0 mask.
    EXPECT_EQ(0, IDM_REPAIR_DAT & 0xF);
    EXPECT_LT(IDM_REPAIR_DAT, 0xF000);
}

// ---- ReadDelays ---------------------------------------------------------------

TEST_F(Launcher, ReadDelaysTakesBothFields) {
    Delays("10", "5");
    EXPECT_EQ(10, g_refreshMinutes);
    EXPECT_EQ(5, g_itemDelaySeconds);
}

TEST_F(Launcher, BlankRefreshDelayClearsBothSettings) {
    Delays("", "5");
    EXPECT_EQ(0, g_refreshMinutes);
    EXPECT_EQ(0, g_itemDelaySeconds)
        << "the item field is not read when the refresh field is blank";
}

TEST_F(Launcher, BlankItemDelayGivesZero) {
    Delays("10", "");
    EXPECT_EQ(10, g_refreshMinutes);
    EXPECT_EQ(0, g_itemDelaySeconds);
}

TEST_F(Launcher, ReadDelaysParsesTextSetPastTheDigitFilter) {
    // ES_NUMBER filters typing only; a program can still set any text.
    Delays(" -3", "12abc");
    EXPECT_EQ(-3, g_refreshMinutes);
    EXPECT_EQ(12, g_itemDelaySeconds);
    Delays("4294967297", "x");
    EXPECT_EQ(1, g_refreshMinutes);
    EXPECT_EQ(0, g_itemDelaySeconds) << "text without digits is 0";
}

TEST_F(Launcher, ReadDelaysReadsAtMost255Characters) {
    // 250 blanks, then "12345" ends at the 255th character; a 256th would add "9".
    std::string text = std::string(250, ' ') + "12345" + "9";
    Delays(text.c_str(), "2");
    EXPECT_EQ(12345, g_refreshMinutes);
    EXPECT_EQ(2, g_itemDelaySeconds);
}

// ---- LocateClient ---------------------------------------------------------------

TEST_F(Launcher, KazaaTickedReadsExeDirWhole) {
    WriteString(kClientKeys[0], "ExeDir", "C:\\Program Files\\KaZaA");
    EXPECT_EQ("C:\\Program Files\\KaZaA\\Kazaa.exe", Locate(true));
}

TEST_F(Launcher, UntickedReadsGroksterDatabaseDirLessThreeCharacters) {
    WriteString(kClientKeys[0], "ExeDir", "C:\\Program Files\\KaZaA");
    WriteString(kClientKeys[1], "DatabaseDir", "C:\\Program Files\\Grokster\\db");
    EXPECT_EQ("C:\\Program Files\\Grokster\\Grokster.exe", Locate(false));
}

TEST_F(Launcher, MorpheusBoxIsTestedBeforeKazaa) {
    WriteString(kClientKeys[0], "ExeDir", "C:\\K");
    WriteString(kClientKeys[2], "DatabaseDir", "C:\\Morpheus\\db");
    // The template has no Morpheus box; give the dialog one.
    HWND box = CreateWindowExA(0, "Button", "Morpheus", WS_CHILD | BS_AUTOCHECKBOX, 0, 0, 10, 10,
                               setup_.dialog,
                               reinterpret_cast<HMENU>(static_cast<UINT_PTR>(IDC_OPT_MORPHEUS)),
                               GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(nullptr, box);
    CheckDlgButton(setup_.dialog, IDC_OPT_MORPHEUS, BST_CHECKED);
    EXPECT_EQ("C:\\Morpheus\\Morpheus.exe", Locate(true));
    CheckDlgButton(setup_.dialog, IDC_OPT_MORPHEUS, BST_UNCHECKED);
    EXPECT_EQ("C:\\K\\Kazaa.exe", Locate(true));
}

TEST_F(Launcher, MissingKeyOrValueGivesTheNameAlone) {
    EXPECT_EQ("\\Kazaa.exe", Locate(true));
    EXPECT_EQ("\\Grokster.exe", Locate(false));
    WriteString(kClientKeys[0], "OtherValue", "C:\\K");
    EXPECT_EQ("\\Kazaa.exe", Locate(true)) << "key present, value missing";
}

TEST_F(Launcher, ShortDatabaseDirValues) {
    WriteString(kClientKeys[1], "DatabaseDir", "abc");
    EXPECT_EQ("\\Grokster.exe", Locate(false));
    WriteString(kClientKeys[1], "DatabaseDir", "C:");
    EXPECT_EQ("C:\\Grokster.exe", Locate(false));
}

TEST_F(Launcher, ValueTypeIsNotExamined) {
    const char expandable[] = "C:\\Exp";
    WriteValue(kClientKeys[0], "ExeDir", REG_EXPAND_SZ, expandable, sizeof expandable);
    EXPECT_EQ("C:\\Exp\\Kazaa.exe", Locate(true));
    const char binary[] = "C:\\Bin";
    WriteValue(kClientKeys[0], "ExeDir", REG_BINARY, binary, sizeof binary);
    EXPECT_EQ("C:\\Bin\\Kazaa.exe", Locate(true));
}

TEST_F(Launcher, UnterminatedValueCountsAsNotFound) {
    const char bytes[] = {'C', ':', '\\', 'K'};
    WriteValue(kClientKeys[0], "ExeDir", REG_BINARY, bytes, sizeof bytes);
    EXPECT_EQ("\\Kazaa.exe", Locate(true));
}

TEST_F(Launcher, OverlongValuesNeverOverrunThePath) {
    // 250 characters leave no room for "\Kazaa.exe" and its zero.
    WriteString(kClientKeys[0], "ExeDir", std::string(250, 'k'));
    EXPECT_EQ("\\Kazaa.exe", Locate(true));
    // 249 fit exactly.
    WriteString(kClientKeys[0], "ExeDir", std::string(249, 'k'));
    EXPECT_EQ(std::string(249, 'k') + "\\Kazaa.exe", Locate(true));
    // Longer than the whole buffer: the registry read itself fails.
    WriteString(kClientKeys[0], "ExeDir", std::string(400, 'k'));
    EXPECT_EQ("\\Kazaa.exe", Locate(true));
    WriteString(kClientKeys[1], "DatabaseDir", std::string(300, 'g'));
    EXPECT_EQ("\\Grokster.exe", Locate(false));
}

TEST_F(Launcher, EarlierPathContentDoesNotLeakIntoANotFoundResult) {
    memset(g_clientPath, 'x', sizeof g_clientPath - 1);
    g_clientPath[sizeof g_clientPath - 1] = '\0';
    CheckDlgButton(setup_.dialog, IDC_OPT_KAZAA, BST_CHECKED);
    LocateClient(setup_.dialog);
    EXPECT_STREQ("\\Kazaa.exe", g_clientPath);
}

// ---- GO -------------------------------------------------------------------------

// Runs the real modal dialog; a second thread plays the user.
TEST_F(Launcher, GoWithoutClientWarnsClearsThePathAndStaysOpen) {
    std::atomic<bool> ok{true};
    std::string boxText;
    std::string boxCaption;
    bool openAfterWarning = false;
    std::string pathAfterWarning = "unset";

    std::thread user([&] {
        HWND dialog = nullptr;
        if (!PollUntil(10000, [&] {
                dialog = FindWindowA("#32770", "Tidewatch+");
                return dialog != nullptr && IsWindowVisible(dialog);
            })) {
            ok = false;
            return;
        }
        HWND ours = dialog;
        SetDlgItemTextA(ours, IDC_REFRESH_MINUTES, "10");
        SetDlgItemTextA(ours, IDC_ITEM_SECONDS, "5");
        SendMessageA(GetDlgItem(ours, IDC_OPT_KAZAA), BM_SETCHECK, BST_CHECKED, 0);
        PostMessageA(ours, WM_COMMAND, MAKEWPARAM(IDC_GO, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(ours, IDC_GO)));

        HWND box = nullptr;
        if (!PollUntil(10000, [&] {
                box = FindWindowA("#32770", "Error");
                return box != nullptr && IsWindowVisible(box);
            })) {
            ok = false;
            PostMessageA(ours, WM_COMMAND, IDC_GO, 0);
            return;
        }
        char text[256] = "";
        GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
        boxText = text;
        char caption[64] = "";
        GetWindowTextA(box, caption, sizeof caption);
        boxCaption = caption;
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        PollUntil(10000, [&] { return !IsWindow(box); });
        // Processed once GO's handler has returned: the path is settled by then.
        SendMessageA(ours, WM_NULL, 0, 0);
        openAfterWarning = IsWindow(ours) && IsWindowVisible(ours);
        pathAfterWarning.assign(g_clientPath, sizeof g_clientPath);

        WriteString(kClientKeys[0], "ExeDir", "C:\\Clients\\KaZaA");
        PostMessageA(ours, WM_COMMAND, MAKEWPARAM(IDC_GO, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(ours, IDC_GO)));
    });

    INT_PTR result = DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_SETUP),
                                     nullptr, SetupDlgProc, 0);
    user.join();
    ASSERT_TRUE(ok) << "the dialog or the message box did not appear";
    EXPECT_EQ(0, result);
    EXPECT_EQ("That Fasttrak client was not found. Try again", boxText);
    EXPECT_EQ("Error", boxCaption) << "no caption of its own";
    EXPECT_TRUE(openAfterWarning);
    EXPECT_EQ(std::string(sizeof g_clientPath, '\0'), pathAfterWarning)
        << "all 260 bytes cleared after a failed GO";
    EXPECT_STREQ("C:\\Clients\\KaZaA\\Kazaa.exe", g_clientPath);
    EXPECT_EQ(10, g_refreshMinutes);
    EXPECT_EQ(5, g_itemDelaySeconds);
}

TEST_F(Launcher, GoWithANotificationCodeOtherThanClickDoesNothing) {
    WriteString(kClientKeys[1], "DatabaseDir", "C:\\G\\db");
    SetDlgItemTextA(setup_.dialog, IDC_REFRESH_MINUTES, "3");
    SendMessageA(setup_.dialog, WM_COMMAND, MAKEWPARAM(IDC_GO, 1), 0);
    EXPECT_EQ(99, g_refreshMinutes) << "delays were read";
    EXPECT_EQ('\0', g_clientPath[0]) << "client was located";
    // The same command as a click proceeds.
    SendMessageA(setup_.dialog, WM_COMMAND, MAKEWPARAM(IDC_GO, 0), 0);
    EXPECT_EQ(3, g_refreshMinutes);
    EXPECT_STREQ("C:\\G\\Grokster.exe", g_clientPath);
}

TEST_F(Launcher, SetupDialogReturnsFalseForEveryMessage) {
    EXPECT_EQ(FALSE, SetupDlgProc(setup_.dialog, WM_INITDIALOG, 0, 0));
    EXPECT_EQ(FALSE, SetupDlgProc(setup_.dialog, WM_COMMAND, MAKEWPARAM(IDC_GO, 1), 0));
    EXPECT_EQ(FALSE, SetupDlgProc(setup_.dialog, WM_SYSCOMMAND, SC_KEYMENU, 0));
    EXPECT_EQ(FALSE, SetupDlgProc(setup_.dialog, WM_USER + 7, 0, 0));
}

} // namespace
