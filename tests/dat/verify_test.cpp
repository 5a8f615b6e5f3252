// The checksum, the report's lines, the verification of a file, and a
// repair that cannot verify again (other verdicts: tool_cli.sh, e2e_test).
#include "dat/dat.h"
#include "dat/dat_io.h"
#include "dat/report.h"
#include "tests/dat/dat_test_util.h"

#include <memory>
#include <random>
#include <thread>

namespace {

TEST(DatChecksum, KnownValuesOfTheDefinition) {
    EXPECT_EQ(DatChecksum("", 0), 0xFFFFFFFFu) << "no bytes leave the register as started";
    EXPECT_EQ(DatChecksum("abc", 3), 0xCADBBE3Du);
    EXPECT_EQ(DatChecksum("123456789", 9), 0x340BC6D9u);
}

// The fast paths (sixteen bytes per table step, carry-less folding where the
// processor has it) against one table step per byte, over every length
// around the block sizes and at every alignment, whole and in pieces.
TEST(DatChecksum, EqualsTheBytewiseDefinitionOnRandomBuffers) {
    std::mt19937 random(20261206);
    Bytes buffer(70000);
    for (auto& b : buffer)
        b = static_cast<unsigned char>(random());
    for (std::size_t length = 0; length <= 300; ++length)
        for (std::size_t offset = 0; offset < 17; ++offset)
            ASSERT_EQ(DatChecksum(&buffer[offset], length),
                      BytewiseChecksum(buffer, offset, length))
                << "length " << length << ", offset " << offset;
    for (std::size_t length : {1023u, 4096u, 65535u, 69999u})
        EXPECT_EQ(DatChecksum(&buffer[1], length), BytewiseChecksum(buffer, 1, length)) << length;
    const std::uint32_t whole = DatChecksum(buffer.data(), 5000);
    for (int round = 0; round < 200; ++round) {
        std::uint32_t reg = kDatChecksumStart;
        for (std::size_t at = 0, piece; at < 5000; at += piece) {
            piece = std::min<std::size_t>(random() % 300, 5000 - at);
            reg = DatChecksumUpdate(reg, &buffer[at], piece);
        }
        ASSERT_EQ(reg, whole) << "round " << round;
    }
}

TEST(AppendReport, EachThreadHasItsOwnRestorableSink) {
    ReportCapture outer;
    {
        ReportCapture inner;
        std::vector<std::string> other;
        std::thread worker([&] {
            AppendReport(kReportPointer, 1, 0); // no sink: dropped
            ReportCapture own;
            AppendReport(kReportPointer, 2, 0);
            other = own.lines;
        });
        worker.join();
        EXPECT_EQ(0, AppendReport(kReportPointer, 3, 0));
        EXPECT_EQ(other, std::vector<std::string>{"Pointer: 2\r\n"});
        EXPECT_EQ(inner.lines, std::vector<std::string>{"Pointer: 3\r\n"});
    }
    AppendReport(kReportPointer, 4, 0);
    EXPECT_EQ(outer.lines, std::vector<std::string>{"Pointer: 4\r\n"});
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
    const Bytes abc = Concat({ToBytes("abc"), Footer(3, 0xCADBBE3D)}); // KAZA 03 00 3D BE DB CA
    Bytes changed = abc, kazb = abc;
    const Bytes front = Concat({ToBytes("not counted"), abc}),
                longer = Concat({ToBytes("abc"), Footer(4, 0xCADBBE3D)});
    changed[1] ^= 0x20;
    kazb[6] = 'B';
    const struct {
        const char* name;
        Bytes file;
        int result;
        Lines lines; // after "Verifying"
    } cases[] = {
        {"empty.dat", Footer(0, 0xFFFFFFFF), 1, {"0", "ffffffff", "ffffffff"}},
        {"abc.dat", abc, 1, {"3", "cadbbe3d", "cadbbe3d"}},
        {"changed.dat", changed, 0, {"3", "cadbbe3d", Hex(BytewiseChecksum(changed, 0, 3))}},
        {"front.dat", front, 1, {"3", "cadbbe3d", "cadbbe3d"}},
        // A region longer than the data: only the bytes that exist are summed.
        {"long.dat", longer, 0, {"4", "cadbbe3d", "cadbbe3d"}},
        {"longest.dat", Footer(0xFFFF, 0xFFFFFFFF), 0, {"ffff", "ffffffff", "ffffffff"}},
        {"kazb.dat", kazb, -1, {}},
        {"short.dat", Bytes(abc.end() - 9, abc.end()), -1, {}}};
    for (const auto& c : cases) {
        const std::string path = Write(c.name, c.file);
        EXPECT_EQ(c.result, Run(path)) << c.name;
        EXPECT_TRUE(DatIoOpen(path.c_str(), DatIoMode::Write)) << c.name << " is held still";
        Lines expected = {"Verifying " + path + "...\r\n"};
        if (!c.lines.empty())
            expected.insert(expected.end(), {"Pointer: " + c.lines[0] + "\r\n",
                                             "File Checksum: " + c.lines[1] + "\r\n",
                                             "Calculated Checksum: " + c.lines[2] + "\r\n"});
        EXPECT_EQ(expected, capture_.lines) << c.name;
        EXPECT_EQ(c.file, Read(path)) << c.name;
    }
    // Read beside another reader; never opened: a missing file, a folder, a
    // file another program writes (waited for, then called busy).
    OtherHolder writer(Write("held.dat", abc)), reader(Write("read.dat", abc), false, true);
    ASSERT_TRUE(writer.Holding() && reader.Holding());
    EXPECT_EQ(1, Run(PathOf("read.dat")));
    for (const std::string& path : {PathOf("missing.dat"), folder_, PathOf("held.dat")}) {
        capture_.Clear();
        DatFacts facts;
        EXPECT_EQ(DatOutcome::Unopened, ProcessDatFile(path.c_str(), nullptr, nullptr, {}, &facts));
        EXPECT_EQ((Lines{"Verifying " + path + "...\r\n",
                         "ERROR: File " + path + " could not be opened\r\n"}),
                  capture_.lines);
        EXPECT_FALSE(facts.error.empty()) << path;
    }
    EXPECT_EQ(kDatIoBusy, DatIoLastError());
}

// A file that opens but whose read fails (here one whose stated size is
// more than it holds, as a bad sector fails a read) gets no verdict.
TEST_F(Verify, AFileThatCannotBeReadGetsNoVerdict) {
#ifdef _WIN32
    const std::string path = "Z:\\sys\\kernel\\mm\\transparent_hugepage\\enabled";
#else
    const std::string path = "/sys/kernel/mm/transparent_hugepage/enabled";
#endif
    if (!DatIoOpen(path.c_str(), DatIoMode::Read))
        GTEST_SKIP() << path << " cannot be opened here";
    capture_.Clear();
    DatFacts facts;
    EXPECT_EQ(DatOutcome::Unread, ProcessDatFile(path.c_str(), nullptr, nullptr, {}, &facts));
    EXPECT_EQ(
        (Lines{"Verifying " + path + "...\r\n", "ERROR: File " + path + " could not be read\r\n"}),
        capture_.lines);
    EXPECT_FALSE(facts.error.empty());
}

TEST(AppendReport, ControlCharactersAreShownEscaped) {
    EXPECT_EQ(
        "Verifying a\\033[31m\\nb\\tc\\177\\001\\r\xc3\xa9...\r\n",
        FormatReportLine(kReportVerifying,
                         reinterpret_cast<std::uintptr_t>("a\x1b[31m\nb\tc\x7f\x01\r\xc3\xa9"), 1));
}

std::unique_ptr<OtherHolder> g_holder;

// Another program takes the file while the question is open.
bool YesAndTaken(void*, const char* path) {
    g_holder.reset(new OtherHolder(path));
    return true;
}

// A file that cannot be read again has not been repaired: -1 is no success.
TEST_F(Verify, AFileTakenWhileTheQuestionIsOpenFailsRepair) {
    const std::string path = Write("taken.dat", DamagedSong());
    EXPECT_EQ(DatOutcome::RepairFailed, ProcessDatFile(path.c_str(), YesAndTaken, nullptr));
    ASSERT_TRUE(g_holder && g_holder->Holding());
    g_holder.reset();
    EXPECT_EQ("ERROR: File " + path + " failed repair\r\n", capture_.lines.back());
    EXPECT_EQ(DamagedSong(), Read(path));
}

} // namespace
