#include "app/client_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

constexpr size_t kPathSize = 260;

const ClientRow& Morpheus() {
    return kClientTable[0];
}
const ClientRow& Kazaa() {
    return kClientTable[1];
}
const ClientRow& Grokster() {
    return kClientTable[2];
}

// Builds into a 260-byte path, first filled with junk, inside a larger
// buffer whose tail must stay untouched; the result must be zero-filled.
std::string Build(const ClientRow& row, const char* data, size_t size, bool found = true) {
    char buffer[kPathSize + 16];
    memset(buffer, 0x5A, sizeof buffer);
    BuildClientPath(row, data, size, found, buffer, kPathSize);
    std::string path(buffer, strnlen(buffer, kPathSize));
    for (size_t i = path.size(); i < kPathSize; ++i)
        EXPECT_EQ('\0', buffer[i]) << "not zero-filled at " << i;
    for (size_t i = kPathSize; i < sizeof buffer; ++i)
        EXPECT_EQ(0x5A, buffer[i]) << "written past the path at " << i;
    return path;
}

// The registry returns a string with its terminating zero.
std::string Build(const ClientRow& row, const std::string& value) {
    return Build(row, value.c_str(), value.size() + 1);
}

TEST(ClientTable, MorpheusWinsOverKazaaAndGroksterIsTheDefault) {
    EXPECT_EQ(&Morpheus(), &PickClientRow(true, true));
    EXPECT_EQ(&Morpheus(), &PickClientRow(true, false));
    EXPECT_EQ(&Kazaa(), &PickClientRow(false, true));
    EXPECT_EQ(&Grokster(), &PickClientRow(false, false));
}

TEST(BuildClientPath, ExeDirWholeDatabaseDirLessThreeCharacters) {
    const struct {
        const ClientRow& row;
        std::string value, path;
    } cases[] = {
        {Kazaa(), "C:\\Program Files\\KaZaA", "C:\\Program Files\\KaZaA\\Kazaa.exe"},
        {Grokster(), "C:\\Program Files\\Grokster\\db",
         "C:\\Program Files\\Grokster\\Grokster.exe"},
        {Morpheus(), "D:\\M\\db", "D:\\M\\Morpheus.exe"},
        // Three characters leave an empty folder: not found; shorter ones stay whole.
        {Grokster(), "abc", "\\Grokster.exe"},
        {Grokster(), "C:", "C:\\Grokster.exe"},
        {Kazaa(), "", "\\Kazaa.exe"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.path, Build(c.row, c.value)) << "value \"" << c.value << "\"";
}

TEST(BuildClientPath, MissingOrUnterminatedValueGivesTheNameAlone) {
    EXPECT_EQ("\\Kazaa.exe", Build(Kazaa(), nullptr, 0, false));
    EXPECT_EQ("\\Grokster.exe", Build(Grokster(), "C:\\G\\db", 8, false))
        << "data of a failed read is ignored";
    const char unterminated[] = {'C', ':', '\\', 'K'};
    EXPECT_EQ("\\Kazaa.exe", Build(Kazaa(), unterminated, sizeof unterminated));
    EXPECT_EQ("\\Kazaa.exe", Build(Kazaa(), unterminated, 0)) << "empty value, no terminator";
    // Text up to the first zero counts; bytes after it are ignored.
    const char embedded[] = {'C', ':', '\0', 'x', 'y'};
    EXPECT_EQ("C:\\Kazaa.exe", Build(Kazaa(), embedded, sizeof embedded));
}

TEST(BuildClientPath, LongestValueFitsOneMoreIsNotFound) {
    // 249 + "\Kazaa.exe" (10) + zero = 260; DatabaseDir: 246 + 3 dropped + 13 + zero.
    EXPECT_EQ(std::string(249, 'k') + "\\Kazaa.exe", Build(Kazaa(), std::string(249, 'k')));
    EXPECT_EQ(std::string(246, 'g') + "\\Grokster.exe",
              Build(Grokster(), std::string(246, 'g') + "\\db"));
    EXPECT_EQ("\\Kazaa.exe", Build(Kazaa(), std::string(250, 'k')));
    EXPECT_EQ("\\Grokster.exe", Build(Grokster(), std::string(247, 'g') + "\\db"));
    // A full 260-byte value, as the registry read leaves the largest one.
    EXPECT_EQ("\\Morpheus.exe", Build(Morpheus(), std::string(259, 'm')));
}

} // namespace
