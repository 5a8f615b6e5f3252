// The setup dialog from its real template, ReadDelays, and LocateClient
// against Wine's registry, in process.
#include "app/launcher.h"

#include <gtest/gtest.h>

#include <string>

#include "refresh/settings.h"
#include "res/resource.h"
#include "tests/e2e/rig.h"

namespace {

const char kKazaa[] = "SOFTWARE\\KaZaA\\CloudLoad";
const char kGrokster[] = "SOFTWARE\\Grokster\\LocalContent";

void WriteValue(const char* key, const char* name, DWORD type, const std::string& data) {
    HKEY handle = nullptr;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_WRITE, nullptr, &handle, nullptr);
    RegSetValueExA(handle, name, 0, type, reinterpret_cast<const BYTE*>(data.data()),
                   static_cast<DWORD>(data.size()));
    RegCloseKey(handle);
}

class Setup : public ::testing::Test {
  protected:
    void SetUp() override {
        dialog_ = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_SETUP),
                                     nullptr, SetupDlgProc, 0);
        ASSERT_TRUE(dialog_);
    }
    void TearDown() override {
        DestroyWindow(dialog_);
        for (const char* key : {kKazaa, "SOFTWARE\\KaZaA", kGrokster, "SOFTWARE\\Grokster"})
            RegDeleteKeyA(HKEY_LOCAL_MACHINE, key);
    }
    // Whatever the path held before must not show in the result.
    std::string Locate(bool kazaa) {
        memset(g_clientPath, 'x', sizeof g_clientPath);
        CheckDlgButton(dialog_, IDC_OPT_KAZAA, kazaa ? BST_CHECKED : BST_UNCHECKED);
        LocateClient(dialog_);
        return std::string(g_clientPath, strnlen(g_clientPath, sizeof g_clientPath));
    }
    HWND dialog_ = nullptr;
};

TEST_F(Setup, ReadDelaysTakesTheItemDelayOnlyWithARefreshDelay) {
    // 250 blanks and "12345" fill the 255 characters read; a 256th is cut.
    const std::string at255 = std::string(250, ' ') + "123459";
    const struct {
        std::string minutes, seconds;
        int refresh, item;
    } cases[] = {
        {"10", "5", 10, 5},       {"", "5", 0, 0},        {"10", "", 10, 0},
        {" -3", "12abc", -3, 12}, {at255, "x", 12345, 0},
    };
    for (const auto& c : cases) {
        SetDlgItemTextA(dialog_, IDC_REFRESH_MINUTES, c.minutes.c_str());
        SetDlgItemTextA(dialog_, IDC_ITEM_SECONDS, c.seconds.c_str());
        g_refreshMinutes = g_itemDelaySeconds = 99;
        ReadDelays(dialog_);
        EXPECT_EQ(c.refresh, g_refreshMinutes) << c.minutes;
        EXPECT_EQ(c.item, g_itemDelaySeconds) << c.minutes << ", " << c.seconds;
    }
}

TEST_F(Setup, LocateClientReadsTheChosenRowsValueOfAnyTypeWithinBounds) {
    EXPECT_EQ("\\Kazaa.exe", Locate(true)) << "no key";
    WriteValue(kKazaa, "Other", REG_SZ, std::string("C:\\K", 5));
    EXPECT_EQ("\\Kazaa.exe", Locate(true)) << "no value";
    WriteValue(kGrokster, "DatabaseDir", REG_SZ, std::string("C:\\G\\db", 8));
    EXPECT_EQ("C:\\G\\Grokster.exe", Locate(false));
    const struct {
        DWORD type;
        std::string data, path;
    } cases[] = {
        {REG_SZ, std::string("C:\\Program Files\\KaZaA", 23),
         "C:\\Program Files\\KaZaA\\Kazaa.exe"},
        {REG_EXPAND_SZ, std::string("C:\\Exp", 7), "C:\\Exp\\Kazaa.exe"},
        {REG_BINARY, "C:\\Bin", "\\Kazaa.exe"},                // no terminating zero
        {REG_SZ, std::string(250, 'k') + '\0', "\\Kazaa.exe"}, // no room for the name
        {REG_SZ, std::string(400, 'k') + '\0', "\\Kazaa.exe"}, // larger than the buffer
    };
    for (const auto& c : cases) {
        WriteValue(kKazaa, "ExeDir", c.type, c.data);
        EXPECT_EQ(c.path, Locate(true)) << c.data.size() << " bytes";
    }
    // The template has no Morpheus box; one added is tested before KaZaA's.
    WriteValue("SOFTWARE\\Morpheus\\LocalContent", "DatabaseDir", REG_SZ,
               std::string("C:\\M\\db", 8));
    CreateWindowExA(0, "Button", "", WS_CHILD | BS_AUTOCHECKBOX, 0, 0, 9, 9, dialog_,
                    reinterpret_cast<HMENU>(IDC_OPT_MORPHEUS), nullptr, nullptr);
    CheckDlgButton(dialog_, IDC_OPT_MORPHEUS, BST_CHECKED);
    EXPECT_EQ("C:\\M\\Morpheus.exe", Locate(true));
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Morpheus\\LocalContent");
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Morpheus");
}

TEST_F(Setup, GoWithoutAClientWarnsClearsThePathAndStaysOpen) {
    std::string box;
    WhileModal(
        [&] {
            HWND found = FindWindowA("#32770", "Error");
            if (!found)
                return false;
            box = TextOf(found, 0xFFFF);
            PostMessageA(found, WM_COMMAND, IDOK, 0);
            return true;
        },
        [&] { SendMessageA(dialog_, WM_COMMAND, MAKEWPARAM(IDC_GO, BN_CLICKED), 0); });
    EXPECT_EQ("That Fasttrak client was not found. Try again", box);
    EXPECT_EQ(std::string(sizeof g_clientPath, '\0'),
              std::string(g_clientPath, sizeof g_clientPath));
    EXPECT_TRUE(IsWindow(dialog_));
    // A notification other than a click is no GO.
    WriteValue(kGrokster, "DatabaseDir", REG_SZ, std::string("C:\\G\\db", 8));
    SetDlgItemTextA(dialog_, IDC_REFRESH_MINUTES, "3");
    SendMessageA(dialog_, WM_COMMAND, MAKEWPARAM(IDC_GO, EN_CHANGE), 0);
    EXPECT_EQ('\0', g_clientPath[0]);
}

TEST_F(Setup, SystemMenuOffersTheRepairCommand) {
    HMENU menu = GetSystemMenu(dialog_, FALSE);
    const int count = GetMenuItemCount(menu);
    char text[64] = "";
    GetMenuStringA(menu, count - 1, text, sizeof text, MF_BYPOSITION);
    EXPECT_STREQ("Repair DAT files...", text);
    EXPECT_EQ(static_cast<UINT>(IDM_REPAIR_DAT), GetMenuItemID(menu, count - 1));
}

} // namespace
