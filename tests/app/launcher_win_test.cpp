// The launcher's Windows side in process: the setup dialog from its real
// template, ReadDelays, and LocateClient against Wine's registry.
#include "app/launcher.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <cstdio>
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
        setup_ = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_SETUP), nullptr,
                                    SetupDlgProc, 0);
        ASSERT_NE(nullptr, setup_) << "dialog 101 not created, error " << GetLastError();
    }
    void TearDown() override {
        if (setup_)
            DestroyWindow(setup_);
        if (owner_)
            DeleteClientKeys();
    }

    // Earlier content of the path must not leak into the result.
    std::string Locate(bool kazaaTicked) {
        memset(g_clientPath, 'x', sizeof g_clientPath);
        CheckDlgButton(setup_, IDC_OPT_KAZAA, kazaaTicked ? BST_CHECKED : BST_UNCHECKED);
        LocateClient(setup_);
        return std::string(g_clientPath, strnlen(g_clientPath, sizeof g_clientPath));
    }

    void Delays(const char* minutes, const char* seconds) {
        SetDlgItemTextA(setup_, IDC_REFRESH_MINUTES, minutes);
        SetDlgItemTextA(setup_, IDC_ITEM_SECONDS, seconds);
        g_refreshMinutes = 99;
        g_itemDelaySeconds = 99;
        ReadDelays(setup_);
    }

    HWND setup_ = nullptr;
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

// One control as "id style class (x,y cx*cy) text"; predefined classes are
// stored by name or as ordinals (0x80 button, 0x81 edit, 0x82 static).
std::string DescribeControl(TemplateReader& r) {
    DWORD style = r.Dword();
    r.Dword(); // extended style
    short x = r.Short(), y = r.Short(), cx = r.Short(), cy = r.Short();
    WORD id = r.Word();
    std::string cls = r.SzOrOrd();
    for (char& ch : cls)
        ch = static_cast<char>(toupper(static_cast<unsigned char>(ch)));
    if (cls == "#128" || cls == "#129" || cls == "#130")
        cls = cls == "#128" ? "BUTTON" : cls == "#129" ? "EDIT" : "STATIC";
    std::string text = r.SzOrOrd();
    r.p += r.Word(); // creation data
    char line[160];
    snprintf(line, sizeof line, "%u %#lx %s (%d,%d %d*%d) ", id, static_cast<unsigned long>(style),
             cls.c_str(), x, y, cx, cy);
    return line + text;
}

std::string ExpectedControl(int id, DWORD style, const char* cls, int x, int y, int cx, int cy,
                            const std::string& text) {
    char line[160];
    snprintf(line, sizeof line, "%u %#lx %s (%d,%d %d*%d) ", id,
             static_cast<unsigned long>(style | WS_CHILD | WS_VISIBLE), cls, x, y, cx, cy);
    return line + text;
}

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
    EXPECT_EQ("0,0 217*130", std::to_string(x) + "," + std::to_string(y) + " " +
                                 std::to_string(cx) + "*" + std::to_string(cy));
    EXPECT_EQ("", r.SzOrOrd()) << "menu";
    EXPECT_EQ("", r.SzOrOrd()) << "class";
    EXPECT_EQ("Tidewatch+", r.SzOrOrd());
    EXPECT_EQ(8, r.Word()) << "font size";
    EXPECT_EQ("VERDANA", r.SzOrOrd());

    const DWORD edit = WS_BORDER | WS_TABSTOP | ES_NUMBER | ES_AUTOHSCROLL;
    const std::string expected[] = {
        ExpectedControl(IDC_OPT_KAZAA, BS_AUTOCHECKBOX, "BUTTON", 76, 82, 65, 8, "mark this box!"),
        ExpectedControl(IDC_REFRESH_MINUTES, edit, "EDIT", 89, 36, 37, 12, ""),
        ExpectedControl(IDC_REFRESH_LABEL, SS_CENTERIMAGE, "STATIC", 37, 24, 142, 12,
                        "Refresh delay (minutes, blank to disable) :"),
        ExpectedControl(IDC_GO, WS_TABSTOP | BS_PUSHBUTTON, "BUTTON", 21, 94, 172, 25,
                        "GO! Make sure kazaLite is running GO!"),
        ExpectedControl(IDC_ITEM_LABEL, SS_CENTERIMAGE, "STATIC", 8, 51, 199, 12,
                        "Delay between individual items (seconds, blank to disable) :"),
        ExpectedControl(IDC_ITEM_SECONDS, edit, "EDIT", 89, 63, 37, 12, ""),
    };
    for (const std::string& e : expected) {
        r.AlignDword(base);
        EXPECT_EQ(e, DescribeControl(r));
    }
}

TEST_F(Launcher, SystemMenuOffersTheRepairCommand) {
    HMENU menu = GetSystemMenu(setup_, FALSE);
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
}

// ---- ReadDelays ---------------------------------------------------------------

TEST_F(Launcher, ReadDelaysBlankFieldsAndDecimalParsing) {
    // ES_NUMBER filters typing only; a program can still set any text.
    // 250 blanks, then "12345" ends at the 255th character; a 256th would add "9".
    const std::string at255 = std::string(250, ' ') + "12345" + "9";
    const struct {
        std::string minutes, seconds;
        int refresh, item;
    } cases[] = {
        {"10", "5", 10, 5},
        {"", "5", 0, 0}, // the item field is not read when the refresh field is
                         // blank
        {"10", "", 10, 0},
        {" -3", "12abc", -3, 12},
        {at255, "x", 12345, 0},
    };
    for (const auto& c : cases) {
        Delays(c.minutes.c_str(), c.seconds.c_str());
        EXPECT_EQ(c.refresh, g_refreshMinutes) << "\"" << c.minutes << "\"";
        EXPECT_EQ(c.item, g_itemDelaySeconds) << "\"" << c.minutes << "\", \"" << c.seconds << "\"";
    }
}

// ---- LocateClient ---------------------------------------------------------------

TEST_F(Launcher, EachRowReadsItsOwnKeyAndValue) {
    WriteString(kClientKeys[0], "ExeDir", "C:\\Program Files\\KaZaA");
    WriteString(kClientKeys[1], "DatabaseDir", "C:\\Program Files\\Grokster\\db");
    WriteString(kClientKeys[2], "DatabaseDir", "C:\\Morpheus\\db");
    EXPECT_EQ("C:\\Program Files\\KaZaA\\Kazaa.exe", Locate(true));
    EXPECT_EQ("C:\\Program Files\\Grokster\\Grokster.exe", Locate(false));
    // The template has no Morpheus box; give the dialog one. It is tested first.
    HWND box =
        CreateWindowExA(0, "Button", "Morpheus", WS_CHILD | BS_AUTOCHECKBOX, 0, 0, 10, 10, setup_,
                        reinterpret_cast<HMENU>(static_cast<UINT_PTR>(IDC_OPT_MORPHEUS)),
                        GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(nullptr, box);
    CheckDlgButton(setup_, IDC_OPT_MORPHEUS, BST_CHECKED);
    EXPECT_EQ("C:\\Morpheus\\Morpheus.exe", Locate(true));
}

TEST_F(Launcher, MissingKeyOrValueGivesTheNameAlone) {
    EXPECT_EQ("\\Kazaa.exe", Locate(true));
    EXPECT_EQ("\\Grokster.exe", Locate(false));
    WriteString(kClientKeys[0], "OtherValue", "C:\\K");
    EXPECT_EQ("\\Kazaa.exe", Locate(true)) << "key present, value missing";
}

TEST_F(Launcher, ValueTypeIsNotExaminedButItsTerminatorIs) {
    const char expandable[] = "C:\\Exp";
    WriteValue(kClientKeys[0], "ExeDir", REG_EXPAND_SZ, expandable, sizeof expandable);
    EXPECT_EQ("C:\\Exp\\Kazaa.exe", Locate(true));
    const char binary[] = "C:\\Bin";
    WriteValue(kClientKeys[0], "ExeDir", REG_BINARY, binary, sizeof binary);
    EXPECT_EQ("C:\\Bin\\Kazaa.exe", Locate(true));
    const char unterminated[] = {'C', ':', '\\', 'K'};
    WriteValue(kClientKeys[0], "ExeDir", REG_BINARY, unterminated, sizeof unterminated);
    EXPECT_EQ("\\Kazaa.exe", Locate(true));
}

TEST_F(Launcher, OverlongValuesNeverOverrunThePath) {
    // 250 characters leave no room for "\Kazaa.exe" and its zero.
    WriteString(kClientKeys[0], "ExeDir", std::string(250, 'k'));
    EXPECT_EQ("\\Kazaa.exe", Locate(true));
    // Longer than the whole buffer: the registry read itself fails.
    WriteString(kClientKeys[0], "ExeDir", std::string(400, 'k'));
    EXPECT_EQ("\\Kazaa.exe", Locate(true));
    WriteString(kClientKeys[1], "DatabaseDir", std::string(300, 'g'));
    EXPECT_EQ("\\Grokster.exe", Locate(false));
}

// ---- GO -------------------------------------------------------------------------

// Runs the real modal dialog; a second thread plays the user. (Launching the
// client after a later GO is run end to end.)
TEST_F(Launcher, GoWithoutClientWarnsClearsThePathAndStaysOpen) {
    std::atomic<bool> ok{true};
    std::string boxText;
    bool openAfterWarning = false;
    std::string pathAfterWarning = "unset";

    std::thread user([&] {
        HWND dialog = nullptr;
        HWND box = nullptr;
        auto visible = [](HWND& window, const char* title) {
            return PollUntil(10000, [&] {
                window = FindWindowA("#32770", title);
                return window != nullptr && IsWindowVisible(window);
            });
        };
        if (!visible(dialog, "Tidewatch+")) {
            ok = false;
            return;
        }
        CheckDlgButton(dialog, IDC_OPT_KAZAA, BST_CHECKED);
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_GO, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDC_GO)));
        if (visible(box, "Error")) {
            char text[256] = "";
            GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
            boxText = text;
            PostMessageA(box, WM_COMMAND, IDOK, 0);
            PollUntil(10000, [&] { return !IsWindow(box); });
            // Processed once GO's handler has returned: the path is settled by then.
            SendMessageA(dialog, WM_NULL, 0, 0);
            openAfterWarning = IsWindow(dialog) && IsWindowVisible(dialog);
            pathAfterWarning.assign(g_clientPath, sizeof g_clientPath);
        } else {
            ok = false;
        }
        WriteString(kClientKeys[0], "ExeDir", "C:\\K"); // so that GO ends the dialog
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_GO, BN_CLICKED), 0);
    });

    INT_PTR result = DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_SETUP),
                                     nullptr, SetupDlgProc, 0);
    user.join();
    ASSERT_TRUE(ok) << "the dialog or the message box did not appear";
    EXPECT_EQ(0, result);
    EXPECT_EQ("That Fasttrak client was not found. Try again", boxText);
    EXPECT_TRUE(openAfterWarning);
    EXPECT_EQ(std::string(sizeof g_clientPath, '\0'), pathAfterWarning)
        << "all 260 bytes cleared after a failed GO";
}

TEST_F(Launcher, GoWithANotificationCodeOtherThanClickDoesNothing) {
    WriteString(kClientKeys[1], "DatabaseDir", "C:\\G\\db");
    SetDlgItemTextA(setup_, IDC_REFRESH_MINUTES, "3");
    SendMessageA(setup_, WM_COMMAND, MAKEWPARAM(IDC_GO, 1), 0);
    EXPECT_EQ(99, g_refreshMinutes) << "delays were read";
    EXPECT_EQ('\0', g_clientPath[0]) << "client was located";
    // The same command as a click proceeds.
    SendMessageA(setup_, WM_COMMAND, MAKEWPARAM(IDC_GO, 0), 0);
    EXPECT_EQ(3, g_refreshMinutes);
    EXPECT_STREQ("C:\\G\\Grokster.exe", g_clientPath);
}

} // namespace
