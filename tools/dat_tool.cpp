#include "tools/dat_tool.h"

#include "dat/dat.h"
#include "dat/dat_io.h"
#include "dat/report.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstring>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

#ifndef TW_DAT_VERSION
#error TW_DAT_VERSION must name the project version
#endif

namespace {

const char kUsage[] = "Usage: tidewatch-dat verify [-q] [--json] FILE...\n"
                      "       tidewatch-dat repair [--yes|--no|--dry-run] [--backup[=SUFFIX]] "
                      "[-q] [--json] FILE...\n"
                      "       tidewatch-dat --help | --version\n";

const char kHelp[] = "\n"
                     "Checks the footer and checksum of the client's .dat files and repairs\n"
                     "damaged ones, writing the same report lines as Tidewatch's DAT repairer.\n"
                     "A FILE that is a folder stands for every file in it, and in the folders\n"
                     "below it, whose name ends in .dat in any letter case (links to folders\n"
                     "are not followed), in sorted order. A folder that cannot be read is\n"
                     "named on standard error with the reason and counts as not ok.\n"
                     "\n"
                     "  verify            report on each file, changing nothing\n"
                     "  repair            report on each file and offer to repair every one whose\n"
                     "                    checksum does not match; the question is asked on the\n"
                     "                    terminal, and answered No when there is none\n"
                     "  --yes             repair without asking\n"
                     "  --no              answer No for every file\n"
                     "  -n, --dry-run     report what each repair would write and how many bytes\n"
                     "                    it removes or adds, writing nothing; such files count\n"
                     "                    as not ok\n"
                     "  --backup[=SUFFIX] keep the original of each file a repair changes as\n"
                     "                    FILE.SUFFIX (FILE.bak)\n"
                     "  -q, --quiet       no report lines for a file found intact\n"
                     "  --json            one JSON object per file and line instead of the report\n"
                     "  --help, --version this text, the version\n"
                     "\n"
                     "A repair is written to a temporary file next to the original, which it\n"
                     "then replaces in one step; a file that cannot be repaired stays as it was,\n"
                     "and so does the file in hand when the program is interrupted (exit 130),\n"
                     "or when another program changes it after its check (\"changed\").\n"
                     "Why a file cannot be opened, read or replaced is said on standard error;\n"
                     "after more than one file, so are the counts. Files dropped onto\n"
                     "tidewatch-dat.exe are repaired with questions in its window: that is\n"
                     "when every argument names an existing file or folder.\n"
                     "\n"
                     "Exit status: 0 when every file ends verified ok, 1 when any does not or\n"
                     "output could not be written, 2 for a usage error. Examples:\n"
                     "  tidewatch-dat verify ~/kazaa/db\n"
                     "  tidewatch-dat repair --dry-run --json data256.dat\n"
                     "  tidewatch-dat repair --yes --backup data256.dat\n";

enum class Answer { Ask, Yes, No };

struct Run {
    explicit Run(const DatToolStreams& streams) : s(streams) {}
    const DatToolStreams& s;
    Answer answer = Answer::Ask;
    DatRepairOptions options;
    bool json = false;
    bool quiet = false;
    std::string held;              // quiet: the file's report lines until its outcome is known
    std::size_t progressShown = 0; // characters of the progress line on the terminal
};

// Takes the progress line off the terminal before anything else is written.
void EraseProgress(Run& run) {
    if (run.progressShown)
        run.s.err << '\r' << std::string(run.progressShown, ' ') << '\r' << std::flush;
    run.progressShown = 0;
}

// Report lines end in CR LF; the tool writes the platform's line end. With
// -q they wait until the file's outcome is known.
void WriteLine(void* context, const char* line) {
    Run& run = *static_cast<Run*>(context);
    if (run.json)
        return;
    std::size_t size = std::strlen(line);
    const bool crlf = size >= 2 && line[size - 2] == '\r' && line[size - 1] == '\n';
    const char* end = crlf ? run.s.lineEnd : "";
    size -= crlf ? 2 : 0;
    if (run.quiet) {
        run.held.append(line, size).append(end);
        return;
    }
    EraseProgress(run);
    run.s.out.write(line, static_cast<std::streamsize>(size)) << end;
}

void WriteHeld(Run& run) {
    if (!run.held.empty()) {
        EraseProgress(run);
        run.s.out.write(run.held.data(), static_cast<std::streamsize>(run.held.size()));
        run.held.clear();
    }
}

bool AskOnTerminal(void* context, const char* path) {
    Run& run = *static_cast<Run*>(context);
    if (run.answer != Answer::Ask)
        return run.answer == Answer::Yes;
    WriteHeld(run);
    EraseProgress(run);
    if (!run.s.interactive) {
        run.s.err << "tidewatch-dat: no terminal to ask whether to repair " << ShownText(path)
                  << "; taking No (use --yes to repair)\n";
        return false;
    }
    run.s.out.flush();
    run.s.err << FormatReportLine(kRepairQuestion, reinterpret_cast<std::uintptr_t>(path), 1)
              << " [y/N] " << std::flush;
    std::string reply;
    if (!std::getline(run.s.in, reply))
        return false;
    std::string::size_type first = reply.find_first_not_of(" \t");
    return first != std::string::npos && (reply[first] == 'y' || reply[first] == 'Y');
}

// What became of a file, as the summary counts it (in this order) and JSON
// names it.
enum Status {
    kOk,
    kRepaired,
    kDamaged,
    kRepairable,
    kUnrepairable,
    kChanged,
    kUnreadable,
    kStatusCount
};
const char* const kStatusNames[kStatusCount] = {
    "ok", "repaired", "damaged", "repairable", "unrepairable", "changed", "unreadable"};

Status StatusOf(DatOutcome outcome) {
    switch (outcome) {
    case DatOutcome::Ok:
        return kOk;
    case DatOutcome::Repaired:
        return kRepaired;
    case DatOutcome::Declined:
        return kDamaged;
    case DatOutcome::WouldRepair:
        return kRepairable;
    case DatOutcome::FooterDamaged:
    case DatOutcome::RepairFailed:
        break;
    case DatOutcome::Unopened:
    case DatOutcome::Unread:
        return kUnreadable;
    case DatOutcome::Changed:
        return kChanged;
    }
    return kUnrepairable;
}

void WriteJson(const Run& run, const std::string& path, const char* status, const DatFacts& f) {
    nlohmann::ordered_json line = {{"path", run.s.toUtf8 ? run.s.toUtf8(path) : path},
                                   {"status", status}};
    const std::pair<const char*, const std::optional<std::uint32_t>&> numbers[] = {
        {"pointer", f.pointer},
        {"file_checksum", f.fileChecksum},
        {"calculated_checksum", f.calculatedChecksum},
        {"new_pointer", f.newPointer},
        {"new_checksum", f.newChecksum}};
    for (const auto& n : numbers)
        if (n.second)
            line[n.first] = *n.second;
    if (f.sizeChange)
        line["size_change"] = *f.sizeChange;
    if (!f.backup.empty())
        line["backup"] = run.s.toUtf8 ? run.s.toUtf8(f.backup) : f.backup;
    if (!f.error.empty())
        line["error"] = run.s.toUtf8 ? run.s.toUtf8(f.error) : f.error;
    run.s.out << line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
}

bool EndsInDat(const std::string& name) {
    static const char kDat[] = ".dat";
    if (name.size() < 4)
        return false;
    for (std::size_t i = 0; i < 4; ++i)
        if ((name[name.size() - 4 + i] | 0x20) != kDat[i])
            return false;
    return true;
}

// Adds the .dat files in folder and below it; names each folder that cannot
// be read and returns their number.
std::size_t FindDatFiles(const DatToolStreams& s, const std::string& folder,
                         std::vector<std::string>& found) {
    std::vector<std::pair<std::string, bool>> entries;
    std::string reason;
    if (!ReadFolder(folder, &entries, &reason)) {
        s.err << "tidewatch-dat: " << ShownText(folder) << ": " << reason << "\n";
        return 1;
    }
    // On Windows "D:" is the current folder of drive D:, and "D:x" a name in it.
    const char last = folder.back();
    const bool joined = last == s.separator || last == '/' || (s.separator == '\\' && last == ':');
    const std::string prefix = joined ? folder : folder + s.separator;
    std::size_t unreadable = 0;
    for (const auto& entry : entries) {
        if (entry.second)
            unreadable += FindDatFiles(s, prefix + entry.first, found);
        else if (EndsInDat(entry.first))
            found.push_back(prefix + entry.first);
    }
    return unreadable;
}

// The message repeats what the user typed: shown escaped, as names are.
int UsageError(const DatToolStreams& s, const std::string& message) {
    s.err << "tidewatch-dat: " << ShownText(message) << "\n"
          << kUsage << "Try 'tidewatch-dat --help'.\n";
    return 2;
}

} // namespace

bool AreDroppedFiles(int argc, const char* const* argv) {
    if (argc < 2 || std::string(argv[1]) == "verify" || std::string(argv[1]) == "repair")
        return false;
    for (int i = 1; i < argc; ++i)
        if (KindOf(argv[i]) == PathKind::Missing)
            return false;
    return true;
}

int RunDatTool(int argc, const char* const* argv, const DatToolStreams& streams) {
    if (argc < 2)
        return UsageError(streams, "no command given");
    const std::string command = argv[1];
    if (command == "--help" || command == "-h") {
        streams.out << kUsage << kHelp;
        return 0;
    }
    if (command == "--version") {
        streams.out << "tidewatch-dat " << TW_DAT_VERSION << "\n";
        return 0;
    }
    if (command != "verify" && command != "repair")
        return UsageError(streams, "unknown command '" + command + "'");

    Run run(streams);
    std::vector<std::string> names;
    bool optionsDone = false;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool repair = command == "repair";
        if (optionsDone || arg.empty() || arg[0] != '-' || arg == "-") {
            names.push_back(arg);
        } else if (arg == "--") {
            optionsDone = true;
        } else if (arg == "--help" || arg == "-h") {
            streams.out << kUsage << kHelp;
            return 0;
        } else if (arg == "--json") {
            run.json = true;
        } else if (arg == "--quiet" || arg == "-q") {
            run.quiet = true;
        } else if (repair && (arg == "--dry-run" || arg == "-n")) {
            run.options.dryRun = true;
        } else if (repair && (arg == "--yes" || arg == "--no")) {
            const Answer wanted = arg == "--yes" ? Answer::Yes : Answer::No;
            if (run.answer != Answer::Ask && run.answer != wanted)
                return UsageError(streams, "--yes and --no exclude each other");
            run.answer = wanted;
        } else if (repair && (arg == "--backup" || arg.compare(0, 9, "--backup=") == 0)) {
            run.options.backupSuffix = arg.size() > 9 ? argv[i] + 9 : "bak";
        } else {
            return UsageError(streams, "unknown option '" + arg + "' for " + command);
        }
    }
    if (names.empty())
        return UsageError(streams, "no FILE given");
    if (run.options.dryRun && run.answer == Answer::No)
        return UsageError(streams, "--dry-run and --no exclude each other");
    if (run.options.dryRun)
        run.answer = Answer::Yes; // nothing is written, so nothing is asked

    bool allOk = true;
    std::vector<std::string> files;
    std::size_t unreadableFolders = 0;
    for (const std::string& name : names) {
        if (KindOf(name) != PathKind::Folder) {
            files.push_back(name);
            continue;
        }
        std::vector<std::string> found;
        const std::size_t unreadable = FindDatFiles(streams, name, found);
        std::sort(found.begin(), found.end());
        if (found.empty() && unreadable == 0) {
            streams.err << "tidewatch-dat: " << ShownText(name)
                        << ": no .dat files in this folder\n";
            allOk = false;
        }
        unreadableFolders += unreadable;
        files.insert(files.end(), found.begin(), found.end());
    }
    allOk = allOk && unreadableFolders == 0;

    ReportSink previousSink = nullptr;
    void* previousContext = nullptr;
    SetReportSink(WriteLine, &run, &previousSink, &previousContext);
    std::size_t counts[kStatusCount] = {};
    for (std::size_t i = 0; i < files.size(); ++i) {
        const std::string& path = files[i];
        if (streams.errIsTerminal && files.size() > 20) {
            EraseProgress(run);
            const std::string line = std::to_string(i + 1) + " of " + std::to_string(files.size()) +
                                     ": " + ShownText(path);
            streams.err << line << std::flush;
            run.progressShown = line.size();
        }
        DatFacts facts;
        const DatOutcome outcome = ProcessDatFile(
            path.c_str(), command == "repair" ? AskOnTerminal : nullptr, &run, run.options, &facts);
        const Status status = StatusOf(outcome);
        ++counts[status];
        allOk = allOk && (outcome == DatOutcome::Ok || outcome == DatOutcome::Repaired);
        if (outcome != DatOutcome::Ok)
            WriteHeld(run);
        run.held.clear();
        if (!facts.error.empty()) {
            EraseProgress(run);
            streams.err << "tidewatch-dat: " << ShownText(path) << ": " << ShownText(facts.error)
                        << "\n";
        }
        if (run.json)
            WriteJson(run, path, kStatusNames[status], facts);
        // Interrupted: the file in hand is as it was, the rest is not begun.
        if (DatIoReplacesCancelled())
            break;
    }
    EraseProgress(run);
    streams.out.flush();
    SetReportSink(previousSink, previousContext);
    if (files.size() + unreadableFolders > 1) {
        streams.err << files.size() << (files.size() == 1 ? " file:" : " files:");
        const char* comma = "";
        for (int k = 0; k < kStatusCount; ++k)
            if (counts[k]) {
                streams.err << comma << ' ' << counts[k] << ' ' << kStatusNames[k];
                comma = ",";
            }
        if (unreadableFolders)
            streams.err << comma << ' ' << unreadableFolders
                        << (unreadableFolders == 1 ? " unreadable folder" : " unreadable folders");
        streams.err << "\n";
    }
    return allOk ? 0 : 1;
}
