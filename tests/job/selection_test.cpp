// The open-file dialog's selection list, the folder-and-name join and the
// report of a whole job, natively: a joined path "folder\name" is a file
// whose name holds a backslash.
#include "job/selection.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "dat/report.h"
#include "tests/dat/dat_test_util.h"

namespace {

// Zero-terminated strings ended by an empty one, and the job's two spare zeros.
std::string List(const std::vector<std::string>& entries) {
    std::string list;
    for (const std::string& entry : entries)
        list += entry + '\0';
    return list + std::string(2, '\0');
}

TEST(Selection, CountsOnePathOrTheNamesAfterAFolder) {
    EXPECT_EQ(0, CountSelectedNames(std::string(4, '\0').c_str()));
    EXPECT_EQ(1, CountSelectedNames(List({"C:\\data\\one.dat"}).c_str()));
    EXPECT_EQ(3, CountSelectedNames(List({"C:\\data", "a.dat", "b.dat", "c.dat"}).c_str()));
    EXPECT_EQ(std::strlen("C:\\data") + 1 + 6 + 1,
              SelectionListLength(List({"C:\\data", "a.dat"}).c_str()));
}

TEST(Selection, JoinsWithOneBackslashWithin259Characters) {
    struct {
        char out[kSelectedPathSize];
        char guard[8];
    } b;
    std::memset(b.guard, 0x5A, sizeof b.guard);
    ASSERT_TRUE(JoinSelectedPath(b.out, "D:\\", "a.dat"));
    EXPECT_STREQ("D:\\\\a.dat", b.out) << "a root folder keeps its own backslash";
    const std::string folder = "C:\\" + std::string(200, 'f');
    const std::string fits(259 - folder.size() - 1, 'n');
    ASSERT_TRUE(JoinSelectedPath(b.out, folder.c_str(), fits.c_str()));
    EXPECT_EQ(folder + "\\" + fits, b.out);
    for (const std::string& name : {fits + "n", std::string(70000, 'h')}) {
        EXPECT_FALSE(JoinSelectedPath(b.out, folder.c_str(), name.c_str()));
        EXPECT_STREQ("", b.out);
    }
    EXPECT_FALSE(JoinSelectedPath(b.out, std::string(70000, 'h').c_str(), "a.dat"));
    EXPECT_EQ(std::string(8, 0x5A), std::string(b.guard, 8));
}

class JobReport : public DatFileTest {
  protected:
    static bool Ask(void* context, const char* path) {
        static_cast<JobReport*>(context)->asked_.push_back(path);
        return false;
    }
    std::vector<std::string> asked_;
    ReportCapture capture_;
};

TEST_F(JobReport, BannerThenEachFileANoMovesOnAndATooLongPathIsSkipped) {
    const std::string folder = PathOf(std::string(150, 's'));
    Write(std::string(150, 's') + "\\bad.dat", JunkFile());
    Write(std::string(150, 's') + "\\good.dat", FixedPointFile());
    const std::string tooLong = std::string(259 - folder.size(), 'n');
    WriteRepairReport(List({folder, "bad.dat", tooLong, "good.dat"}).c_str(), 0, Ask, this);
    const std::string good = folder + "\\good.dat";
    ASSERT_EQ(1u + 4 + 1 + 5, capture_.lines.size());
    EXPECT_EQ("Website for Tidewatch: https://github.com/tidewatch/tidewatch . Email reports to "
              "tidewatch.reports@example.org . Good luck!!\r\n\r\n",
              capture_.lines[0]);
    EXPECT_EQ("Verifying " + folder + "\\bad.dat...\r\n", capture_.lines[1]);
    EXPECT_EQ("ERROR: Path " + folder + "\\" + tooLong +
                  " is longer than 259 characters. File skipped\r\n",
              capture_.lines[5]);
    EXPECT_EQ("Verifying " + good + "...\r\n", capture_.lines[6]);
    EXPECT_EQ("File " + good + " is ok, repair not needed\r\n", capture_.lines[10]);
    EXPECT_EQ(std::vector<std::string>{folder + "\\bad.dat"}, asked_);
    capture_.Clear();
    WriteRepairReport(std::string(4, '\0').c_str(), 0, Ask, this);
    EXPECT_EQ(std::vector<std::string>{kReportBanner}, capture_.lines);
}

// Each repair answered Yes; each file follows a call of the hook, marked "|".
// Only the verdicts and reasons are compared.
TEST_F(JobReport, TheSystemsReasonFollowsAnUnreadableFileAndAFailedRepair) {
    const std::string folder = PathOf("f");
    Write("f\\plain.dat", ToBytes("no footer"));
    MakeReadOnly(Write("f\\held.dat", JunkFile()), true);
    WriteRepairReport(
        List({folder, "missing.dat", "plain.dat", "held.dat"}).c_str(), 0,
        [](void*, const char*) { return true; }, nullptr, [](void*) { return AppendReport("|", 0, 0) == 0; });
    Lines shown;
    for (const std::string& line : capture_.lines)
        if (std::strchr("|ER", line[0]))
            shown.push_back(line);
    const std::string at = folder + "\\";
    EXPECT_EQ((Lines{"|", "ERROR: File " + at + "missing.dat could not be opened\r\n",
                     "Reason: " + std::string(std::strerror(ENOENT)) + "\r\n", "|",
                     "ERROR: Footer of " + at + "plain.dat is damaged. No chance of repair\r\n",
                     "|", "ERROR: File " + at + "held.dat failed repair\r\n",
                     "Reason: " + std::string(std::strerror(EACCES)) + "\r\n"}),
              shown);
}

} // namespace
