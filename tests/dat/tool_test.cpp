#include "tools/dat_tool.h"
#include "tests/dat/dat_test_util.h"

#include <sstream>

namespace {

class Tool : public DatFileTest {
  protected:
    int Run(std::vector<std::string> args, const std::string& input = "",
            bool interactive = false) {
        args.insert(args.begin(), "tidewatch-dat");
        std::vector<const char*> argv;
        for (const std::string& a : args)
            argv.push_back(a.c_str());
        out_.str("");
        err_.str("");
        std::istringstream in(input);
        DatToolStreams streams{out_, err_, in, interactive, "\n"};
        return RunDatTool(int(argv.size()), argv.data(), streams);
    }
    std::ostringstream out_, err_;
};

TEST_F(Tool, UsageErrorsExitWithTwoAndTouchNothing) {
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
        EXPECT_EQ(2, Run(args)) << (args.empty() ? "" : args[0]);
        EXPECT_EQ("", out_.str());
        EXPECT_NE(std::string::npos, err_.str().find("Usage:"));
    }
    EXPECT_EQ(DamagedSong(), Read(file));
    EXPECT_EQ(2, Run({"repair", "--yes", "--no"})) << "an option, not a file";
    EXPECT_EQ(1, Run({"repair", "--yes", "--", "--no"})) << "a file after --";
    EXPECT_EQ(0u, out_.str().find("Verifying --no...\n"));
}

TEST_F(Tool, TheQuestionIsAskedOnATerminalAndAnsweredNoElsewhere) {
    const std::string path = Write("d.dat", DamagedSong());
    const std::string question =
        "File " + path + " is damaged. Do you wish to attempt repair? [y/N] ";
    for (const char* answer : {"n\n", "\n", "", "nope\n"}) {
        EXPECT_EQ(1, Run({"repair", path}, answer, true)) << answer;
        EXPECT_EQ(question, err_.str());
        EXPECT_EQ(DamagedSong(), Read(path)) << answer;
    }
    EXPECT_EQ(1, Run({"repair", path}, "y\n"));
    EXPECT_NE(std::string::npos, err_.str().find("no terminal")) << err_.str();
    EXPECT_EQ(1, Run({"repair", "--no", path}, "y\n", true));
    EXPECT_EQ(DamagedSong(), Read(path));
    EXPECT_EQ(0, Run({"repair", path}, "  Yes\n", true));
    EXPECT_EQ(std::string::npos, out_.str().find("Do you wish"))
        << "the question is no report line";
    EXPECT_EQ(1, ExpectedVerify(Read(path)));
}

} // namespace
