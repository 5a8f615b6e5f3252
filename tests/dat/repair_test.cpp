#include "dat/dat.h"
#include "dat/dat_io.h"
#include "tests/dat/dat_test_util.h"

#include <cstring>
#include <random>

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

using Lines = std::vector<std::string>;

const char kText[] = "Some Artist - Some Title.mp3@K1";

Bytes Data64() {
    Bytes data(64);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<unsigned char>(0x80 + i);
    return data;
}

Bytes Footer(std::uint32_t pointer, std::uint32_t checksum) {
    return Concat({ToBytes("KAZA"), Le16(pointer), Le32(checksum)});
}

// Laid out as a repair leaves it: data, a zero run longer than two blocks,
// the value 1, the text, and the footer 27 00 48 36 16 80.
Bytes FixedPointFile() {
    return Concat({Data64(), Zeros(2500), Le32(1), ToBytes(kText), Footer(0x27, 0x80163648)});
}

// The same with 37 junk bytes between the value and the text.
Bytes JunkFile(Bytes junk = {}) {
    if (junk.empty()) {
        for (int i = 0; i < 36; ++i)
            junk.push_back(static_cast<unsigned char>(0xA0 + i));
        junk.push_back(0x01); // the last junk byte is not printable
    }
    return Concat({Data64(), Zeros(2500), Le32(1), junk, ToBytes(kText), Footer(0x27, 0x80163648)});
}

class RepairDatFileTest : public DatFileTest {
  protected:
    // Repairs the file named `name` holding `content`; returns what is left.
    Bytes Repair(const std::string& name, const Bytes& content) {
        std::string path = Write(name, content);
        capture_.Clear();
        RepairDatFile(path.c_str());
        return Read(path);
    }
    // The repaired file and the report lines must be as the model says.
    void ExpectAsModel(const std::string& name, const Bytes& content) {
        ExpectedRepair expected = ExpectedRepairOf(content);
        Bytes got = Repair(name, content);
        EXPECT_EQ(got.size(), expected.file.size()) << name;
        EXPECT_TRUE(got == expected.file) << name << ": content differs from the model";
        EXPECT_EQ(capture_.lines, expected.lines) << name;
        EXPECT_EQ(TempFiles(), Lines{}) << name << ": temporary file left behind";
    }
    void ExpectUntouched(const std::string& name, const Bytes& content) {
        Bytes got = Repair(name, content);
        EXPECT_TRUE(got == content) << name << ": the file was changed";
        EXPECT_EQ(capture_.lines, Lines{}) << name << ": no repair, so no new pointer";
        EXPECT_EQ(TempFiles(), Lines{}) << name;
    }
    ReportCapture capture_;
};

TEST_F(RepairDatFileTest, FixedPointComesOutUnchanged) {
    const Bytes file = FixedPointFile();
    EXPECT_EQ(Repair("fixed.dat", file), file);
    EXPECT_EQ(capture_.lines, (Lines{"New Pointer: 27\r\n", "New Checksum: 80163648\r\n"}));
}

TEST_F(RepairDatFileTest, ThirtySevenJunkBytesAreDropped) {
    const Bytes file = JunkFile();
    std::string path = Write("junk.dat", file);
    {
        ReportCapture verifyLines;
        EXPECT_EQ(VerifyDatFile(path.c_str()), 0);
    }
    RepairDatFile(path.c_str());
    Bytes repaired = Read(path);
    EXPECT_EQ(repaired.size(), file.size() - 37);
    EXPECT_EQ(repaired, FixedPointFile());
    EXPECT_EQ(capture_.lines, (Lines{"New Pointer: 27\r\n", "New Checksum: 80163648\r\n"}));
    EXPECT_EQ(VerifyDatFile(path.c_str()), 1);
    EXPECT_EQ(TempFiles(), Lines{});
}

TEST_F(RepairDatFileTest, PrintableEndOfJunkIsKeptInFrontOfTheText) {
    Bytes junk(34, 0x90);
    for (char c : std::string("XYZ"))
        junk.push_back(static_cast<unsigned char>(c));
    Bytes repaired = Repair("printable.dat", JunkFile(junk));
    Bytes expectedTail = Concat({Le32(1), ToBytes("XYZ"), ToBytes(kText)});
    ASSERT_GE(repaired.size(), expectedTail.size() + 10);
    EXPECT_TRUE(std::equal(expectedTail.begin(), expectedTail.end(),
                           repaired.end() - 10 - std::ptrdiff_t(expectedTail.size())));
    EXPECT_EQ(repaired.size(), FixedPointFile().size() + 3);
    EXPECT_EQ(capture_.lines.at(0), "New Pointer: 2a\r\n");
    EXPECT_EQ(ModelVerify(repaired), 1);
}

TEST_F(RepairDatFileTest, AnyValueWithNonZeroLowByteBecomesOne) {
    Bytes file = FixedPointFile();
    const std::size_t valueAt = 64 + 2500;
    for (std::uint32_t value : {0x12345605u, 0xFFFFFFFFu, 0x00000002u}) {
        std::memcpy(&file[valueAt], Le32(value).data(), 4);
        EXPECT_EQ(ModelVerify(file), 0);
        EXPECT_EQ(Repair("value.dat", file), FixedPointFile()) << std::hex << value;
    }
}

TEST_F(RepairDatFileTest, ValueWithZeroLowByteMovesTheTextLater) {
    Bytes file = FixedPointFile();
    const std::size_t valueAt = 64 + 2500;
    std::memcpy(&file[valueAt], Le32(0x00000200).data(), 4);
    // The zero byte joins the data; the value 1 follows it.
    Bytes expected =
        Concat({Data64(), Zeros(2501), Le32(1), ToBytes(kText), Footer(0x27, 0x80163648)});
    EXPECT_EQ(Repair("lowzero.dat", file), expected);
}

// Text in front of the footer for the hidden-marker cases: an earlier
// trailer "First.mp3@K" that the scan must reach instead.
Bytes WithTrailer(const Bytes& text, std::uint32_t storedChecksum = 0) {
    return Concat({Data64(), Zeros(2500), Le32(1), text, Footer(0, storedChecksum)});
}

// Each case: the scan must skip the later look-alike and take the earlier
// trailer; the pointer runs from that trailer's text to the footer, minus 2.
TEST_F(RepairDatFileTest, HiddenMarkersAndDots) {
    struct Case {
        const char* name;
        Bytes text;
        std::uint32_t pointer;
    };
    const Bytes first = Concat({ToBytes("First.mp3@K"), {0x01}});
    const Bytes firstDot = Concat({ToBytes("First.x"), {0x01}});
    const Case cases[] = {
        // @K@x: the later "@" is rejected and the scan resumes three before it.
        {"at-k-at-x.dat", Concat({first, ToBytes("Second.mp3@K@x")}), 11 + 1 + 14 + 8},
        // @K 01 @K: the later "@" has a non-printable predecessor: four back.
        {"at-k-01-at-k.dat", Concat({first, ToBytes("Second.mp3@K"), {0x01}, ToBytes("@K")}),
         11 + 1 + 12 + 1 + 2 + 8},
        // ab.c.<01>: the later dot is rejected for its next byte, three back.
        {"dot-np.dat", Concat({firstDot, ToBytes("ab.c."), {0x01}, ToBytes("Z@K")}), 7 + 1 + 9 + 8},
        // a.b<01>.c: the later dot is rejected for its previous byte, four back.
        {"np-dot.dat", Concat({firstDot, ToBytes("a.b"), {0x01}, ToBytes(".cZ@K")}), 7 + 1 + 9 + 8},
        // A dot right before the "@" is never examined.
        {"dot-at.dat", Concat({ToBytes("First.mp3"), {0x01}, ToBytes("Title.@K")}), 9 + 1 + 8 + 8},
        // All three marker letters.
        {"k.dat", ToBytes("Song.mp3@K!"), 11 + 8},
        {"m.dat", ToBytes("Song.mp3@M!"), 11 + 8},
        {"q.dat", ToBytes("Song.mp3@?!"), 11 + 8},
    };
    for (const Case& c : cases) {
        Bytes repaired = Repair(c.name, WithTrailer(c.text));
        EXPECT_EQ(capture_.lines.at(0), "New Pointer: " + Hex(c.pointer) + "\r\n") << c.name;
        EXPECT_EQ(ModelVerify(repaired), 1) << c.name;
    }
    // Any other letter is no marker: nothing is found.
    ExpectUntouched("other.dat", WithTrailer(ToBytes("Song.mp3@X!")));
}

TEST_F(RepairDatFileTest, ShortFileGetsTheTrailerAppended) {
    const Bytes text = ToBytes("Song.mp3@K");
    for (std::size_t dataSize : {0u, 1978u}) {
        Bytes data(dataSize, 0x90);
        data.push_back(0x01);
        const Bytes file = Concat({data, text, Footer(0x0C, 0xDEADBEEF)});
        ASSERT_LT(file.size(), 2000u);
        const std::size_t t = text.size() + 10;
        Bytes repaired = Repair("short.dat", file);
        ASSERT_EQ(repaired.size(), file.size() + t) << file.size() << " bytes";
        // The old checksum's place holds the value 1, then the trailer.
        EXPECT_TRUE(std::equal(file.begin(), file.end() - 4, repaired.begin())) << file.size();
        EXPECT_EQ(Bytes(repaired.end() - std::ptrdiff_t(t) - 4, repaired.end() - std::ptrdiff_t(t)),
                  Le32(1));
        EXPECT_EQ(ModelVerify(repaired), 1) << file.size() << " bytes";
        EXPECT_EQ(capture_.lines.at(0), "New Pointer: " + Hex(std::uint32_t(t - 2)) + "\r\n");
        EXPECT_EQ(repaired, ExpectedRepairOf(file).file);
    }
}

TEST_F(RepairDatFileTest, TwoThousandBytesWithoutZeroBlockStayUnchanged) {
    const Bytes text = Concat({{0x01}, ToBytes("Song.mp3@K")});
    Bytes file = Concat({Bytes(2000 - text.size() - 10, 0x90), text, Footer(0x0C, 1)});
    ASSERT_EQ(file.size(), 2000u);
    ExpectUntouched("nozero.dat", file);
    // The same with its first block all zero is repaired.
    std::fill(file.begin(), file.begin() + 1000, 0);
    ExpectAsModel("zerofirst.dat", file);
    EXPECT_EQ(ModelVerify(Read(PathOf("zerofirst.dat"))), 1);
}

TEST_F(RepairDatFileTest, ScansReachingTheFirstByteLeaveTheFileUnchanged) {
    // No marker at all.
    ExpectUntouched("nomarker.dat", WithTrailer(ToBytes("Some Title.mp3 K1")));
    // A marker, but no dot with printable neighbours.
    ExpectUntouched("nodot.dat", WithTrailer(ToBytes("Some Title mp3@K1")));
    // A printable run reaching the first byte.
    ExpectUntouched("allprintable.dat", Concat({ToBytes("Song.mp3@K"), Footer(0x0A, 0)}));
    // A marker at the first byte has no predecessor.
    ExpectUntouched("markerfirst.dat", Concat({ToBytes("@Kab"), Footer(0, 0)}));
    // A dot at the first byte has no predecessor.
    ExpectUntouched("dotfirst.dat", Concat({ToBytes(".mp3@K"), Footer(0, 0)}));
    // Too short for a marker before the footer.
    ExpectUntouched("tiny.dat", Footer(0, 0));
    ExpectUntouched("empty.dat", {});
}

TEST_F(RepairDatFileTest, NoMagicNoRepair) {
    Bytes file = JunkFile();
    file[file.size() - 7] = 'B';
    ExpectUntouched("kazb.dat", file);
}

TEST_F(RepairDatFileTest, NewRegionBeyond65535IsNotWritten) {
    // Text of 65537 - 10 bytes: L' = 65535 still fits.
    auto fileWithText = [](std::size_t textSize) {
        const Bytes marker = ToBytes(".mp3@K");
        Bytes text(textSize - marker.size(), 'a');
        text.insert(text.end(), marker.begin(), marker.end());
        return WithTrailer(text);
    };
    Bytes fits = Repair("fits.dat", fileWithText(65537 - 10));
    EXPECT_EQ(capture_.lines.at(0), "New Pointer: ffff\r\n");
    EXPECT_EQ(ModelVerify(fits), 1);
    // One byte more and the 16-bit field cannot hold it.
    ExpectUntouched("toolong.dat", fileWithText(65538 - 10));
}

// Held by a program that lets others read: the repair is computed and shown,
// but the file cannot be replaced.
TEST_F(RepairDatFileTest, FileHeldByAnotherProgramStaysUnchanged) {
    const Bytes file = JunkFile();
    std::string path = Write("held.dat", file);
    {
        OtherHolder holder(path, true);
        ASSERT_TRUE(holder.Holding());
        RepairDatFile(path.c_str());
    }
    EXPECT_EQ(capture_.lines, (Lines{"New Pointer: 27\r\n", "New Checksum: 80163648\r\n"}));
    EXPECT_EQ(Read(path), file);
    EXPECT_EQ(TempFiles(), Lines{});
}

TEST_F(RepairDatFileTest, MissingFileIsNoError) {
    RepairDatFile(PathOf("missing.dat").c_str());
    EXPECT_EQ(capture_.lines, Lines{});
    EXPECT_EQ(TempFiles(), Lines{});
}

// Files beyond the repair's read window and read chunk (64 KiB and about a
// megabyte): scans cross piece boundaries in every phase.
TEST_F(RepairDatFileTest, SameResultAsTheBytewiseDescriptionOnLargeFiles) {
    std::mt19937 random(99);
    for (std::size_t zeroAt : {10u, 1024000u - 700u, 1024000u + 300u, 2100000u}) {
        Bytes noise(2500000);
        for (auto& b : noise)
            b = static_cast<unsigned char>(1 + random() % 255);
        std::fill_n(noise.begin() + std::ptrdiff_t(zeroAt), 1999, 0);
        // A long printable run ending in the marker, crossing 64 KiB pieces.
        Bytes text(60000 + random() % 5000, 'q');
        const Bytes end = ToBytes("x.mp3@K");
        text.insert(text.end(), end.begin(), end.end());
        text[0] = 0x01;
        Bytes file = Concat({noise, text, Footer(0, 0)});
        ExpectAsModel("large.dat", file);
        EXPECT_EQ(ModelVerify(Read(PathOf("large.dat"))), 1) << zeroAt;
    }
}

TEST_F(RepairDatFileTest, ReadsTheFileInPiecesNotByteByByte) {
    std::mt19937 random(5);
    Bytes noise(3000000);
    for (auto& b : noise)
        b = static_cast<unsigned char>(1 + random() % 255);
    std::fill_n(noise.begin() + 1000, 5000, 0);
    Bytes file = Concat({noise, Le32(1), Bytes(60000, 'w'), ToBytes(".mp3@K"), Footer(0, 0)});
    std::string path = Write("pieces.dat", file);
    const std::uint64_t before = DatIoReadCalls();
    RepairDatFile(path.c_str());
    const std::uint64_t reads = DatIoReadCalls() - before;
    EXPECT_EQ(ModelVerify(Read(path)), 1);
    EXPECT_LT(reads, 40u) << "a file of " << file.size() << " bytes";
}

// Failing each write step in turn leaves the original as it was, with no
// temporary file, yet the report shows what the repair would have written.
struct StepFailure {
    DatIoStep failAt;
    std::vector<DatIoStep> seen;
};

bool FailStep(void* context, DatIoStep step) {
    auto* failure = static_cast<StepFailure*>(context);
    failure->seen.push_back(step);
    return step == failure->failAt;
}

TEST_F(RepairDatFileTest, FailingAnyWriteStepLeavesTheOriginal) {
    const Bytes file = JunkFile();
    StepFailure none{DatIoStep::Count, {}};
    SetDatIoFaultHook(FailStep, &none);
    EXPECT_EQ(Repair("all.dat", file), FixedPointFile());
    SetDatIoFaultHook(nullptr, nullptr);
    ASSERT_EQ(none.seen.size(), std::size_t(DatIoStep::Count)) << "every step is taken once";
    for (int step = 0; step < int(DatIoStep::Count); ++step) {
        StepFailure failure{DatIoStep(step), {}};
        SetDatIoFaultHook(FailStep, &failure);
        Bytes left = Repair("step.dat", file);
        SetDatIoFaultHook(nullptr, nullptr);
        EXPECT_EQ(failure.seen.back(), DatIoStep(step)) << "no step after the failed one";
        EXPECT_TRUE(left == file) << "step " << step << " changed the file";
        EXPECT_EQ(TempFiles(), Lines{}) << "step " << step;
        EXPECT_EQ(capture_.lines, (Lines{"New Pointer: 27\r\n", "New Checksum: 80163648\r\n"}));
    }
}

#ifndef _WIN32

// An interruption at any step, as a killed process leaves it (no clean-up
// runs): the original is still whole.
TEST_F(RepairDatFileTest, KilledAtAnyStepLeavesOldOrNew) {
    const Bytes file = JunkFile();
    for (int step = 0; step < int(DatIoStep::Count); ++step) {
        std::string path = Write("killed.dat", file);
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            static int dieAt;
            dieAt = step;
            SetDatIoFaultHook(
                [](void*, DatIoStep s) {
                    if (int(s) == dieAt)
                        _exit(3);
                    return false;
                },
                nullptr);
            RepairDatFile(path.c_str());
            _exit(0);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 3) << "the child died at step " << step;
        // Every step comes before the move, so the old file must be there
        // whole; the move itself is atomic.
        EXPECT_TRUE(Read(path) == file) << "step " << step;
    }
}

TEST_F(RepairDatFileTest, KeepsPermissionBitsAndSymbolicLinks) {
    std::string path = Write("mode.dat", JunkFile());
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    RepairDatFile(path.c_str());
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(Read(path), FixedPointFile());

    std::string target = Write("target.dat", JunkFile());
    std::string link = PathOf("link.dat");
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
    RepairDatFile(link.c_str());
    struct stat lst;
    ASSERT_EQ(lstat(link.c_str(), &lst), 0);
    EXPECT_TRUE(S_ISLNK(lst.st_mode)) << "the link is still a link";
    EXPECT_EQ(Read(target), FixedPointFile());
}

#endif

} // namespace
