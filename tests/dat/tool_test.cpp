#include "tools/dat_tool.h"
#include "tests/dat/dat_test_util.h"

#include <sstream>

namespace {

using Lines = std::vector<std::string>;

class DatToolTest : public DatFileTest {
  protected:
    int Run(std::vector<std::string> args, const std::string& input = "", bool interactive = false,
            const char* lineEnd = "\n") {
        args.insert(args.begin(), "tidewatch-dat");
        std::vector<const char*> argv;
        for (const std::string& a : args)
            argv.push_back(a.c_str());
        out_.str("");
        err_.str("");
        std::istringstream in(input);
        DatToolStreams streams{out_, err_, in, interactive, lineEnd};
        return RunDatTool(int(argv.size()), argv.data(), streams);
    }
    Lines OutLines() const {
        Lines lines;
        std::istringstream text(out_.str());
        for (std::string line; std::getline(text, line);)
            lines.push_back(line);
        return lines;
    }
    std::ostringstream out_;
    std::ostringstream err_;
};

TEST_F(DatToolTest, VersionAndHelp) {
    EXPECT_EQ(Run({"--version"}), 0);
    EXPECT_EQ(out_.str(), std::string("tidewatch-dat ") + TW_DAT_VERSION + "\n");
    EXPECT_EQ(Run({"--help"}), 0);
    EXPECT_NE(out_.str().find("tidewatch-dat repair [--yes|--no] FILE..."), std::string::npos);
    EXPECT_NE(out_.str().find("Exit status"), std::string::npos);
    EXPECT_EQ(Run({"repair", "--help"}), 0);
    EXPECT_TRUE(err_.str().empty());
}

TEST_F(DatToolTest, UsageErrorsExitWithTwoAndWriteNoReport) {
    const std::string file = Write("x.dat", DamagedSong());
    const std::vector<std::vector<std::string>> wrong = {
        {},
        {"check", file},
        {"verify"},
        {"repair", "--yes"},
        {"verify", "--yes", file},
        {"repair", "--yes", "--no", file},
        {"repair", "--maybe", file},
    };
    for (const auto& args : wrong) {
        EXPECT_EQ(Run(args), 2) << (args.empty() ? "" : args[0]);
        EXPECT_TRUE(out_.str().empty());
        EXPECT_NE(err_.str().find("Usage:"), std::string::npos);
    }
    EXPECT_EQ(Read(file), DamagedSong());
}

TEST_F(DatToolTest, RepairWithNoLeavesTheFile) {
    const std::string path = Write("d.dat", DamagedSong());
    EXPECT_EQ(Run({"repair", path, "--no"}), 1);
    EXPECT_EQ(Read(path), DamagedSong());
    EXPECT_EQ(OutLines().size(), 4u);
}

TEST_F(DatToolTest, OnATerminalTheQuestionIsAsked) {
    const std::string path = Write("d.dat", DamagedSong());
    const std::string question = "File " + path + " is damaged. Do you wish to attempt repair?";
    for (const char* answer : {"n\n", "\n", "", "nope\n"}) {
        EXPECT_EQ(Run({"repair", path}, answer, true), 1) << answer;
        EXPECT_NE(err_.str().find(question), std::string::npos);
        EXPECT_EQ(Read(path), DamagedSong()) << answer;
    }
    EXPECT_EQ(Run({"repair", path}, "  Yes\n", true), 0);
    EXPECT_NE(err_.str().find(question), std::string::npos);
    EXPECT_EQ(Read(path), ExpectedRepairOf(DamagedSong()).file);
    EXPECT_EQ(out_.str().find(question), std::string::npos) << "the question is no report line";
}

TEST_F(DatToolTest, DoubleDashEndsTheOptions) {
    EXPECT_EQ(Run({"repair", "--yes", "--", "--no"}), 1);
    EXPECT_EQ(OutLines().at(0), "Verifying --no...");
    EXPECT_EQ(Run({"repair", "--yes", "--no"}), 2);
}

} // namespace
