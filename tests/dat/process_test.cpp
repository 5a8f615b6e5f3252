#include "dat/dat.h"
#include "tests/dat/dat_test_util.h"

namespace {

using Lines = std::vector<std::string>;

struct Asker {
    bool answer;
    std::vector<std::string> asked;
    // Something to do while the question is open (another program grabbing
    // the file, say).
    void (*meanwhile)(const std::string& path) = nullptr;
};

bool Ask(void* context, const char* path) {
    auto* asker = static_cast<Asker*>(context);
    asker->asked.push_back(path);
    if (asker->meanwhile)
        asker->meanwhile(path);
    return asker->answer;
}

class ProcessDatFileTest : public DatFileTest {
  protected:
    Lines FourLines(const std::string& path, const Bytes& file) {
        std::size_t n = file.size();
        std::uint32_t region = file[n - 6] | file[n - 5] << 8;
        std::uint32_t stored =
            file[n - 4] | file[n - 3] << 8 | file[n - 2] << 16 | std::uint32_t(file[n - 1]) << 24;
        return {"Verifying " + path + "...\r\n", "Pointer: " + Hex(region) + "\r\n",
                "File Checksum: " + Hex(stored) + "\r\n",
                "Calculated Checksum: " + Hex(BytewiseChecksum(&file[n - 10 - region], region)) +
                    "\r\n"};
    }
    static Lines Join(std::initializer_list<Lines> parts) {
        Lines all;
        for (const Lines& p : parts)
            all.insert(all.end(), p.begin(), p.end());
        return all;
    }
    ReportCapture capture_;
};

TEST_F(ProcessDatFileTest, IntactFileIsOkWithoutQuestion) {
    std::string path = Write("good.dat", GoodSong());
    Asker asker{true, {}};
    EXPECT_EQ(ProcessDatFile(path.c_str(), Ask, &asker), DatOutcome::Ok);
    EXPECT_EQ(capture_.lines, Join({FourLines(path, GoodSong()),
                                    {"File " + path + " is ok, repair not needed\r\n"}}));
    EXPECT_TRUE(asker.asked.empty());
}

TEST_F(ProcessDatFileTest, MissingMagicIsADamagedFooterWithoutQuestion) {
    Bytes file = GoodSong();
    file[file.size() - 10] = 'X';
    std::string path = Write("nomagic.dat", file);
    Asker asker{true, {}};
    EXPECT_EQ(ProcessDatFile(path.c_str(), Ask, &asker), DatOutcome::FooterDamaged);
    EXPECT_EQ(capture_.lines,
              (Lines{"Verifying " + path + "...\r\n",
                     "ERROR: Footer of " + path + " is damaged. No chance of repair\r\n"}));
    EXPECT_TRUE(asker.asked.empty());
    EXPECT_EQ(Read(path), file);
}

// Answered No, or nobody there to ask: four lines and the file as it was.
TEST_F(ProcessDatFileTest, AnswerNoLeavesFourLinesAndTheFile) {
    std::string path = Write("no.dat", DamagedSong());
    Asker no{false, {}};
    for (Asker* asker : {&no, static_cast<Asker*>(nullptr)}) {
        capture_.Clear();
        EXPECT_EQ(ProcessDatFile(path.c_str(), asker ? Ask : nullptr, asker), DatOutcome::Declined);
        EXPECT_EQ(capture_.lines, FourLines(path, DamagedSong()));
        EXPECT_EQ(Read(path), DamagedSong());
    }
    EXPECT_EQ(no.asked, Lines{path});
}

TEST_F(ProcessDatFileTest, AnswerYesRepairsAndVerifiesAgain) {
    std::string path = Write("yes.dat", DamagedSong());
    Asker asker{true, {}};
    EXPECT_EQ(ProcessDatFile(path.c_str(), Ask, &asker), DatOutcome::Repaired);
    const ExpectedRepair expected = ExpectedRepairOf(DamagedSong());
    ASSERT_EQ(expected.lines.size(), 2u);
    EXPECT_EQ(Read(path), expected.file);
    EXPECT_EQ(capture_.lines, Join({FourLines(path, DamagedSong()),
                                    expected.lines,
                                    FourLines(path, expected.file),
                                    {"File " + path + " repaired successfully!\r\n"}}));
}

TEST_F(ProcessDatFileTest, ReadOnlyFileFailsRepairButShowsItsLines) {
    std::string path = Write("ro.dat", DamagedSong());
    MakeReadOnly(path, true);
    Asker asker{true, {}};
    EXPECT_EQ(ProcessDatFile(path.c_str(), Ask, &asker), DatOutcome::RepairFailed);
    EXPECT_EQ(capture_.lines, Join({FourLines(path, DamagedSong()),
                                    ExpectedRepairOf(DamagedSong()).lines,
                                    FourLines(path, DamagedSong()),
                                    {"ERROR: File " + path + " failed repair\r\n"}}));
    EXPECT_EQ(Read(path), DamagedSong());
}

TEST_F(ProcessDatFileTest, NoConsistentRepairFailsWithoutNewLines) {
    // A trailer longer than the 16-bit region length can describe.
    Bytes text(70000, 'a');
    text[0] = 0x01;
    const Bytes end = ToBytes(".mp3@K");
    text.insert(text.end(), end.begin(), end.end());
    const Bytes file = WithFooter(text, 100, 0);
    std::string path = Write("long.dat", file);
    Asker asker{true, {}};
    EXPECT_EQ(ProcessDatFile(path.c_str(), Ask, &asker), DatOutcome::RepairFailed);
    EXPECT_EQ(capture_.lines, Join({FourLines(path, file),
                                    FourLines(path, file),
                                    {"ERROR: File " + path + " failed repair\r\n"}}));
    EXPECT_EQ(Read(path), file);
}

// A file that cannot be verified again (another program took it while the
// question was open) has not been repaired: -1 is no success.
TEST_F(ProcessDatFileTest, FileTakenDuringTheQuestionFailsRepair) {
    std::string path = Write("taken.dat", DamagedSong());
    static std::unique_ptr<OtherHolder> holder;
    Asker asker{true, {}, [](const std::string& p) { holder.reset(new OtherHolder(p)); }};
    EXPECT_EQ(ProcessDatFile(path.c_str(), Ask, &asker), DatOutcome::RepairFailed);
    ASSERT_TRUE(holder && holder->Holding());
    holder.reset();
    EXPECT_EQ(capture_.lines.back(), "ERROR: File " + path + " failed repair\r\n");
    EXPECT_EQ(Read(path), DamagedSong());
}

} // namespace
