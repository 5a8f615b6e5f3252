// One file as the repair job and the command-line tool process it.
#include "dat/dat.h"
#include "tests/dat/dat_test_util.h"

#include <memory>

namespace {

using Lines = std::vector<std::string>;

struct Asker {
    bool answer;
    std::vector<std::string> asked;
    // Done while the question is open (another program taking the file, say).
    void (*meanwhile)(const std::string& path) = nullptr;
};

bool Ask(void* context, const char* path) {
    auto* asker = static_cast<Asker*>(context);
    asker->asked.push_back(path);
    if (asker->meanwhile)
        asker->meanwhile(path);
    return asker->answer;
}

class Process : public DatFileTest {
  protected:
    // The four lines of a verification of `file` at `path`.
    static Lines Four(const std::string& path, const Bytes& f) {
        const std::size_t region = RegionLength(f);
        return {"Verifying " + path + "...\r\n", "Pointer: " + Hex(RegionLength(f)) + "\r\n",
                "File Checksum: " + Hex(StoredChecksum(f)) + "\r\n",
                "Calculated Checksum: " + Hex(BytewiseChecksum(f, f.size() - 10 - region, region)) +
                    "\r\n"};
    }
    static Lines Join(std::initializer_list<Lines> parts) {
        Lines all;
        for (const Lines& p : parts)
            all.insert(all.end(), p.begin(), p.end());
        return all;
    }
    DatOutcome Run(const std::string& path, Asker* asker) {
        capture_.Clear();
        return ProcessDatFile(path.c_str(), asker ? Ask : nullptr, asker);
    }
    ReportCapture capture_;
};

TEST_F(Process, IntactAndFooterlessFilesAreReportedWithoutAQuestion) {
    Bytes noMagic = GoodSong();
    noMagic[noMagic.size() - 10] = 'X';
    const std::string good = Write("good.dat", GoodSong()), bad = Write("nomagic.dat", noMagic);
    Asker asker{true, {}};
    EXPECT_EQ(DatOutcome::Ok, Run(good, &asker));
    EXPECT_EQ(Join({Four(good, GoodSong()), {"File " + good + " is ok, repair not needed\r\n"}}),
              capture_.lines);
    EXPECT_EQ(DatOutcome::FooterDamaged, Run(bad, &asker));
    EXPECT_EQ((Lines{"Verifying " + bad + "...\r\n",
                     "ERROR: Footer of " + bad + " is damaged. No chance of repair\r\n"}),
              capture_.lines);
    EXPECT_TRUE(asker.asked.empty());
}

TEST_F(Process, NoOrNobodyToAskLeavesFourLinesYesRepairsAndVerifiesAgain) {
    const std::string path = Write("d.dat", DamagedSong());
    Asker no{false, {}};
    for (Asker* asker : {&no, static_cast<Asker*>(nullptr)}) {
        EXPECT_EQ(DatOutcome::Declined, Run(path, asker));
        EXPECT_EQ(Four(path, DamagedSong()), capture_.lines);
        EXPECT_EQ(DamagedSong(), Read(path));
    }
    EXPECT_EQ(Lines{path}, no.asked);
    Asker yes{true, {}};
    const Bytes damaged = DamagedSong();
    const Bytes repaired =
        Repaired(Bytes(damaged.begin(), damaged.end() - 4), ToBytes("Song.mp3@K"));
    EXPECT_EQ(DatOutcome::Repaired, Run(path, &yes));
    EXPECT_EQ(repaired, Read(path));
    EXPECT_EQ(Join({Four(path, DamagedSong()),
                    {"New Pointer: 12\r\n"},
                    {"New Checksum: " + Hex(StoredChecksum(repaired)) + "\r\n"},
                    Four(path, repaired),
                    {"File " + path + " repaired successfully!\r\n"}}),
              capture_.lines);
}

// A read-only file, a repair that cannot be consistent, a file another
// program takes while the question is open: the verdict is a failure.
TEST_F(Process, RepairsThatDoNotVerifyFail) {
    const std::string ro = Write("ro.dat", DamagedSong());
    MakeReadOnly(ro, true);
    Bytes text(70000, 'a');
    text[0] = 0x01;
    const Bytes end = ToBytes(".mp3@K");
    text.insert(text.end(), end.begin(), end.end());
    const Bytes tooLong = WithFooter(text, 100, 0);
    const std::string longPath = Write("long.dat", tooLong);
    const std::string taken = Write("taken.dat", DamagedSong());
    static std::unique_ptr<OtherHolder> holder;
    Asker yes{true, {}},
        grab{true, {}, [](const std::string&p) { holder.reset(new OtherHolder(p)); }};
    const struct {
        std::string path;
        Asker* asker;
        Bytes file;
        std::size_t lines; // both verifications, the new lines (if any) and the verdict
    } cases[] = {{ro, &yes, DamagedSong(), 4 + 2 + 4 + 1},
                 {longPath, &yes, tooLong, 4 + 4 + 1},
                 {taken, &grab, DamagedSong(), 0}};
    for (const auto& c : cases) {
        EXPECT_EQ(DatOutcome::RepairFailed, Run(c.path, c.asker)) << c.path;
        EXPECT_EQ("ERROR: File " + c.path + " failed repair\r\n", capture_.lines.back());
        if (c.lines) {
            EXPECT_EQ(c.lines, capture_.lines.size()) << c.path;
        }
        holder.reset();
        EXPECT_EQ(c.file, Read(c.path)) << c.path;
    }
}

} // namespace
