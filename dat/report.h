// The DAT repairer's report: one formatted line at a time, handed to the
// calling thread's report sink (the report dialog, standard output, a string
// in tests). No windows.h here.
#pragma once

#include <cstdint>
#include <string>

// The formats that reach the report. Each has at most one conversion:
// %s (a path) or %x (a 32-bit number, lowercase hex, no leading zeros).
inline constexpr char kReportVerifying[] = "Verifying %s...\r\n";
inline constexpr char kReportPointer[] = "Pointer: %x\r\n";
inline constexpr char kReportFileChecksum[] = "File Checksum: %x\r\n";
inline constexpr char kReportCalculatedChecksum[] = "Calculated Checksum: %x\r\n";
inline constexpr char kReportNewPointer[] = "New Pointer: %x\r\n";
inline constexpr char kReportNewChecksum[] = "New Checksum: %x\r\n";
inline constexpr char kReportOk[] = "File %s is ok, repair not needed\r\n";
inline constexpr char kReportFooterDamaged[] =
    "ERROR: Footer of %s is damaged. No chance of repair\r\n";
// A file that could not be opened (missing, no regular file, not ours to
// read, busy): nothing of it was read.
inline constexpr char kReportUnopened[] = "ERROR: File %s could not be opened\r\n";
// A file that opened, but a read of it failed (a bad sector, say): no
// verdict on its footer.
inline constexpr char kReportUnread[] = "ERROR: File %s could not be read\r\n";
// A file another program changed between its verdict and its repair, or
// during the repair: nothing of the repair is kept.
inline constexpr char kReportChanged[] =
    "ERROR: File %s changed since it was checked; left as it is\r\n";
inline constexpr char kReportRepaired[] = "File %s repaired successfully!\r\n";
inline constexpr char kReportRepairFailed[] = "ERROR: File %s failed repair\r\n";
// The program's report only: after any ERROR line above, the system's
// word on why the file could not be opened, read or replaced.
inline constexpr char kReportReason[] = "Reason: %s\r\n";
// The verdict of a dry run whose repair would verify, and before it what
// the repair costs (a decimal count of bytes, as text).
inline constexpr char kReportWouldRepair[] = "File %s would be repaired\r\n";
inline constexpr char kReportRemoves[] = "The repair removes %s bytes\r\n";
inline constexpr char kReportAdds[] = "The repair adds %s bytes\r\n";
inline constexpr char kReportKeepsSize[] = "The repair keeps the file's size\r\n";
// First line of every report.
inline constexpr char kReportBanner[] =
    "Website for Tidewatch: https://github.com/tidewatch/tidewatch . Email reports to "
    "tidewatch.reports@example.org . Good luck!!\r\n\r\n";
// A file whose joined path does not fit; the argument is the whole joined text.
inline constexpr char kReportPathTooLong[] =
    "ERROR: Path %s is longer than 259 characters. File skipped\r\n";
// Written once, as the last line, when a report is full.
inline constexpr char kReportCutShort[] =
    "ERROR: Report cut short, it is full. Further lines are left out; processing goes on\r\n";

// Asked, not reported: the repair question, the warning before a repair job,
// and the answer to a selection too large for the job's list.
inline constexpr char kRepairQuestion[] = "File %s is damaged. Do you wish to attempt repair?";
inline constexpr char kRepairWarning[] =
    "This is alpha software. DO NOT DISTRIBUTE! Use ENTIRELY at your OWN risk. Make backups of "
    "ANY file you attempt to repair. Do you wish to continue?";
inline constexpr char kSelectFewer[] =
    "Too many files are selected. Please select fewer files and try again.";

// Receives one finished line (with its CR LF, if the format has one).
using ReportSink = void (*)(void* context, const char* line);

// Sets the report target of the calling thread; a null sink drops lines.
// Each thread has its own, so two repair jobs never write into each other's
// report. Returns the previous sink and context through the out-parameters
// when they are non-null.
void SetReportSink(ReportSink sink, void* context, ReportSink* previousSink = nullptr,
                   void** previousContext = nullptr);

// Text as a report line shows it: each control character (below 0x20, and
// 0x7f) escaped as \n, \r, \t or three octal digits (\033), so that no
// name colours a terminal or splits a line.
void AppendShownText(std::string& out, const char* text);
std::string ShownText(const std::string& text);

// Formats one line from a fixed format. argument is a zero-terminated string
// (shown as AppendShownText shows it) when argumentIsText is non-zero, else
// a 32-bit unsigned number.
std::string FormatReportLine(const char* format, std::uintptr_t argument, int argumentIsText);

// Formats one line and hands it to the calling thread's sink. Returns 0.
int AppendReport(const char* format, std::uintptr_t argument, int argumentIsText);
