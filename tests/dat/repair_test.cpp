#include "dat/dat.h"
#include "dat/dat_io.h"
#include "tests/dat/dat_test_util.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <random>
#include <set>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <climits>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>
#endif

namespace {

const DatRepairOptions kWithBackup{"bak"};
const Lines kFixedPointLines = {"New Pointer: 27\r\n", "New Checksum: 80163648\r\n"};

// The data in front of every trailer below: ends in four zero bytes.
Bytes Front() {
    return Concat({Bytes(64, 0x90), Bytes(2500, 0)});
}

// Front, the value 1, the text and a footer that does not match.
Bytes WithText(const Bytes& text) {
    return Concat({Front(), Le32(1), text, Footer(0, 0)});
}

class Repair : public DatFileTest {
  protected:
    // Repairs `content` as the file `name`; returns what is left.
    Bytes Run(const std::string& name, const Bytes& content) {
        const std::string path = Write(name, content);
        capture_.Clear();
        RepairDatFile(path.c_str());
        EXPECT_EQ(Others(), Lines{}) << name << ": a file was left beside it";
        return Read(path);
    }
    void ExpectRepaired(const std::string& name, const Bytes& content, const Bytes& expected) {
        EXPECT_EQ(expected, Run(name, content)) << name;
        ASSERT_EQ(2u, capture_.lines.size()) << name;
        EXPECT_EQ("New Pointer: " + Hex(RegionLength(expected)) + "\r\n", capture_.lines[0])
            << name;
        EXPECT_EQ(1, ExpectedVerify(expected)) << name;
    }
    void ExpectUntouched(const std::string& name, const Bytes& content) {
        EXPECT_EQ(content, Run(name, content)) << name;
        EXPECT_EQ(Lines{}, capture_.lines) << name << ": no repair, so no new pointer";
    }
    ReportCapture capture_;
};

TEST_F(Repair, FixedPointStaysAndJunkIsDropped) {
    EXPECT_EQ(FixedPointFile(), Run("fixed.dat", FixedPointFile()));
    EXPECT_EQ(kFixedPointLines, capture_.lines);
    EXPECT_EQ(FixedPointFile(), Run("junk.dat", JunkFile())) << "37 junk bytes dropped";
    EXPECT_EQ(kFixedPointLines, capture_.lines);
}

TEST_F(Repair, WhereTheTrailerStartsAndWhereItGoes) {
    const Bytes text = ToBytes(kSongText);
    // The printable end of junk stays in front of the text; "~" is not printable.
    ExpectRepaired("printable.dat", JunkFile(Concat({Bytes(34, 0x90), ToBytes("XYZ")})),
                   Repaired(Front(), Concat({ToBytes("XYZ"), text})));
    ExpectRepaired("tilde.dat", JunkFile(Concat({Bytes(36, 0x90), ToBytes("~")})),
                   FixedPointFile());
    // Any value with a non-zero first byte becomes 1; a zero first byte joins the data.
    for (std::uint32_t value : {0x12345605u, 0xFFFFFFFFu, 2u}) {
        Bytes file = FixedPointFile();
        std::memcpy(&file[2564], Le32(value).data(), 4);
        ExpectRepaired("value.dat", file, FixedPointFile());
    }
    Bytes lowZero = FixedPointFile();
    std::memcpy(&lowZero[2564], Le32(0x200).data(), 4);
    ExpectRepaired("lowzero.dat", lowZero, Repaired(Concat({Front(), {0}}), text));
    // Under 2000 bytes the trailer is appended over the old checksum.
    for (std::size_t data : {0u, 1978u}) {
        const Bytes file =
            Concat({Bytes(data, 0x90), {0x01}, ToBytes("Song.mp3@K"), Footer(12, 7)});
        ExpectRepaired("short.dat", file,
                       Repaired(Bytes(file.begin(), file.end() - 4), ToBytes("Song.mp3@K")));
    }
    // 2000 bytes: only a block of zeros gives a place.
    Bytes two = Concat({Bytes(1979, 0x90), {0x01}, ToBytes("Song.mp3@K"), Footer(12, 7)});
    ExpectUntouched("nozero.dat", two);
    std::fill(two.begin(), two.begin() + 1000, 0);
    ExpectRepaired("zerofirst.dat", two, Repaired(Bytes(1000, 0), ToBytes("Song.mp3@K")));
}

// Each text stands after the value 1; the scans must reject the later
// look-alikes and take the whole text as the trailer.
TEST_F(Repair, HiddenMarkersAndDotsAreSkipped) {
    const Bytes first = Concat({ToBytes("First.mp3@K"), {0x01}});
    const Bytes firstDot = Concat({ToBytes("First.x"), {0x01}});
    const Bytes texts[] = {
        Concat({first, ToBytes("Second.mp3@K@x")}),                      // @K@x: three back
        Concat({first, ToBytes("Second.mp3@K"), {0x01}, ToBytes("@K")}), // 01 @K: four back
        Concat({firstDot, ToBytes("ab.c."), {0x01}, ToBytes("Z@K")}),    // dot before 01
        Concat({firstDot, ToBytes("a.b"), {0x01}, ToBytes(".cZ@K")}),    // dot after 01
        Concat({ToBytes("First.mp3"), {0x01}, ToBytes("Title.@K")}),     // dot right before @
        ToBytes("Song.mp3@K!"),
        ToBytes("Song.mp3@M!"),
        ToBytes("Song.mp3@?!")};
    for (const Bytes& text : texts)
        ExpectRepaired("marker" + std::to_string(&text - texts) + ".dat", WithText(text),
                       Repaired(Front(), text));
}

TEST_F(Repair, NoConsistentRepairLeavesTheFileAsItWas) {
    const Bytes marker = ToBytes(".mp3@K");
    auto longText = [&](std::size_t size) {
        Bytes text(size - marker.size(), 'a');
        text.insert(text.end(), marker.begin(), marker.end());
        return text;
    };
    ExpectRepaired("fits.dat", WithText(longText(65527)), Repaired(Front(), longText(65527)));
    Bytes kazb = JunkFile();
    kazb[kazb.size() - 7] = 'B';
    const Bytes cases[] = {WithText(longText(65528)), // a region of 65536
                           WithText(ToBytes("Song.mp3@X!")),
                           WithText(ToBytes("Some Title.mp3 K1")),
                           WithText(ToBytes("Some Title mp3@K1")),
                           Concat({ToBytes("Song.mp3@K"), Footer(10, 0)}),
                           Concat({ToBytes("@Kab"), Footer(0, 0)}),
                           Concat({ToBytes(".mp3@K"), Footer(0, 0)}),
                           Footer(0, 0),
                           {},
                           kazb};
    for (const Bytes& file : cases)
        ExpectUntouched("none.dat", file);
    RepairDatFile(PathOf("missing.dat").c_str());
    EXPECT_EQ(Lines{}, capture_.lines);
}

TEST_F(Repair, AFileWeMayNotReplaceShowsItsLinesAndStays) {
    const std::string held = Write("held.dat", JunkFile());
    const std::string readOnly = Write("ro.dat", JunkFile());
    MakeReadOnly(readOnly, true);
    OtherHolder holder(held, true);
    ASSERT_TRUE(holder.Holding());
    for (const std::string& path : {held, readOnly}) {
        capture_.Clear();
        RepairDatFile(path.c_str());
        EXPECT_EQ(kFixedPointLines, capture_.lines);
        EXPECT_EQ(JunkFile(), Read(path)) << path;
    }
    EXPECT_EQ(Lines{}, Others());
}

// Beyond the read window and chunk (64 KiB, about a megabyte), in few reads.
TEST_F(Repair, LargeFilesAcrossReadPieces) {
    std::mt19937 random(99);
    for (std::size_t zeroAt : {10u, 1024000u - 700u, 1024000u + 300u, 2100000u}) {
        Bytes file(2500000);
        for (auto& b : file)
            b = static_cast<unsigned char>(1 + random() % 255);
        std::fill_n(file.begin() + std::ptrdiff_t(zeroAt), 1999, 0);
        Bytes text(60000 + random() % 5000, 'q');
        const Bytes end = ToBytes("x.mp3@K");
        text.insert(text.end(), end.begin(), end.end());
        const Bytes kept(file.begin(), file.begin() + std::ptrdiff_t(zeroAt + 1999));
        file = Concat({file, {0x01}, text, Footer(0, 0)});
        const std::uint64_t reads = DatIoReadCalls();
        ExpectRepaired("large.dat", file, Repaired(kept, text));
        EXPECT_LT(DatIoReadCalls() - reads, 40u) << "read byte by byte";
    }
}

// The zeros after the last all-zero block run on past the end of the read
// chunk (1024 blocks) that held the block: the data ends where they do.
TEST_F(Repair, AZeroRunPastTheEndOfAReadChunk) {
    const Bytes text = ToBytes("Song.mp3@K");
    const std::size_t size = 1100000, chunkEnd = size - 1024000;
    Bytes file(size - text.size() - 11, 0x90);
    std::fill(file.begin() + chunkEnd - 1500, file.begin() + chunkEnd + 500, 0);
    file = Concat({file, {0x01}, text, Footer(0, 0)});
    ExpectRepaired("run.dat", file,
                   Repaired(Bytes(file.begin(), file.begin() + chunkEnd + 500), text));
}

// A file and its older backup. Each step failing in turn leaves both as
// they were and nothing else, also where hard links are refused and
// backups are made by copying.
int g_failAt;
bool g_noLinks;

TEST_F(Repair, FailingAnyStepLeavesEverythingAsItWas) {
    for (bool noLinks : {false, true})
        for (int step = 0; step <= int(DatIoStep::Count); ++step) {
            const std::string path = Write("step.dat", JunkFile());
            Write("step.dat.bak", DamagedSong());
            const bool done = step == int(DatIoStep::Link) || step == int(DatIoStep::Count) ||
                              step == int(DatIoStep::KeepAccess) || step == int(DatIoStep::CleanUp);
            g_failAt = step;
            g_noLinks = noLinks;
            SetDatIoFaultHook(
                [](void*, DatIoStep s) {
                    return int(s) == g_failAt || (s == DatIoStep::Link && g_noLinks);
                },
                nullptr);
            const std::string at = std::to_string(step) + (noLinks ? " without links" : "");
            EXPECT_EQ(done, RepairDatFile(path.c_str(), kWithBackup)) << at;
            SetDatIoFaultHook(nullptr, nullptr);
            EXPECT_EQ(done ? FixedPointFile() : JunkFile(), Read(path)) << at;
            EXPECT_EQ(done ? JunkFile() : DamagedSong(), Read(path + ".bak")) << at;
            EXPECT_EQ(Lines{}, Others()) << at;
        }
}

#ifndef _WIN32
// A process ended before each step (each chunk, the clean-up) leaves the
// original or the repaired file, and a whole backup that holds the original
// whenever the file is repaired; the next repair takes over what is left,
// also one that finds the file intact.
TEST_F(Repair, EndedAtAnyStepTheNextRepairFinishes) {
    int end = 0;
    for (;; ++end) {
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directory(folder_);
        const std::string path = Write("end.dat", JunkFile());
        Write("end.dat.bak", DamagedSong());
        const pid_t child = fork();
        if (child == 0) {
            g_failAt = end;
            SetDatIoFaultHook(
                [](void*, DatIoStep) {
                    if (g_failAt-- == 0)
                        _exit(0);
                    return false;
                },
                nullptr);
            RepairDatFile(path.c_str(), kWithBackup);
            _exit(1); // every step taken
        }
        int status = 0;
        ASSERT_EQ(child, waitpid(child, &status, 0));
        if (WEXITSTATUS(status) == 1)
            break;
        SCOPED_TRACE("ended before step " + std::to_string(end));
        const Bytes file = Read(path), backup = Read(path + ".bak");
        EXPECT_TRUE((file == JunkFile() && (backup == DamagedSong() || backup == JunkFile())) ||
                    (file == FixedPointFile() && backup == JunkFile()));
        const DatOutcome next = ProcessDatFile(
            path.c_str(), [](void*, const char*) { return true; }, nullptr, kWithBackup);
        EXPECT_EQ(file == JunkFile() ? DatOutcome::Repaired : DatOutcome::Ok, next);
        EXPECT_EQ(FixedPointFile(), Read(path));
        EXPECT_EQ(JunkFile(), Read(path + ".bak"));
        EXPECT_EQ(Lines{}, Others());
    }
    EXPECT_GE(end, int(DatIoStep::Count)) << "steps seen";
}
#endif

// Two files whose temporary files would share a name, repaired at once:
// each ends with its own content, and neither takes the other's file.
std::promise<void> g_firstCopied, g_secondDone;

TEST_F(Repair, FilesSharingATemporaryNameRepairAtOnce) {
    const std::string first = PathOf("song4299.dat"), second = PathOf("song486176.dat");
    ASSERT_EQ(DatIoTempPath(first, DatIoTemp::New), DatIoTempPath(second, DatIoTemp::New));
    const Bytes other = JunkFile(Concat({Bytes(36, 0x91), {0x02}}));
    Write("song4299.dat", JunkFile());
    Write("song486176.dat", other);
    g_firstCopied = {};
    g_secondDone = {};
    std::thread repair([&] {
        SetDatIoFaultHook(
            [](void*, DatIoStep step) {
                if (step == DatIoStep::WriteTail) {
                    g_firstCopied.set_value();
                    g_secondDone.get_future().wait();
                }
                return false;
            },
            nullptr);
        EXPECT_TRUE(RepairDatFile(first.c_str(), kWithBackup));
        SetDatIoFaultHook(nullptr, nullptr);
    });
    g_firstCopied.get_future().wait();
    EXPECT_TRUE(RepairDatFile(second.c_str(), kWithBackup));
    g_secondDone.set_value();
    repair.join();
    EXPECT_EQ(FixedPointFile(), Read(first));
    EXPECT_EQ(FixedPointFile(), Read(second)) << "its junk dropped, its own text kept";
    EXPECT_EQ(JunkFile(), Read(first + ".bak"));
    EXPECT_EQ(other, Read(second + ".bak"));
    EXPECT_EQ((Lines{"song4299.dat.bak", "song486176.dat.bak"}), Others());
}

// Two repairs of one file at once, both answered Yes after both have found
// it damaged, end with one repaired file and its backup: the second waits
// for the first, then finds the file changed since its verdict and leaves it.
std::mutex g_askMutex;
std::condition_variable g_asked;
int g_askCount;

bool YesWhenBothAsked(void*, const char*) {
    std::unique_lock<std::mutex> lock(g_askMutex);
    ++g_askCount;
    g_asked.notify_all();
    return g_asked.wait_for(lock, std::chrono::seconds(10), [] { return g_askCount == 2; });
}

TEST_F(Repair, TwoRepairsOfOneFileAtOnce) {
    const std::string path = Write("twice.dat", JunkFile());
    DatOutcome outcomes[2];
    std::thread repairs[2];
    g_askCount = 0;
    for (DatOutcome& outcome : outcomes)
        repairs[&outcome - outcomes] = std::thread([&] {
            outcome = ProcessDatFile(path.c_str(), YesWhenBothAsked, nullptr, kWithBackup);
        });
    for (std::thread& repair : repairs)
        repair.join();
    EXPECT_EQ(1, std::count(outcomes, outcomes + 2, DatOutcome::Repaired))
        << int(outcomes[0]) << " " << int(outcomes[1]);
    EXPECT_EQ(1, std::count(outcomes, outcomes + 2, DatOutcome::Changed));
    EXPECT_EQ(FixedPointFile(), Read(path));
    EXPECT_EQ(JunkFile(), Read(path + ".bak"));
    EXPECT_EQ(Lines{"twice.dat.bak"}, Others());
}

#ifdef _WIN32
// Windows lets go of the file just before its renames, so another repair
// may take it there. Its take-over leaves our new file alone (we wait for
// it to let go, then rename); should it put its own repaired file in place
// first, ours is left, the backup that holds the original kept.
std::string g_racedPath;
bool g_wholeRepair;
DatOutcome g_racer;
std::promise<void> g_tookOver;

void TakeOverAndHoldAWhile() {
    DatIoHandle held = DatIoOpen(g_racedPath.c_str(), DatIoMode::Write);
    const Bytes repaired = FixedPointFile();
    const std::size_t keep = repaired.size() - 45; // the value 1, the text, the footer
    DatIoTakeOver(held.get(), g_racedPath.c_str(), (g_racedPath + ".bak").c_str(), keep,
                  repaired.data() + keep, repaired.size() - keep);
    g_tookOver.set_value();
    Sleep(200); // held as a virus scanner holds a file it looks at
}

TEST_F(Repair, AnotherRepairInTheRenameWindow) {
    for (bool whole : {false, true}) {
        g_racedPath = Write("raced.dat", JunkFile());
        g_wholeRepair = whole;
        g_tookOver = {};
        SetDatIoFaultHook(
            [](void*, DatIoStep step) {
                if (step == DatIoStep::Replace && g_wholeRepair)
                    std::thread([] {
                        g_racer = ProcessDatFile(
                            g_racedPath.c_str(), [](void*, const char*) { return true; }, nullptr,
                            kWithBackup);
                    }).join();
                if (step == DatIoStep::Replace && !g_wholeRepair) {
                    std::thread(TakeOverAndHoldAWhile).detach();
                    g_tookOver.get_future().wait();
                }
                return false;
            },
            nullptr);
        const DatOutcome first = ProcessDatFile(
            g_racedPath.c_str(), [](void*, const char*) { return true; }, nullptr, kWithBackup);
        SetDatIoFaultHook(nullptr, nullptr);
        EXPECT_EQ(whole ? DatOutcome::Changed : DatOutcome::Repaired, first) << whole;
        EXPECT_TRUE(!whole || g_racer == DatOutcome::Repaired);
        EXPECT_EQ(FixedPointFile(), Read(g_racedPath)) << whole;
        EXPECT_EQ(JunkFile(), Read(g_racedPath + ".bak")) << whole;
        EXPECT_EQ(Lines{"raced.dat.bak"}, Others()) << whole;
        std::filesystem::remove(g_racedPath + ".bak");
    }
}
#endif

// A cancel abandons a copy at its next chunk, also the backup's copy where
// links are refused: the replace fails at once, its temporary files are
// gone, the file and the older backup are as they were, and no replace
// starts after it. A replace that has reached its final renames finishes.
DatIoStep g_cancelAt;
int g_chunks;
bool g_cancelled, g_linksRefused, g_goneOn;

TEST_F(Repair, ACancelAbandonsTheCopyButNotTheRenames) {
    const Bytes front(9 << 20, 0x90); // more than one chunk of any copy
    const Bytes large = Concat({front, JunkFile()});
    for (DatIoStep at : {DatIoStep::CopyKept, DatIoStep::Backup, DatIoStep::Replace}) {
        const bool renaming = at == DatIoStep::Replace;
        const std::string path = Write("big.dat", large);
        Write("big.dat.bak", DamagedSong());
        g_cancelAt = at;
        g_chunks = 0;
        g_cancelled = g_goneOn = false;
        g_linksRefused = at == DatIoStep::Backup;
        SetDatIoFaultHook(
            [](void*, DatIoStep step) {
                g_goneOn = g_goneOn || (g_cancelled && step != DatIoStep::CleanUp);
                if (step == DatIoStep::Backup && g_cancelAt == DatIoStep::Backup)
                    g_cancelAt = DatIoStep::CopyKept, g_chunks = 1; // the backup's first chunk
                if (step == g_cancelAt && (step != DatIoStep::CopyKept || ++g_chunks == 2)) {
                    DatIoCancelReplaces();
                    g_cancelled = true;
                }
                return step == DatIoStep::Link && g_linksRefused;
            },
            nullptr);
        EXPECT_EQ(renaming, RepairDatFile(path.c_str(), kWithBackup)) << int(at);
        SetDatIoFaultHook(nullptr, nullptr);
        EXPECT_TRUE(renaming || !g_goneOn) << int(at) << ": a step after the cancel";
        EXPECT_TRUE(DatIoHoldReplaces(0)) << "none is running";
        Write("other.dat", JunkFile());
        EXPECT_FALSE(RepairDatFile(PathOf("other.dat").c_str())) << "none starts";
        DatIoAllowReplaces();
        EXPECT_EQ(renaming ? Concat({front, FixedPointFile()}) : large, Read(path)) << int(at);
        EXPECT_EQ(renaming ? large : DamagedSong(), Read(path + ".bak")) << int(at);
        EXPECT_EQ(Lines{}, Others()) << int(at);
    }
}

// A thread's own cancel abandons that thread's copy alone: a repair on
// another thread, meanwhile, goes on.
std::atomic<bool> g_jobClosed;
std::string g_otherPath;

TEST_F(Repair, AThreadsOwnCancelStopsItsCopyAlone) {
    const Bytes large = Concat({Bytes(9 << 20, 0x90), JunkFile()});
    const std::string closed = Write("closed.dat", large);
    g_otherPath = Write("other.dat", JunkFile());
    g_jobClosed = false;
    g_chunks = 0;
    DatIoSetThreadCancel(&g_jobClosed);
    SetDatIoFaultHook(
        [](void*, DatIoStep step) {
            if (step == DatIoStep::CopyKept && ++g_chunks == 2) {
                g_jobClosed = true;
                std::thread([] { EXPECT_TRUE(RepairDatFile(g_otherPath.c_str())); }).join();
            }
            return false;
        },
        nullptr);
    EXPECT_FALSE(RepairDatFile(closed.c_str()));
    SetDatIoFaultHook(nullptr, nullptr);
    DatIoSetThreadCancel(nullptr);
    EXPECT_EQ(large, Read(closed));
    EXPECT_EQ(FixedPointFile(), Read(g_otherPath));
    EXPECT_FALSE(DatIoReplacesCancelled());
    EXPECT_EQ(Lines{}, Others());
}

// Another program changes the file while the repair question is open: the
// repair acts on nothing but the file it judged, and says so.
struct Meanwhile {
    const char* how;
    Bytes content;
    bool renamedOver; // else rewritten in place
};

bool ChangeItAndSayYes(void* context, const char* path) {
    const Meanwhile& m = *static_cast<const Meanwhile*>(context);
    const std::string to = m.renamedOver ? std::string(path) + ".new" : path;
    Put(to, m.content);
    if (m.renamedOver)
        std::filesystem::rename(to, path);
    return true;
}

TEST_F(Repair, AVerdictThatNoLongerHoldsRepairsNothing) {
    Bytes otherText = JunkFile();
    otherText[otherText.size() - 20] ^= 1; // in the region, the same size
    const Meanwhile cases[] = {{"an intact file renamed over it", FixedPointFile(), true},
                               {"rewritten intact in place", FixedPointFile(), false},
                               {"its region rewritten, the size kept", otherText, false}};
    for (const Meanwhile& m : cases) {
        const std::string path = Write("judged.dat", JunkFile());
        capture_.Clear();
        EXPECT_EQ(DatOutcome::Changed, ProcessDatFile(path.c_str(), ChangeItAndSayYes,
                                                      const_cast<Meanwhile*>(&m), kWithBackup))
            << m.how;
        EXPECT_EQ(m.content, Read(path)) << m.how;
        EXPECT_EQ("ERROR: File " + path + " changed since it was checked; left as it is\r\n",
                  capture_.lines.back())
            << m.how;
        EXPECT_EQ(5u, capture_.lines.size()) << m.how << ": no repair lines";
        EXPECT_EQ(Lines{}, Others()) << m.how;
    }
}

// Another program writes the file during its repair (POSIX locks are only
// advice; Windows lets go of the file just before the renames): the repair
// is abandoned, the file left as that program left it, the older backup as
// it was. Until then no reader shares the file with the repair.
DatIoStep g_writeAt;
std::string g_writePath;
bool g_readBeside;

bool ReadableBeside(const std::string& path) {
#ifdef _WIN32
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h != INVALID_HANDLE_VALUE)
        CloseHandle(h);
    return h != INVALID_HANDLE_VALUE;
#else
    return OtherHolder(path, false, true).Holding();
#endif
}

TEST_F(Repair, AWriterDuringTheRepairAbandonsIt) {
    const DatIoStep steps[] = {
#ifndef _WIN32
        DatIoStep::CopyKept,
#endif
        DatIoStep::RenameBackup, DatIoStep::Replace};
    for (DatIoStep step : steps) {
        g_writePath = Write("written.dat", JunkFile());
        Write("written.dat.bak", DamagedSong());
        g_writeAt = step;
        g_readBeside = false;
        SetDatIoFaultHook(
            [](void*, DatIoStep s) {
                if (s == DatIoStep::WriteTail)
                    g_readBeside = ReadableBeside(g_writePath);
                if (s == g_writeAt) {
                    std::ofstream(g_writePath, std::ios::binary | std::ios::app) << "more";
                    g_writeAt = DatIoStep::Count;
                }
                return false;
            },
            nullptr);
        capture_.Clear();
        DatFacts facts;
        EXPECT_EQ(DatOutcome::Changed,
                  ProcessDatFile(
                      g_writePath.c_str(), [](void*, const char*) { return true; }, nullptr,
                      kWithBackup, &facts))
            << int(step);
        SetDatIoFaultHook(nullptr, nullptr);
        EXPECT_EQ(kDatIoChanged, facts.error);
        EXPECT_EQ(Concat({JunkFile(), ToBytes("more")}), Read(g_writePath)) << int(step);
        EXPECT_EQ(DamagedSong(), Read(g_writePath + ".bak")) << int(step);
        EXPECT_EQ(Lines{}, Others()) << int(step);
        EXPECT_FALSE(g_readBeside) << "a reader beside the repair";
    }
}

// Another program takes a name of ours between our look and our create:
// the next name is used, and that program's file is left alone.
DatIoStep g_takeAt;
std::string g_takenName;

TEST_F(Repair, ANameTakenBetweenLookAndCreateIsPassedBy) {
    for (DatIoStep step : {DatIoStep::CreateTemp, DatIoStep::Backup}) {
        const std::string path = Write("taken.dat", JunkFile());
        const std::string backup = path + ".bak";
        g_takenName = step == DatIoStep::CreateTemp
                          ? DatIoTempPath(DatIoTargetPath(path.c_str()), DatIoTemp::New)
                          : DatIoTempPath(DatIoFullPath(backup.c_str()), DatIoTemp::Original);
        g_takeAt = step;
        SetDatIoFaultHook(
            [](void*, DatIoStep s) {
                if (s == g_takeAt && !std::filesystem::exists(g_takenName))
                    std::ofstream(g_takenName) << "theirs";
                return false;
            },
            nullptr);
        EXPECT_TRUE(RepairDatFile(path.c_str(), kWithBackup)) << int(step);
        SetDatIoFaultHook(nullptr, nullptr);
        EXPECT_EQ(FixedPointFile(), Read(path)) << int(step);
        EXPECT_EQ(JunkFile(), Read(backup)) << int(step);
        EXPECT_EQ(ToBytes("theirs"), Read(g_takenName)) << int(step);
        std::filesystem::remove(g_takenName);
        std::filesystem::remove(backup);
    }
}

// A backup path that cannot take the original is refused before anything
// is done: one that leads to the file itself (through a link either way),
// and an older backup that is no regular file (never opened, so a FIFO
// cannot stall the repair).
TEST_F(Repair, ABackupThatCannotTakeTheOriginalIsRefused) {
    namespace fs = std::filesystem;
    const std::string file = PathOf("b.dat"), backup = file + ".bak";
    const struct {
        const char* how; // what b.dat.bak is
        const char* reason;
    } cases[] = {{"a folder", "Not a regular file"},
#ifndef _WIN32
                 {"a FIFO", "Not a regular file"},
                 {"the target of b.dat", "leads to the file itself"},
                 {"a link to b.dat", "leads to the file itself"}
#endif
    };
    for (const auto& c : cases) {
        const std::string how = c.how, holder = how == "the target of b.dat" ? backup : file;
        fs::remove_all(file);
        fs::remove_all(backup);
        if (how == "a folder")
            fs::create_directory(backup);
        else if (how == "the target of b.dat")
            fs::create_symlink(backup, file);
        else if (how == "a link to b.dat")
            fs::create_symlink(file, backup);
#ifndef _WIN32
        else
            ASSERT_EQ(0, mkfifo(backup.c_str(), 0600));
#endif
        Put(holder, JunkFile());
        DatFacts facts;
        EXPECT_FALSE(RepairDatFile(file.c_str(), kWithBackup, &facts)) << how;
        EXPECT_NE(std::string::npos, facts.error.find(c.reason)) << how << ": " << facts.error;
        EXPECT_EQ(JunkFile(), Read(holder)) << how;
        EXPECT_EQ((Lines{"b.dat", "b.dat.bak"}), Others()) << how;
    }
}

// A folder whose path leaves a short name only a few characters: our names
// beside it shrink to fit, and the repair succeeds.
TEST_F(Repair, NearThePathLimitOurNamesShrink) {
#ifdef _WIN32
    std::string deep = "C:\\tw-deep";
    const std::size_t limit = MAX_PATH - 1;
#else
    std::string deep = folder_;
    const std::size_t limit = PATH_MAX - 1;
#endif
    const char separator = deep[deep.find_first_of("/\\")];
    while (deep.size() + 3 < limit)
        deep += separator + std::string(std::min<std::size_t>(200, limit - deep.size() - 4), 'd');
    std::filesystem::create_directories(deep);
    const std::string path = deep + separator + "a";
    ASSERT_EQ(limit - 1, path.size());
    Put(path, JunkFile());
    EXPECT_TRUE(RepairDatFile(path.c_str())) << DatIoLastError();
    EXPECT_EQ(FixedPointFile(), Read(path));
#ifdef _WIN32
    std::filesystem::remove_all("C:\\tw-deep");
#endif
}

// Our files beside a file never share a name with each other or the file, in
// any letter case; where a full name would not fit, they are no longer.
TEST(DatIoTempPath, KindsApartAndNoLongerThanNeeded) {
    Lines names = {"a", "A", "~", "!", "#", "-", "+", "=", "x.dat"};
    for (const char* digit = "0123456789abcdef"; *digit; ++digit)
        names.push_back(std::string("~") + *digit);
    for (std::size_t folder : {1u, 257u, 258u, 4093u, 4094u})
        for (const std::string& name : names) {
            const std::string path = std::string(folder - 1, 'd') + '/' + name;
            std::set<std::string> own = {name};
            for (DatIoTemp kind : {DatIoTemp::New, DatIoTemp::Original, DatIoTemp::OldBackup}) {
                std::string temp = DatIoTempPath(path, kind);
                EXPECT_EQ(path.substr(0, folder), temp.substr(0, folder)) << "beside " << name;
                EXPECT_LE(temp.size(), std::max(path.size(), folder + 9)) << name;
                std::transform(temp.begin(), temp.end(), temp.begin(), ::tolower);
                own.insert(temp.substr(folder));
            }
            EXPECT_EQ(4u, own.size()) << name << " in a folder of " << folder;
        }
}

// A way out holds replaces: it waits for the one in progress, up to its
// time-out, and the file ends repaired.
std::promise<void> g_inReplace, g_goOn;

TEST_F(Repair, HoldingReplacesWaitsForTheOneInProgress) {
    const std::string path = Write("held.dat", JunkFile());
    g_inReplace = {};
    g_goOn = {};
    std::thread repair([&] {
        SetDatIoFaultHook(
            [](void*, DatIoStep step) {
                if (step == DatIoStep::Replace) {
                    g_inReplace.set_value();
                    g_goOn.get_future().wait();
                }
                return false;
            },
            nullptr);
        RepairDatFile(path.c_str());
        SetDatIoFaultHook(nullptr, nullptr);
    });
    g_inReplace.get_future().wait();
    EXPECT_FALSE(DatIoHoldReplaces(50)) << "a replace still running is reported";
    g_goOn.set_value();
    EXPECT_TRUE(DatIoHoldReplaces(10000));
    EXPECT_EQ(FixedPointFile(), Read(path)) << "in place before the hold returns";
    repair.join();
    DatIoAllowReplaces();
}

#ifdef _WIN32

bool CreatedAt(const std::string& path, const FILETIME& time) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
    return CompareFileTime(&time, &data.ftCreationTime) == 0;
}

// The access control list (Wine keeps it as the file's mode).
std::string AccessOf(const std::string& path) {
    char descriptor[4096];
    DWORD size = 0;
    GetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, descriptor, sizeof descriptor, &size);
    return std::string(descriptor, std::min<DWORD>(size, sizeof descriptor));
}

TEST_F(Repair, KeepsAttributesAccessAndCreationTime) {
    const std::string path = Write("kept.dat", JunkFile());
    const FILETIME created = {0x12345678, 0x01BF0000}; // in 1999
    HANDLE file =
        CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    SetFileTime(file, &created, nullptr, nullptr);
    CloseHandle(file);
    // Wine on a file system without settable birth times keeps none.
    const bool settable = CreatedAt(path, created);
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_HIDDEN));
    SECURITY_DESCRIPTOR open; // no access control list: anyone may do anything
    InitializeSecurityDescriptor(&open, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&open, TRUE, nullptr, FALSE);
    ASSERT_TRUE(SetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, &open));
    const std::string access = AccessOf(path);
    RepairDatFile(path.c_str());
    EXPECT_EQ(access, AccessOf(path));
    EXPECT_EQ(FixedPointFile(), Read(path));
    EXPECT_EQ(DWORD(FILE_ATTRIBUTE_HIDDEN),
              GetFileAttributesA(path.c_str()) & ~DWORD(FILE_ATTRIBUTE_ARCHIVE));
    if (!settable)
        GTEST_SKIP() << "creation times cannot be set on this file system";
    EXPECT_TRUE(CreatedAt(path, created));
}

#else

std::string AttributeOf(const std::string& path, const char* name) {
    char value[256];
    const ssize_t n = getxattr(path.c_str(), name, value, sizeof value);
    return n < 0 ? std::string() : std::string(value, static_cast<std::size_t>(n));
}

// Mode, extended attributes (a note of another program, an access control
// list that grants user 65534 reading), and a link stays a link.
TEST_F(Repair, KeepsModeExtendedAttributesAndSymbolicLinks) {
    const std::string path = Write("mode.dat", JunkFile());
    const Bytes acl = Concat({Le32(2),                          // version
                              Le16(0x01), Le16(6), Le32(~0u),   // owner rw
                              Le16(0x02), Le16(4), Le32(65534), // user 65534 r
                              Le16(0x04), Le16(4), Le32(~0u),   // group r
                              Le16(0x10), Le16(4), Le32(~0u),   // mask r
                              Le16(0x20), Le16(0), Le32(~0u)}); // others none
    if (setxattr(path.c_str(), "user.note", "kept", 4, 0) != 0 ||
        setxattr(path.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) != 0)
        GTEST_SKIP() << "this file system takes no extended attributes";
    const std::string aclBefore = AttributeOf(path, "system.posix_acl_access");
    const std::string link = PathOf("link.dat");
    ASSERT_EQ(0, symlink(path.c_str(), link.c_str()));
    RepairDatFile(link.c_str());
    struct stat st, lst;
    ASSERT_EQ(0, stat(path.c_str(), &st));
    EXPECT_EQ(0640u, st.st_mode & 07777) << "the mask gives the group bits";
    EXPECT_EQ("kept", AttributeOf(path, "user.note"));
    EXPECT_EQ(aclBefore, AttributeOf(path, "system.posix_acl_access"));
    ASSERT_EQ(0, lstat(link.c_str(), &lst));
    EXPECT_TRUE(S_ISLNK(lst.st_mode)) << "the link is still a link";
    EXPECT_EQ(FixedPointFile(), Read(path));
}

#endif

} // namespace
