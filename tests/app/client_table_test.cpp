#include "app/client_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "res/resource.h"

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

// Builds into a 260-byte path inside a larger buffer whose tail must stay untouched.
struct Built {
    char buffer[kPathSize + 16];
    std::string path;
    bool tailIntact;
};

Built Build(const ClientRow& row, const std::string& value, bool found = true) {
    Built b;
    memset(b.buffer, 0x5A, sizeof b.buffer);
    // The registry returns the string with its terminating zero.
    BuildClientPath(row, value.c_str(), value.size() + 1, found, b.buffer, kPathSize);
    b.path = std::string(b.buffer, strnlen(b.buffer, kPathSize));
    b.tailIntact = true;
    for (size_t i = kPathSize; i < sizeof b.buffer; ++i)
        b.tailIntact = b.tailIntact && b.buffer[i] == 0x5A;
    return b;
}

TEST(ClientTable, RowsInLocatorOrder) {
    EXPECT_EQ(IDC_OPT_MORPHEUS, Morpheus().control);
    EXPECT_STREQ("SOFTWARE\\Morpheus\\LocalContent", Morpheus().key);
    EXPECT_STREQ("DatabaseDir", Morpheus().valueName);
    EXPECT_EQ(3u, Morpheus().dropChars);
    EXPECT_STREQ("\\Morpheus.exe", Morpheus().exeName);

    EXPECT_EQ(IDC_OPT_KAZAA, Kazaa().control);
    EXPECT_STREQ("SOFTWARE\\KaZaA\\CloudLoad", Kazaa().key);
    EXPECT_STREQ("ExeDir", Kazaa().valueName);
    EXPECT_EQ(0u, Kazaa().dropChars);
    EXPECT_STREQ("\\Kazaa.exe", Kazaa().exeName);

    EXPECT_EQ(0, Grokster().control);
    EXPECT_STREQ("SOFTWARE\\Grokster\\LocalContent", Grokster().key);
    EXPECT_STREQ("DatabaseDir", Grokster().valueName);
    EXPECT_EQ(3u, Grokster().dropChars);
    EXPECT_STREQ("\\Grokster.exe", Grokster().exeName);
}

TEST(ClientTable, MorpheusWinsOverKazaaAndGroksterIsTheDefault) {
    EXPECT_EQ(&Morpheus(), &PickClientRow(true, true));
    EXPECT_EQ(&Morpheus(), &PickClientRow(true, false));
    EXPECT_EQ(&Kazaa(), &PickClientRow(false, true));
    EXPECT_EQ(&Grokster(), &PickClientRow(false, false));
}

TEST(BuildClientPath, ExeDirIsUsedWhole) {
    Built b = Build(Kazaa(), "C:\\Program Files\\KaZaA");
    EXPECT_EQ("C:\\Program Files\\KaZaA\\Kazaa.exe", b.path);
    EXPECT_TRUE(b.tailIntact);
}

TEST(BuildClientPath, DatabaseDirLosesItsLastThreeCharacters) {
    EXPECT_EQ("C:\\Program Files\\Grokster\\Grokster.exe",
              Build(Grokster(), "C:\\Program Files\\Grokster\\db").path);
    EXPECT_EQ("D:\\M\\Morpheus.exe", Build(Morpheus(), "D:\\M\\db").path);
}

TEST(BuildClientPath, ShortDatabaseDirValues) {
    EXPECT_EQ("\\Grokster.exe", Build(Grokster(), "abc").path)
        << "three characters leave an empty folder: not found";
    EXPECT_EQ("C:\\Grokster.exe", Build(Grokster(), "C:").path) << "shorter values stay whole";
    EXPECT_EQ("C:\\Morpheus.exe", Build(Morpheus(), "C:").path);
    EXPECT_EQ("\\Morpheus.exe", Build(Morpheus(), "").path);
    EXPECT_EQ("\\Kazaa.exe", Build(Kazaa(), "").path);
}

TEST(BuildClientPath, MissingValueGivesTheNameAlone) {
    char path[kPathSize];
    memset(path, 'x', sizeof path); // earlier content must not leak into the result
    BuildClientPath(Kazaa(), nullptr, 0, false, path, sizeof path);
    EXPECT_STREQ("\\Kazaa.exe", path);
    BuildClientPath(Grokster(), "C:\\G\\db", 8, false, path, sizeof path);
    EXPECT_STREQ("\\Grokster.exe", path) << "data of a failed read is ignored";
}

TEST(BuildClientPath, ValueWithoutTerminatingZeroIsNotFound) {
    const char data[] = {'C', ':', '\\', 'K'};
    char path[kPathSize];
    BuildClientPath(Kazaa(), data, sizeof data, true, path, sizeof path);
    EXPECT_STREQ("\\Kazaa.exe", path);
    BuildClientPath(Kazaa(), data, 0, true, path, sizeof path);
    EXPECT_STREQ("\\Kazaa.exe", path) << "an empty value has no terminator either";
    // Text up to the first zero counts; bytes after it are ignored.
    const char embedded[] = {'C', ':', '\0', 'x', 'y'};
    BuildClientPath(Kazaa(), embedded, sizeof embedded, true, path, sizeof path);
    EXPECT_STREQ("C:\\Kazaa.exe", path);
}

TEST(BuildClientPath, LongestValueThatStillFits) {
    // 249 characters + "\Kazaa.exe" (10) + zero = 260 bytes exactly.
    std::string dir(249, 'k');
    Built b = Build(Kazaa(), dir);
    EXPECT_EQ(dir + "\\Kazaa.exe", b.path);
    EXPECT_EQ(259u, b.path.size());
    EXPECT_TRUE(b.tailIntact);

    // DatabaseDir: 246 + 3 dropped, + "\Grokster.exe" (13) + zero = 260.
    std::string db(246, 'g');
    Built g = Build(Grokster(), db + "\\db");
    EXPECT_EQ(db + "\\Grokster.exe", g.path);
    EXPECT_TRUE(g.tailIntact);
}

TEST(BuildClientPath, ValueTooLongForTheNameIsNotFound) {
    Built b = Build(Kazaa(), std::string(250, 'k'));
    EXPECT_EQ("\\Kazaa.exe", b.path);
    EXPECT_TRUE(b.tailIntact);

    Built g = Build(Grokster(), std::string(247, 'g') + "\\db");
    EXPECT_EQ("\\Grokster.exe", g.path);
    EXPECT_TRUE(g.tailIntact);

    // A full 260-byte value, as the registry read leaves the largest one.
    std::string full(259, 'm');
    Built m = Build(Morpheus(), full);
    EXPECT_EQ("\\Morpheus.exe", m.path);
    EXPECT_TRUE(m.tailIntact);
}

TEST(BuildClientPath, RestOfThePathIsZeroFilled) {
    char path[kPathSize];
    memset(path, 'x', sizeof path);
    BuildClientPath(Kazaa(), "C:\\K", 5, true, path, sizeof path);
    EXPECT_STREQ("C:\\K\\Kazaa.exe", path);
    for (size_t i = strlen(path); i < sizeof path; ++i)
        ASSERT_EQ('\0', path[i]) << "at " << i;
}

} // namespace
