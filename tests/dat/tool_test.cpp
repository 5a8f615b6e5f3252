// tidewatch-dat in process, natively and under Wine (there on the Win32
// file layer); what only its entry does is run from the outside (tool_cli.sh).
#include "tools/dat_tool.h"
#include "dat/dat_io.h"
#include "tests/dat/dat_test_util.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <sstream>

#ifdef _WIN32
#include <windows.h>
const char kSeparator = '\\';
#else
#include <sys/stat.h>
#include <unistd.h>
const char kSeparator = '/';
#endif

namespace {

using Lines = std::vector<std::string>;

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
        DatToolStreams streams{out_, err_, in, interactive, terminal_, "\n", kSeparator, nullptr};
        return RunDatTool(int(argv.size()), argv.data(), streams);
    }
    static Lines LinesOf(const std::ostringstream& stream) {
        Lines lines;
        std::istringstream text(stream.str());
        for (std::string line; std::getline(text, line);)
            lines.push_back(line);
        return lines;
    }
    void MakeFolder(const std::string& name) const {
#ifdef _WIN32
        CreateDirectoryA(PathOf(name).c_str(), nullptr);
#else
        mkdir(PathOf(name).c_str(), 0755);
#endif
    }
    std::ostringstream out_, err_;
    bool terminal_ = false;
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
        {"verify", "-n", file},
        {"repair", "--dry-run", "--no", file},
        {"verify", "--backup", file},
        {"repair", "--yes", "--no"},
    };
    for (const auto& args : wrong) {
        EXPECT_EQ(2, Run(args)) << (args.empty() ? "" : args.back());
        EXPECT_EQ("", out_.str());
        EXPECT_NE(std::string::npos, err_.str().find("Usage:"));
    }
    EXPECT_EQ(DamagedSong(), Read(file));
    EXPECT_EQ(1, Run({"repair", "--yes", "--", "--no"})) << "a file after --";
    EXPECT_EQ("Verifying --no...", LinesOf(out_).at(0));
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
    EXPECT_EQ(0, Run({"repair", path}, "  Yes\n", true));
    EXPECT_EQ(std::string::npos, out_.str().find("Do you wish"))
        << "the question is no report line";
    EXPECT_EQ(1, ExpectedVerify(Read(path)));
}

// Folders are searched for .dat files in any letter case, in sorted order;
// links to folders are not followed; a folder without one is not ok.
TEST_F(Tool, FoldersStandForTheirDatFiles) {
    const std::string sub = std::string("dir") + kSeparator + "sub";
    for (const std::string& folder : {std::string("dir"), sub, std::string("empty")})
        MakeFolder(folder);
    const Lines files = {Write(std::string("dir") + kSeparator + "B.DAT", GoodSong()),
                         Write(std::string("dir") + kSeparator + "a.dat", GoodSong()),
                         Write(sub + kSeparator + "c.Dat", GoodSong())};
    Write(std::string("dir") + kSeparator + "notes.txt", GoodSong());
#ifndef _WIN32
    ASSERT_EQ(0, symlink(PathOf(sub).c_str(), PathOf("dir/link").c_str()));
#endif
    EXPECT_EQ(0, Run({"verify", PathOf("dir")}));
    Lines verified;
    for (const std::string& line : LinesOf(out_))
        if (line.compare(0, 10, "Verifying ") == 0)
            verified.push_back(line.substr(10, line.size() - 13));
    EXPECT_EQ(files, verified);
    EXPECT_EQ("3 files: 3 ok\n", err_.str());
    EXPECT_EQ(1, Run({"verify", PathOf("dir"), PathOf("empty")}));
    EXPECT_EQ(0u, err_.str().find("tidewatch-dat: " + PathOf("empty") + ": no .dat files"));
}

TEST_F(Tool, ReasonsSummaryAndProgressOnStandardError) {
    const std::string good = Write("good.dat", GoodSong()), missing = PathOf("missing.dat");
    const std::string bad = Write("bad.dat", DamagedSong()), ro = Write("ro.dat", DamagedSong());
    MakeReadOnly(ro, true);
    EXPECT_EQ(1, Run({"repair", "--no", good, missing, bad}));
    EXPECT_NE(std::string::npos, err_.str().find("tidewatch-dat: " + missing + ": "));
    EXPECT_NE(std::string::npos, err_.str().find("3 files: 1 ok, 1 damaged, 1 unreadable\n"));
    EXPECT_EQ(1, Run({"repair", "--yes", ro}));
#ifndef _WIN32
    EXPECT_EQ("tidewatch-dat: " + ro + ": Permission denied\n", err_.str());
    EXPECT_EQ(1, Run({"verify", missing, "/dev/null"}));
    EXPECT_EQ("tidewatch-dat: " + missing +
                  ": No such file or directory\ntidewatch-dat: /dev/null: " +
                  "Not a regular file\n2 files: 2 unreadable\n",
              err_.str());
#endif
    // A progress line on a terminal, for more than twenty files, erased at the end.
    const std::vector<std::string> many(21, good);
    std::vector<std::string> args = {"verify"};
    args.insert(args.end(), many.begin(), many.end());
    terminal_ = true;
    EXPECT_EQ(0, Run(args));
    EXPECT_NE(std::string::npos, err_.str().find("21 of 21: " + good));
    EXPECT_EQ("\r21 files: 21 ok\n", err_.str().substr(err_.str().rfind('\r')));
    args.pop_back();
    EXPECT_EQ(0, Run(args));
    EXPECT_EQ("20 files: 20 ok\n", err_.str());
}

// A dry run reports the new values a repair would write and writes nothing;
// --backup keeps the original of a file the repair changes, only then.
TEST_F(Tool, DryRunAndBackups) {
    const std::string dry = Write("dry.dat", JunkFile()), wet = Write("wet.dat", JunkFile());
    const std::string fixed = Write("fixed.dat", FixedPointFile());
    EXPECT_EQ(1, Run({"repair", "-n", dry, fixed}));
    EXPECT_EQ(JunkFile(), Read(dry));
    Lines dryLines = LinesOf(out_);
    EXPECT_EQ("File " + dry + " would be repaired", dryLines.at(6));
    EXPECT_EQ(0, Run({"repair", "--yes", "--backup", wet}));
    const Lines wetLines = LinesOf(out_);
    EXPECT_EQ(Lines(dryLines.begin() + 4, dryLines.begin() + 6),
              Lines(wetLines.begin() + 4, wetLines.begin() + 6))
        << "the new values";
    EXPECT_EQ(FixedPointFile(), Read(wet));
    EXPECT_EQ(JunkFile(), Read(wet + ".bak"));
    Write("wet.dat", DamagedSong());
    EXPECT_EQ(0, Run({"repair", "--yes", "--backup=old", wet, fixed}));
    EXPECT_EQ(DamagedSong(), Read(wet + ".old")) << "an older backup is replaced";
    EXPECT_EQ((Lines{"wet.dat.bak", "wet.dat.old"}), Others()) << "a backup of a file not changed";
}

// Any name the job accepts can be repaired, and what an interrupted repair
// of that file left is taken over; nothing else is touched.
TEST_F(Tool, LongNamesAndLeftovers) {
#ifdef _WIN32
    folder_ = "C:\\tw" + std::to_string(GetCurrentProcessId()); // room for 250 characters
    CreateDirectoryA(folder_.c_str(), nullptr);
#endif
    const std::string name = std::string(246, 'a') + ".dat";
    const std::string path = Write(name, JunkFile());
    const std::string leftover = Write(DatIoTempName(name, 0, kSeparator == '\\'), Bytes(5, 'x'));
    Write("~other", Bytes(5, 'x'));
    EXPECT_EQ(0, Run({"repair", "--yes", path}));
    EXPECT_EQ(FixedPointFile(), Read(path));
    EXPECT_FALSE(std::filesystem::exists(leftover));
    EXPECT_EQ(Bytes(5, 'x'), Read(PathOf("~other")));
    EXPECT_EQ(Lines{}, Others());
}

TEST_F(Tool, JsonOneValidObjectPerFile) {
    using nlohmann::json;
    Bytes noMagic = GoodSong();
    noMagic[noMagic.size() - 10] = 'X';
    const std::uint32_t good = StoredChecksum(GoodSong()), junk = StoredChecksum(JunkFile());
    const std::string junkPath = PathOf("junk.dat");
    const struct {
        std::string name;
        Bytes file;
        json fields; // all but the path
    } cases[] = {
        {"good.dat",
         GoodSong(),
         {{"status", "ok"},
          {"pointer", 10},
          {"file_checksum", good},
          {"calculated_checksum", good}}},
        {"nomagic.dat", noMagic, {{"status", "unrepairable"}}},
        {"junk.dat",
         JunkFile(),
         {{"status", "repaired"},
          {"pointer", 39},
          {"file_checksum", junk},
          {"calculated_checksum", BytewiseChecksum(JunkFile(), JunkFile().size() - 49, 39)},
          {"new_pointer", 39},
          {"new_checksum", junk},
          {"backup", junkPath + ".bak"}}},
#ifndef _WIN32
        {"q\"uo\\te\n\xff.dat",
         GoodSong(),
         {{"status", "ok"},
          {"pointer", 10},
          {"file_checksum", good},
          {"calculated_checksum", good}}},
#endif
    };
    std::vector<std::string> args = {"repair", "--yes", "--backup", "--json"};
    for (const auto& c : cases)
        args.push_back(Write(c.name, c.file));
    args.push_back(PathOf("missing.dat"));
    EXPECT_EQ(1, Run(args));
    const Lines lines = LinesOf(out_);
    ASSERT_EQ(args.size() - 4, lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        json line = json::parse(lines[i], nullptr, false);
        ASSERT_TRUE(line.is_object()) << lines[i];
        EXPECT_TRUE(line["path"].is_string()) << lines[i];
        line.erase("path");
        if (i < std::size(cases)) {
            EXPECT_EQ(cases[i].fields, line) << lines[i];
        } else {
            EXPECT_EQ("unreadable", line["status"]);
            EXPECT_TRUE(line["error"].is_string());
        }
    }
}

} // namespace
