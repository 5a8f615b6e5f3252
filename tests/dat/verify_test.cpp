#include "dat/dat.h"
#include "dat/dat_io.h"
#include "tests/dat/dat_test_util.h"

namespace {

using Lines = std::vector<std::string>;

class VerifyDatFileTest : public DatFileTest {
  protected:
    int Verify(const std::string& path) {
        capture_.Clear();
        return VerifyDatFile(path.c_str());
    }
    ReportCapture capture_;
};

// abc, "KAZA", 03 00, 3D BE DB CA
Bytes AbcFile() {
    return Concat({ToBytes("abcKAZA"), {0x03, 0x00, 0x3D, 0xBE, 0xDB, 0xCA}});
}

TEST_F(VerifyDatFileTest, IntactFilesAreOkAndReportTheirFourLines) {
    struct Case {
        const char* name;
        Bytes file;
        const char* pointer;
        const char* checksum;
    };
    const Case cases[] = {
        {"empty.dat", Concat({ToBytes("KAZA"), Le16(0), Le32(0xFFFFFFFF)}), "0", "ffffffff"},
        {"abc.dat", AbcFile(), "3", "cadbbe3d"},
    };
    for (const Case& c : cases) {
        std::string path = Write(c.name, c.file);
        EXPECT_EQ(Verify(path), 1) << c.name;
        EXPECT_EQ(
            capture_.lines,
            (Lines{"Verifying " + path + "...\r\n", "Pointer: " + std::string(c.pointer) + "\r\n",
                   "File Checksum: " + std::string(c.checksum) + "\r\n",
                   "Calculated Checksum: " + std::string(c.checksum) + "\r\n"}));
    }
}

TEST_F(VerifyDatFileTest, AnyChangedRegionByteGivesZero) {
    for (int i = 0; i < 3; ++i) {
        Bytes file = AbcFile();
        file[i] ^= 0x20;
        std::string path = Write("changed.dat", file);
        EXPECT_EQ(Verify(path), 0) << "byte " << i;
        ASSERT_EQ(capture_.lines.size(), 4u);
        EXPECT_EQ(capture_.lines[2], "File Checksum: cadbbe3d\r\n");
        EXPECT_EQ(capture_.lines[3],
                  "Calculated Checksum: " + Hex(BytewiseChecksum(file.data(), 3)) + "\r\n");
    }
}

TEST_F(VerifyDatFileTest, OnlyTheRegionCounts) {
    // Bytes in front of the region are not part of it.
    Bytes file = WithFooter(Concat({ToBytes("junk in front"), ToBytes("region")}), 6);
    file[0] = 'J';
    EXPECT_EQ(Verify(Write("region.dat", file)), 1);
}

// Without the magic, missing, or a folder: -1 after the first line.
TEST_F(VerifyDatFileTest, NoMagicOrNoFileGivesMinusOneAfterOneLine) {
    Bytes kazb = AbcFile();
    kazb[6] = 'B';
    for (const std::string& path : {Write("kazb.dat", kazb), PathOf("missing.dat"), folder_}) {
        EXPECT_EQ(Verify(path), -1) << path;
        EXPECT_EQ(capture_.lines, Lines{"Verifying " + path + "...\r\n"});
    }
}

// Shorter than a footer: nothing before the file's first byte is read.
TEST_F(VerifyDatFileTest, FilesShorterThanTenBytesGiveMinusOne) {
    const Bytes footer = Concat({ToBytes("KAZA"), Le16(0), Le32(0xFFFFFFFF)});
    for (std::size_t length = 0; length < 10; ++length) {
        Bytes file(footer.end() - static_cast<std::ptrdiff_t>(length), footer.end());
        std::string path = Write("short.dat", file);
        EXPECT_EQ(Verify(path), -1) << length << " bytes";
        EXPECT_EQ(capture_.lines.size(), 1u) << length << " bytes";
    }
}

// A region longer than what lies in front of the footer: the result is 0,
// and the checksum shown is over the bytes that exist, never beyond them.
TEST_F(VerifyDatFileTest, RegionLongerThanTheDataGivesZero) {
    const Bytes data = ToBytes("abc");
    // Stored checksum: that of the three bytes, so only the length is wrong.
    std::string path =
        Write("long.dat", Concat({data, ToBytes("KAZA"), Le16(4), Le32(0xCADBBE3D)}));
    EXPECT_EQ(Verify(path), 0);
    EXPECT_EQ(capture_.lines,
              (Lines{"Verifying " + path + "...\r\n", "Pointer: 4\r\n",
                     "File Checksum: cadbbe3d\r\n", "Calculated Checksum: cadbbe3d\r\n"}));
    path = Write("longest.dat", Concat({ToBytes("KAZA"), Le16(0xFFFF), Le32(0xFFFFFFFF)}));
    EXPECT_EQ(Verify(path), 0);
    EXPECT_EQ(capture_.lines.back(), "Calculated Checksum: ffffffff\r\n");
}

TEST_F(VerifyDatFileTest, LeavesTheFileUnchangedAndClosed) {
    const Bytes file = AbcFile();
    std::string path = Write("twice.dat", file);
    EXPECT_EQ(Verify(path), 1);
    EXPECT_EQ(Verify(path), 1) << "a second verification opens the file again";
    EXPECT_EQ(Read(path), file);
    // Nobody holds it any more: an exclusive open succeeds.
    DatIoFile* held = DatIoOpen(path.c_str(), DatIoMode::Write);
    EXPECT_NE(held, nullptr);
    DatIoClose(held);
}

TEST_F(VerifyDatFileTest, FileHeldByAnotherProgramCannotBeRead) {
    std::string path = Write("held.dat", AbcFile());
    OtherHolder holder(path);
    ASSERT_TRUE(holder.Holding());
    EXPECT_EQ(Verify(path), -1);
}

} // namespace
