#include "dat/dat.h"
#include "dat/dat_io.h"
#include "tests/dat/dat_test_util.h"

namespace {

using Lines = std::vector<std::string>;

// abc, "KAZA", 03 00, 3D BE DB CA
Bytes AbcFile() {
    return Concat({ToBytes("abc"), Footer(3, 0xCADBBE3D)});
}

class Verify : public DatFileTest {
  protected:
    int Run(const std::string& path) {
        capture_.Clear();
        return VerifyDatFile(path.c_str());
    }
    ReportCapture capture_;
};

TEST_F(Verify, ResultAndLinesForEachKindOfFile) {
    const Bytes abc = AbcFile();
    Bytes changed = abc, kazb = abc;
    changed[1] ^= 0x20;
    kazb[6] = 'B';
    const struct {
        const char* name;
        Bytes file;
        int result;
        Lines lines; // after "Verifying"
    } cases[] = {
        {"empty.dat", Footer(0, 0xFFFFFFFF), 1, {"0", "ffffffff", "ffffffff"}},
        {"abc.dat", AbcFile(), 1, {"3", "cadbbe3d", "cadbbe3d"}},
        {"changed.dat", changed, 0, {"3", "cadbbe3d", Hex(BytewiseChecksum(changed, 0, 3))}},
        {"front.dat",
         Concat({ToBytes("not counted"), AbcFile()}),
         1,
         {"3", "cadbbe3d", "cadbbe3d"}},
        // A region longer than the data: only the bytes that exist are summed.
        {"long.dat",
         Concat({ToBytes("abc"), Footer(4, 0xCADBBE3D)}),
         0,
         {"4", "cadbbe3d", "cadbbe3d"}},
        {"longest.dat", Footer(0xFFFF, 0xFFFFFFFF), 0, {"ffff", "ffffffff", "ffffffff"}},
        {"kazb.dat", kazb, -1, {}},
        {"short.dat", Bytes(abc.end() - 9, abc.end()), -1, {}},
    };
    for (const auto& c : cases) {
        const std::string path = Write(c.name, c.file);
        EXPECT_EQ(c.result, Run(path)) << c.name;
        Lines expected = {"Verifying " + path + "...\r\n"};
        if (!c.lines.empty())
            expected.insert(expected.end(), {"Pointer: " + c.lines[0] + "\r\n",
                                             "File Checksum: " + c.lines[1] + "\r\n",
                                             "Calculated Checksum: " + c.lines[2] + "\r\n"});
        EXPECT_EQ(expected, capture_.lines) << c.name;
        EXPECT_EQ(c.file, Read(path)) << c.name;
    }
}

TEST_F(Verify, MissingFolderOrHeldFileCannotBeRead) {
    const std::string held = Write("held.dat", AbcFile());
    OtherHolder holder(held);
    ASSERT_TRUE(holder.Holding());
    for (const std::string& path : {PathOf("missing.dat"), folder_, held}) {
        EXPECT_EQ(-1, Run(path)) << path;
        EXPECT_EQ(1u, capture_.lines.size()) << path;
    }
}

TEST_F(Verify, LeavesTheFileClosed) {
    const std::string path = Write("twice.dat", AbcFile());
    EXPECT_EQ(1, Run(path));
    EXPECT_EQ(1, Run(path)) << "a second verification opens it again";
    EXPECT_TRUE(DatIoOpen(path.c_str(), DatIoMode::Write)) << "still held";
}

} // namespace
