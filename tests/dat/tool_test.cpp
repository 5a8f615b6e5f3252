// tidewatch-dat in process, natively and under Wine (there on the Win32
// file layer); what only its entry does is run from the outside (tool_cli.sh).
#include "tools/dat_tool.h"
#include "dat/dat_io.h"
#include "tests/dat/dat_test_util.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <sstream>

#ifdef _WIN32
#include <windows.h>
const char kSeparator = '\\';
#else
#include <unistd.h>
const char kSeparator = '/';
#endif

namespace {

class Tool : public DatFileTest {
  protected:
    int Run(Lines args) {
        args.insert(args.begin(), "tidewatch-dat");
        std::vector<const char*> argv;
        for (const std::string& a : args)
            argv.push_back(a.c_str());
        out_.str("");
        err_.str("");
        std::istringstream in;
        DatToolStreams streams{out_, err_, in, false, false, "\n", kSeparator, Marked};
        return RunDatTool(int(argv.size()), argv.data(), streams);
    }
    static Lines LinesOf(const std::ostringstream& stream) {
        Lines lines;
        std::istringstream text(stream.str());
        for (std::string line; std::getline(text, line);)
            lines.push_back(line);
        return lines;
    }
    // Shows which text JSON took through the conversion to UTF-8.
    static std::string Marked(const std::string& text) { return "<" + text + ">"; }
    std::ostringstream out_, err_;
};

TEST_F(Tool, UsageErrorsExitWithTwoAndTouchNothing) {
    const std::string f = Write("x.dat", DamagedSong());
    for (const char* line :
         {"", "check F", "verify", "repair --yes", "verify --yes F", "repair --yes --no F",
          "repair --maybe F", "verify -n F", "repair -n --no F", "verify --backup F"}) {
        Lines args;
        std::istringstream words(line);
        for (std::string word; words >> word;)
            args.push_back(word == "F" ? f : word);
        EXPECT_EQ(2, Run(args)) << line;
        EXPECT_EQ("", out_.str());
        EXPECT_NE(std::string::npos, err_.str().find("Usage:"));
    }
    EXPECT_EQ(DamagedSong(), Read(f));
    EXPECT_EQ(1, Run({"repair", "--yes", "--", "--no"})) << "a file after --";
    EXPECT_EQ("Verifying --no...", LinesOf(out_).at(0));
    // What the user typed is shown escaped, as names are.
    EXPECT_EQ(2, Run({"verify", "-\x1b[31mx.dat"}));
    EXPECT_EQ(0u, err_.str().find("tidewatch-dat: unknown option '-\\033[31mx.dat' for verify\n"))
        << err_.str();
}

// One file alone: its exit status says whether it ends verified ok.
TEST_F(Tool, EachFileAloneGivesItsStatus) {
    Bytes noMagic = GoodSong();
    noMagic[noMagic.size() - 10] = 'X';
    const struct {
        const char* name;
        Bytes file;
        int status;
    } cases[] = {{"good.dat", GoodSong(), 0},
                 {"bad.dat", DamagedSong(), 1},
                 {"nomagic.dat", noMagic, 1},
                 {"missing.dat", {}, 1}};
    for (const auto& c : cases)
        EXPECT_EQ(c.status,
                  Run({"verify", c.file.empty() ? PathOf(c.name) : Write(c.name, c.file)}))
            << c.name;
}

// Folders are searched for .dat files in any letter case, in sorted order;
// links to folders are not followed; a folder without one is not ok.
TEST_F(Tool, FoldersStandForTheirDatFiles) {
    const std::string dir = std::string("dir") + kSeparator, sub = dir + "sub";
    for (const std::string& folder : {dir, sub, std::string("empty")})
        std::filesystem::create_directory(PathOf(folder));
    const Lines files = {Write(dir + "B.DAT", GoodSong()), Write(dir + "a.dat", GoodSong()),
                         Write(sub + kSeparator + "c.Dat", GoodSong())};
    Write(dir + "notes.txt", GoodSong());
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
#ifdef _WIN32
    // "C:" names the current folder of drive C:, not its root.
    const std::filesystem::path current = std::filesystem::current_path();
    std::filesystem::current_path(PathOf("dir"));
    EXPECT_EQ(0, Run({"verify", PathOf("dir").substr(0, 2)}));
    std::filesystem::current_path(current);
    EXPECT_EQ("3 files: 3 ok\n", err_.str());
#endif
    EXPECT_EQ(1, Run({"verify", PathOf("dir"), PathOf("empty")}));
    EXPECT_EQ(0u, err_.str().find("tidewatch-dat: " + PathOf("empty") + ": no .dat files"));
}

// A dry run reports the new values a repair would write and writes nothing;
// --backup keeps the original of a file the repair changes, only then.
TEST_F(Tool, DryRunAndBackups) {
    const std::string dry = Write("dry.dat", JunkFile()), wet = Write("wet.dat", JunkFile());
    const std::string fixed = Write("fixed.dat", FixedPointFile());
    EXPECT_EQ(1, Run({"repair", "-n", dry, fixed}));
    EXPECT_EQ(JunkFile(), Read(dry));
    Lines dryLines = LinesOf(out_);
    EXPECT_EQ("The repair removes 37 bytes", dryLines.at(6));
    EXPECT_EQ("File " + dry + " would be repaired", dryLines.at(7));
    EXPECT_EQ(0, Run({"repair", "--yes", "--backup", wet}));
    const Lines wetLines = LinesOf(out_);
    EXPECT_EQ(Lines(dryLines.begin() + 4, dryLines.begin() + 6),
              Lines(wetLines.begin() + 4, wetLines.begin() + 6))
        << "the new values";
    EXPECT_EQ("File " + wet + " repaired successfully!", wetLines.back());
    EXPECT_EQ(FixedPointFile(), Read(wet));
    EXPECT_EQ(JunkFile(), Read(wet + ".bak"));
    // A backup that is a link to the file holds the original already; a
    // read-only older backup is not replaced.
    Write("wet.dat", DamagedSong());
    std::filesystem::create_hard_link(wet, wet + ".old");
    EXPECT_EQ(0, Run({"repair", "--yes", "--backup=old", wet, fixed}));
    EXPECT_EQ(DamagedSong(), Read(wet + ".old"));
    Write("wet.dat", JunkFile());
    MakeReadOnly(wet + ".old", true);
    EXPECT_EQ(1, Run({"repair", "--yes", "--backup=old", wet}));
    EXPECT_EQ(JunkFile(), Read(wet));
    EXPECT_EQ(DamagedSong(), Read(wet + ".old"));
    EXPECT_EQ((Lines{"wet.dat.bak", "wet.dat.old"}), Others()) << "a backup of a file not changed";
}

// Any name the job accepts repairs, with a backup where it fits. What an
// interrupted repair of that file left (part of its copy) is taken over; a
// user's file under a name of ours, or one of another name, is not touched.
TEST_F(Tool, AnyNameAndLeftovers) {
#ifdef _WIN32
    folder_ = "C:\\tw-l"; // room for 250 characters
    std::filesystem::create_directory(folder_);
#endif
    Write("~other", Bytes(5, 'x'));
    const Bytes longer = Concat({JunkFile(), ToBytes("theirs")}); // begins like the file
    for (const std::string& name :
         {std::string("a"), std::string("ab"), std::string("~"), std::string(246, 'a') + ".dat"}) {
        const std::string path = Write(name, JunkFile());
        const std::string leftover = DatIoTempPath(path, DatIoTemp::New);
        const std::string users = DatIoTempPath(path, DatIoTemp::New, 1);
        const Bytes junk = JunkFile();
        Write(leftover.substr(folder_.size() + 1), Bytes(junk.begin(), junk.end() - 99));
        Write(users.substr(folder_.size() + 1), longer);
        EXPECT_EQ(0, Run({"repair", "--yes", name.size() < 3 ? "--backup" : "--", path})) << name;
        EXPECT_EQ(FixedPointFile(), Read(path)) << name;
        EXPECT_FALSE(std::filesystem::exists(leftover)) << name;
        EXPECT_EQ(longer, Read(users)) << name;
    }
    EXPECT_EQ(Bytes(5, 'x'), Read(PathOf("~other")));
    EXPECT_EQ((Lines{"a.bak", "ab.bak", "~.bak"}), Others());
}

// Text shows a name's control characters escaped (JSON keeps them: below);
// a file never opened gets its own line, and its reason.
TEST_F(Tool, NamesInTextAreShownEscaped) {
    const std::string shown = PathOf("e\\033[31m\\n.dat");
    EXPECT_EQ(1, Run({"verify", PathOf("e\x1b[31m\n.dat")}));
    EXPECT_EQ("ERROR: File " + shown + " could not be opened", LinesOf(out_).at(1));
    EXPECT_EQ(0u, err_.str().find("tidewatch-dat: " + shown + ": ")) << err_.str();
}

// -q leaves out the report lines of intact files, and nothing else.
TEST_F(Tool, QuietLeavesOutIntactFilesOnly) {
    for (const Lines& args : {Lines{"verify"}, Lines{"repair", "--yes"}, Lines{"repair", "-n"},
                              Lines{"repair", "--json"}}) {
        Lines out[2], err[2];
        int status[2];
        for (int quiet = 0; quiet < 2; ++quiet) {
            Lines line = args;
            line.insert(line.end(), {quiet ? "-q" : "--", Write("good.dat", GoodSong()),
                                     Write("bad.dat", DamagedSong()),
                                     Write("none.dat", Footer(0, 0)), PathOf("missing.dat")});
            status[quiet] = Run(line);
            out[quiet] = LinesOf(out_);
            err[quiet] = LinesOf(err_);
        }
        const std::size_t intact = args.back() == "--json" ? 0 : 5; // the good file's lines
        EXPECT_EQ(Lines(out[0].begin() + std::min(intact, out[0].size()), out[0].end()), out[1]);
        EXPECT_EQ(err[0], err[1]);
        EXPECT_EQ(status[0], status[1]);
    }
}

// Only arguments that all name existing files or folders are files dropped
// onto the program; a mistyped command is not.
TEST_F(Tool, DroppedFilesAllExist) {
    const std::string file = Write("x.dat", DamagedSong());
    const char* args[] = {"tidewatch-dat", file.c_str(), folder_.c_str(), "Verify", file.c_str()};
    EXPECT_TRUE(AreDroppedFiles(3, args));
    EXPECT_FALSE(AreDroppedFiles(3, args + 2)) << "Verify FILE";
    EXPECT_FALSE(AreDroppedFiles(4, args)) << "a name that does not exist";
}

std::string g_changing;

TEST_F(Tool, JsonOneValidObjectPerFile) {
    Bytes noMagic = GoodSong();
    noMagic[noMagic.size() - 10] = 'X';
    const std::string good = std::to_string(StoredChecksum(GoodSong())),
                      junk = std::to_string(StoredChecksum(JunkFile())),
                      junkSum =
                          std::to_string(BytewiseChecksum(JunkFile(), JunkFile().size() - 49, 39));
    const std::string ok = R"({"status":"ok","pointer":10,"file_checksum":)" + good +
                           R"(,"calculated_checksum":)" + good + "}";
    const std::string mixed = "\u65e5\u672c-\u0444\u0430\u0439\u043b.dat"; // Japanese, Cyrillic
    const struct {
        std::string name;
        Bytes file;
        std::string fields; // all but the path
    } cases[] = {
        {"good.dat", GoodSong(), ok},
        {"nomagic.dat", noMagic, R"({"status":"unrepairable"})"},
        // Another program writes it while it is repaired.
        {"changing.dat", JunkFile(),
         R"({"status":"changed","pointer":39,"file_checksum":)" + junk +
             R"(,"calculated_checksum":)" + junkSum + R"(,"new_pointer":39,"new_checksum":)" +
             junk + R"(,"size_change":-37,"error":"<x>"})"},
        {mixed, JunkFile(),
         R"({"status":"repaired","pointer":39,"file_checksum":)" + junk +
             R"(,"calculated_checksum":)" + junkSum + R"(,"new_pointer":39,"new_checksum":)" +
             junk + R"(,"size_change":-37,"backup":)" +
             nlohmann::json(Marked(PathOf(mixed + ".bak"))).dump() + "}"},
        {"missing.dat", {}, R"({"status":"unreadable","error":"<x>"})"},
#ifndef _WIN32
        {"q\"uo\\te\n\xff.dat", GoodSong(), ok},
#endif
    };
#ifdef _WIN32
    ASSERT_EQ(CP_UTF8, GetACP()) << "names in any script need the manifest's code page";
#endif
    std::vector<std::string> args = {"repair", "--yes", "--backup", "--json"};
    for (const auto& c : cases)
        args.push_back(c.file.empty() ? PathOf(c.name) : Write(c.name, c.file));
    g_changing = PathOf("changing.dat");
    SetDatIoFaultHook( // the first replace is that of changing.dat
        [](void*, DatIoStep step) {
            if (step == DatIoStep::Replace && !g_changing.empty()) {
                std::ofstream(g_changing, std::ios::app) << "more";
                g_changing.clear();
            }
            return false;
        },
        nullptr);
    EXPECT_EQ(1, Run(args));
    SetDatIoFaultHook(nullptr, nullptr);
    const std::size_t n = std::size(cases);
    EXPECT_EQ(std::to_string(n) + " files: " + std::to_string(n - 4) +
                  " ok, 1 repaired, 1 unrepairable, 1 changed, 1 unreadable",
              LinesOf(err_).back());
    const Lines lines = LinesOf(out_);
    ASSERT_EQ(std::size(cases), lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        nlohmann::json line = nlohmann::json::parse(lines[i], nullptr, false);
        ASSERT_TRUE(line.is_object()) << lines[i];
        EXPECT_EQ(nlohmann::json(Marked(PathOf(cases[i].name)))
                      .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
                  line["path"].dump());
        line.erase("path");
        if (line.contains("error")) { // the system's words
            const std::string error = line["error"];
            line["error"] = error.front() == '<' && error.back() == '>' ? "<x>" : error;
        }
        EXPECT_EQ(nlohmann::json::parse(cases[i].fields), line) << lines[i];
    }
}

} // namespace
