// The launcher's portable parts: the delay fields' numbers and the client table.
#include "app/client_table.h"
#include "app/decimal.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

namespace {

TEST(ParseDecimal, LikeAtoiWrappingInThirtyTwoBits) {
    const struct {
        const char* text;
        int value;
    } cases[] = {{"0005", 5},
                 {"", 0},
                 {" \t\n\v\f\r12", 12},
                 {"+7", 7},
                 {"  -42", -42},
                 {"+-5", 0},
                 {"- 5", 0},
                 {"12abc", 12},
                 {"2147483647", 2147483647},
                 {"2147483648", INT_MIN},
                 {"4294967297", 1},
                 {"-4294967297", -1},
                 {"100000000000000000000", 1661992960}}; // 10^20 mod 2^32
    for (const auto& c : cases)
        EXPECT_EQ(c.value, ParseDecimal(c.text)) << "\"" << c.text << "\"";
}

TEST(ClientTable, MorpheusBeforeKazaaAndGroksterByDefault) {
    EXPECT_STREQ("SOFTWARE\\Morpheus\\LocalContent", PickClientRow(true, true).key);
    EXPECT_STREQ("SOFTWARE\\KaZaA\\CloudLoad", PickClientRow(false, true).key);
    EXPECT_STREQ("SOFTWARE\\Grokster\\LocalContent", PickClientRow(false, false).key);
}

// Built into a 260-byte path, first filled with junk, inside a larger buffer
// whose tail must stay untouched; the path must come out zero-filled.
std::string Build(const ClientRow& row, const std::string& value, bool found = true) {
    char buffer[260 + 16];
    std::memset(buffer, 0x5A, sizeof buffer);
    BuildClientPath(row, value.data(), value.size(), found, buffer, 260);
    std::string path(buffer, strnlen(buffer, 260));
    for (std::size_t i = path.size(); i < 260; ++i)
        EXPECT_EQ('\0', buffer[i]) << "not zero-filled at " << i;
    for (std::size_t i = 260; i < sizeof buffer; ++i)
        EXPECT_EQ(0x5A, buffer[i]) << "written past the path at " << i;
    return path;
}

TEST(BuildClientPath, FolderLessItsDroppedCharactersThenTheNameWithinBounds) {
    const ClientRow &morpheus = kClientTable[0], &kazaa = kClientTable[1],
                    &grokster = kClientTable[2];
    const std::string z(1, '\0');
    const struct {
        const ClientRow& row;
        std::string value, path;
    } cases[] = {
        {kazaa, "C:\\Program Files\\KaZaA" + z, "C:\\Program Files\\KaZaA\\Kazaa.exe"},
        {morpheus, "D:\\M\\db" + z, "D:\\M\\Morpheus.exe"},
        {grokster, "abc" + z, "\\Grokster.exe"},  // an empty folder: not found
        {grokster, "C:" + z, "C:\\Grokster.exe"}, // shorter than three: whole
        {kazaa, z, "\\Kazaa.exe"},
        {kazaa, "C:\\K", "\\Kazaa.exe"},           // no terminating zero
        {kazaa, "C:" + z + "xy", "C:\\Kazaa.exe"}, // up to the first zero
        {kazaa, std::string(249, 'k') + z, std::string(249, 'k') + "\\Kazaa.exe"},
        {kazaa, std::string(250, 'k') + z, "\\Kazaa.exe"}, // one too long
        {grokster, std::string(246, 'g') + "\\db" + z, std::string(246, 'g') + "\\Grokster.exe"},
        {grokster, std::string(247, 'g') + "\\db" + z, "\\Grokster.exe"}};
    for (const auto& c : cases)
        EXPECT_EQ(c.path, Build(c.row, c.value)) << c.value.size() << " bytes";
    EXPECT_EQ("\\Grokster.exe", Build(grokster, "C:\\G\\db" + z, false)) << "a failed read";
}

} // namespace
