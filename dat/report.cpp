#include "dat/report.h"

#include <cstring>

namespace {

thread_local ReportSink t_sink = nullptr;
thread_local void* t_context = nullptr;

void AppendHex(std::string& out, std::uint32_t value) {
    char digits[8];
    int n = 0;
    do {
        digits[n++] = "0123456789abcdef"[value & 0xF];
        value >>= 4;
    } while (value != 0);
    while (n > 0)
        out += digits[--n];
}

} // namespace

void AppendShownText(std::string& out, const char* text) {
    for (const char* run = text;;) {
        const char* c = run;
        while (static_cast<unsigned char>(*c) >= 0x20 && *c != 0x7f)
            ++c;
        out.append(run, c);
        if (*c == '\0')
            return;
        // A control character is shown, never sent to the terminal.
        const unsigned char byte = static_cast<unsigned char>(*c);
        const char* simple = byte == '\n'   ? "\\n"
                             : byte == '\r' ? "\\r"
                             : byte == '\t' ? "\\t"
                                            : nullptr;
        if (simple) {
            out += simple;
        } else {
            const char octal[] = {'\\', char('0' + (byte >> 6)), char('0' + (byte >> 3 & 7)),
                                  char('0' + (byte & 7)), '\0'};
            out += octal;
        }
        run = c + 1;
    }
}

std::string ShownText(const std::string& text) {
    std::string shown;
    AppendShownText(shown, text.c_str());
    return shown;
}

void SetReportSink(ReportSink sink, void* context, ReportSink* previousSink,
                   void** previousContext) {
    if (previousSink)
        *previousSink = t_sink;
    if (previousContext)
        *previousContext = t_context;
    t_sink = sink;
    t_context = context;
}

namespace {

// Only the first %s or %x takes the argument; anything else after a percent
// sign is copied as it stands, so no format can read beyond its argument.
void Format(std::string& line, const char* format, std::uintptr_t argument, int argumentIsText) {
    line.clear();
    if (!format)
        return;
    const char* f = format;
    // Up to the conversion, and then the rest, as they stand.
    while ((f = std::strchr(f, '%')) != nullptr && f[1] != 's' && f[1] != 'x')
        ++f;
    if (!f) {
        line.assign(format);
        return;
    }
    line.assign(format, f);
    if (f[1] == 's') {
        if (argumentIsText && argument != 0)
            AppendShownText(line, reinterpret_cast<const char*>(argument));
    } else if (argumentIsText) {
        // A text argument given to %x: its address means nothing to a reader.
        line += '0';
    } else {
        AppendHex(line, static_cast<std::uint32_t>(argument));
    }
    line.append(f + 2);
}

} // namespace

std::string FormatReportLine(const char* format, std::uintptr_t argument, int argumentIsText) {
    std::string line;
    Format(line, format, argument, argumentIsText);
    return line;
}

int AppendReport(const char* format, std::uintptr_t argument, int argumentIsText) {
    if (t_sink) {
        // Kept for the next line: a folder's worth of reports needs no allocation each.
        static thread_local std::string line;
        Format(line, format, argument, argumentIsText);
        t_sink(t_context, line.c_str());
    }
    return 0;
}
