// The selection list, the folder-and-name join and the whole report of a
// job, with real files and a sink that collects the lines.
#include "dat/selection.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "dat/report.h"
#include "tests/repair/dat_samples.h"

namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

// A list of zero-terminated strings ended by an empty one.
std::string List(const std::vector<std::string>& entries) {
    std::string list;
    for (const std::string& entry : entries)
        list += entry + '\0';
    list += '\0';
    list += '\0'; // spare, as the job's buffer always has
    return list;
}

// One full path counts one; a folder with names counts the names.
TEST(CountSelectedNames, CountsTheFilesInTheList) {
    EXPECT_EQ(0, CountSelectedNames(std::string(4, '\0').c_str()));
    EXPECT_EQ(1, CountSelectedNames(List({"C:\\data\\one.dat"}).c_str()));
    EXPECT_EQ(2, CountSelectedNames(List({"C:\\data", "a.dat", "b.dat"}).c_str()));
    std::vector<std::string> many = {"C:\\data"};
    for (int i = 0; i < 250; ++i)
        many.push_back("file" + std::to_string(i) + ".dat");
    EXPECT_EQ(250, CountSelectedNames(List(many).c_str()));
}

TEST(NextSelectedName, StepsThroughTheListToTheEmptyString) {
    const std::string list = List({"C:\\data", "a.dat", "bb.dat"});
    const char* entry = NextSelectedName(list.c_str());
    EXPECT_STREQ("a.dat", entry);
    entry = NextSelectedName(entry);
    EXPECT_STREQ("bb.dat", entry);
    entry = NextSelectedName(entry);
    EXPECT_STREQ("", entry);
    EXPECT_EQ(list.c_str() + std::strlen("C:\\data") + 1 + 6 + 7, entry);
}

// One backslash between folder and name; a root folder's own is kept.
TEST(JoinSelectedPath, PutsOneBackslashBetweenFolderAndName) {
    char out[kSelectedPathSize];
    ASSERT_TRUE(JoinSelectedPath(out, "C:\\Program Files\\Client\\db", "data256.dat"));
    EXPECT_STREQ("C:\\Program Files\\Client\\db\\data256.dat", out);
    ASSERT_TRUE(JoinSelectedPath(out, "D:\\", "a.dat"));
    EXPECT_STREQ("D:\\\\a.dat", out);
}

TEST(JoinSelectedPath, AcceptsExactly259CharactersAndRefusesOneMore) {
    char out[kSelectedPathSize];
    const std::string folder = "C:\\" + std::string(200, 'f');
    const std::string fits(259 - folder.size() - 1, 'n');
    ASSERT_TRUE(JoinSelectedPath(out, folder.c_str(), fits.c_str()));
    EXPECT_EQ(259u, std::strlen(out));
    EXPECT_EQ(folder + "\\" + fits, std::string(out));

    const std::string tooLong = fits + "n";
    std::memset(out, 'x', sizeof out);
    EXPECT_FALSE(JoinSelectedPath(out, folder.c_str(), tooLong.c_str()));
    EXPECT_STREQ("", out);
}

TEST(JoinSelectedPath, RefusesHugeFoldersAndNamesWithoutWritingPastTheBuffer) {
    struct Guarded {
        char out[kSelectedPathSize];
        char guard[64];
    } buffer;
    std::memset(buffer.guard, 0x5a, sizeof buffer.guard);
    const std::string huge(70000, 'h');
    EXPECT_FALSE(JoinSelectedPath(buffer.out, huge.c_str(), "a.dat"));
    EXPECT_FALSE(JoinSelectedPath(buffer.out, "C:\\", huge.c_str()));
    EXPECT_FALSE(JoinSelectedPath(buffer.out, std::string(259, 'f').c_str(), ""));
    for (char c : buffer.guard)
        ASSERT_EQ(0x5a, static_cast<unsigned char>(c));
}

// The lines of a report, collected from this thread's sink, and the
// questions asked with their scripted answers.
class RepairReport : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        dir_ = fs::temp_directory_path() / ("tw-repair-" + std::to_string(stamp));
        ASSERT_TRUE(fs::create_directory(dir_));
        SetReportSink(&RepairReport::Collect, &lines_);
    }
    void TearDown() override {
        SetReportSink(nullptr, nullptr);
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    // A folder whose joined paths are real files on every platform: under
    // Windows the backslash separates, elsewhere it is part of the name.
    std::string Folder(const std::string& name = "sel") {
        const fs::path folder = dir_ / name;
#ifdef _WIN32
        fs::create_directory(folder);
#endif
        return folder.string();
    }
    static std::string Joined(const std::string& folder, const std::string& name) {
        return folder + "\\" + name;
    }

    static void Collect(void* context, const char* line) {
        static_cast<Lines*>(context)->push_back(line);
    }
    static bool Ask(void* context, const char* path) {
        RepairReport* self = static_cast<RepairReport*>(context);
        self->asked_.push_back(path);
        const bool yes = !self->answers_.empty() && self->answers_.front();
        if (!self->answers_.empty())
            self->answers_.erase(self->answers_.begin());
        return yes;
    }
    void Run(const std::string& list, int isSingle) {
        WriteRepairReport(list.c_str(), isSingle, &RepairReport::Ask, this);
    }

    static Lines IntactLines(const std::string& path) {
        return {"Verifying " + path + "...\r\n", "Pointer: 27\r\n", "File Checksum: 80163648\r\n",
                "Calculated Checksum: 80163648\r\n",
                "File " + path + " is ok, repair not needed\r\n"};
    }
    static Lines Concat(std::initializer_list<Lines> parts) {
        Lines all;
        for (const Lines& part : parts)
            all.insert(all.end(), part.begin(), part.end());
        return all;
    }

    fs::path dir_;
    Lines lines_;
    std::vector<std::string> asked_;
    std::vector<bool> answers_;
};

const Lines kBanner = {"Website for Tidewatch: https://github.com/tidewatch/tidewatch . Email "
                       "reports to tidewatch.reports@example.org . Good luck!!\r\n\r\n"};

TEST_F(RepairReport, WithSeveralFilesANoMovesOnToTheNextName) {
    const std::string folder = Folder();
    ASSERT_TRUE(dat_samples::WriteFile(Joined(folder, "bad.dat"), dat_samples::Damaged()));
    ASSERT_TRUE(dat_samples::WriteFile(Joined(folder, "good.dat"), dat_samples::Intact()));
    answers_ = {false};
    Run(List({folder, "bad.dat", "good.dat"}), 0);
    ASSERT_EQ(1u + 4u + 5u, lines_.size());
    EXPECT_EQ("Verifying " + Joined(folder, "bad.dat") + "...\r\n", lines_[1]);
    EXPECT_EQ(IntactLines(Joined(folder, "good.dat")), Lines(lines_.begin() + 5, lines_.end()));
    EXPECT_EQ(std::vector<std::string>{Joined(folder, "bad.dat")}, asked_);
    EXPECT_EQ(dat_samples::Damaged(), dat_samples::ReadFile(Joined(folder, "bad.dat")));
}

TEST_F(RepairReport, TooLongJoinedPathGetsAnErrorLineAndTheNextNameFollows) {
    // Long enough that the first name cannot be joined within 259
    // characters, short enough that the second can.
    const std::string folder = Folder(std::string(150, 's'));
    ASSERT_LT(folder.size() + 1 + 5, kSelectedPathSize);
    const std::string longName = std::string(259 - folder.size(), 'n') + ".dat";
    ASSERT_TRUE(dat_samples::WriteFile(Joined(folder, "b.dat"), dat_samples::Intact()));
    answers_ = {true};
    Run(List({folder, longName, "b.dat"}), 0);
    EXPECT_EQ(Concat({kBanner,
                      {"ERROR: Path " + Joined(folder, longName) +
                       " is longer than 259 characters. File skipped\r\n"},
                      IntactLines(Joined(folder, "b.dat"))}),
              lines_);
    EXPECT_TRUE(asked_.empty());
}

TEST_F(RepairReport, EmptyListGivesOnlyTheBanner) {
    const char zeroed[4] = {};
    WriteRepairReport(zeroed, 0, &RepairReport::Ask, this);
    EXPECT_EQ(kBanner, lines_);
}

} // namespace
