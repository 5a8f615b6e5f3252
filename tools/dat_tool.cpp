#include "tools/dat_tool.h"

#include "dat/dat.h"
#include "dat/report.h"

#include <cstring>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

#ifndef TW_DAT_VERSION
#error TW_DAT_VERSION must name the project version
#endif

namespace {

const char kUsage[] = "Usage: tidewatch-dat verify FILE...\n"
                      "       tidewatch-dat repair [--yes|--no] FILE...\n"
                      "       tidewatch-dat --help | --version\n";

const char kHelp[] = "\n"
                     "Checks the footer and checksum of the client's .dat files and repairs\n"
                     "damaged ones, writing the same report lines as Tidewatch's DAT repairer.\n"
                     "\n"
                     "  verify      report on each FILE, changing nothing\n"
                     "  repair      report on each FILE and offer to repair every one whose\n"
                     "              checksum does not match; the question is asked on the\n"
                     "              terminal, and answered No when there is none\n"
                     "  --yes       repair without asking\n"
                     "  --no        answer No for every file\n"
                     "  --help      show this text\n"
                     "  --version   show the version\n"
                     "\n"
                     "A repair is written to a temporary file next to the original, which it\n"
                     "then replaces in one step; a file that cannot be repaired stays as it was.\n"
                     "\n"
                     "Exit status: 0 when every file ends verified ok, 1 when any does not,\n"
                     "2 for a usage error.\n";

enum class Answer { Ask, Yes, No };

struct Run {
    const DatToolStreams* streams;
    Answer answer;
};

// Report lines end in CR LF; the tool writes the platform's line end.
void WriteLine(void* context, const char* line) {
    const DatToolStreams* streams = static_cast<Run*>(context)->streams;
    std::size_t length = std::strlen(line);
    if (length >= 2 && line[length - 2] == '\r' && line[length - 1] == '\n') {
        streams->out.write(line, static_cast<std::streamsize>(length - 2));
        streams->out << streams->lineEnd;
    } else {
        streams->out << line;
    }
}

bool AskOnTerminal(void* context, const char* path) {
    Run* run = static_cast<Run*>(context);
    const DatToolStreams& s = *run->streams;
    if (run->answer != Answer::Ask)
        return run->answer == Answer::Yes;
    if (!s.interactive) {
        s.err << "tidewatch-dat: no terminal to ask whether to repair " << path
              << "; taking No (use --yes to repair)\n";
        return false;
    }
    s.out.flush();
    s.err << FormatReportLine(kRepairQuestion, reinterpret_cast<std::uintptr_t>(path), 1)
          << " [y/N] ";
    s.err.flush();
    std::string reply;
    if (!std::getline(s.in, reply))
        return false;
    std::string::size_type first = reply.find_first_not_of(" \t");
    return first != std::string::npos && (reply[first] == 'y' || reply[first] == 'Y');
}

int UsageError(const DatToolStreams& s, const std::string& message) {
    s.err << "tidewatch-dat: " << message << "\n" << kUsage << "Try 'tidewatch-dat --help'.\n";
    return 2;
}

} // namespace

int RunDatTool(int argc, const char* const* argv, const DatToolStreams& streams) {
    if (argc < 2)
        return UsageError(streams, "no command given");
    std::string command = argv[1];
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

    Run run{&streams, Answer::Ask};
    std::vector<const char*> files;
    bool optionsDone = false;
    for (int i = 2; i < argc; ++i) {
        std::string arg = argv[i];
        if (optionsDone || arg.empty() || arg[0] != '-' || arg == "-") {
            files.push_back(argv[i]);
        } else if (arg == "--") {
            optionsDone = true;
        } else if (arg == "--help" || arg == "-h") {
            streams.out << kUsage << kHelp;
            return 0;
        } else if ((arg == "--yes" || arg == "--no") && command == "repair") {
            Answer wanted = arg == "--yes" ? Answer::Yes : Answer::No;
            if (run.answer != Answer::Ask && run.answer != wanted)
                return UsageError(streams, "--yes and --no exclude each other");
            run.answer = wanted;
        } else {
            return UsageError(streams, "unknown option '" + arg + "' for " + command);
        }
    }
    if (files.empty())
        return UsageError(streams, "no FILE given");

    ReportSink previousSink = nullptr;
    void* previousContext = nullptr;
    SetReportSink(WriteLine, &run, &previousSink, &previousContext);
    bool allOk = true;
    for (const char* path : files) {
        if (command == "verify") {
            int result = VerifyDatFile(path);
            const auto text = reinterpret_cast<std::uintptr_t>(path);
            if (result > 0)
                AppendReport(kReportOk, text, 1);
            else if (result < 0)
                AppendReport(kReportFooterDamaged, text, 1);
            allOk = allOk && result == 1;
        } else {
            DatOutcome outcome = ProcessDatFile(path, AskOnTerminal, &run);
            allOk = allOk && (outcome == DatOutcome::Ok || outcome == DatOutcome::Repaired);
        }
    }
    streams.out.flush();
    SetReportSink(previousSink, previousContext);
    return allOk ? 0 : 1;
}
