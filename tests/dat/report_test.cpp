#include "dat/report.h"
#include "tests/dat/dat_test_util.h"

#include <thread>

namespace {

std::uintptr_t Text(const char* text) {
    return reinterpret_cast<std::uintptr_t>(text);
}

TEST(FormatReportLine, NumbersAreLowercaseHexWithoutLeadingZeros) {
    EXPECT_EQ(FormatReportLine(kReportPointer, 0x27, 0), "Pointer: 27\r\n");
    EXPECT_EQ(FormatReportLine(kReportPointer, 0, 0), "Pointer: 0\r\n");
    EXPECT_EQ(FormatReportLine(kReportFileChecksum, 0xFFFFFFFFu, 0), "File Checksum: ffffffff\r\n");
    EXPECT_EQ(FormatReportLine(kReportCalculatedChecksum, 0x00ABCDEF, 0),
              "Calculated Checksum: abcdef\r\n");
    EXPECT_EQ(FormatReportLine(kReportNewPointer, 0x10000, 0), "New Pointer: 10000\r\n");
    // The argument travels as a pointer-sized number; only 32 bits are shown.
    EXPECT_EQ(FormatReportLine(kReportNewChecksum, std::uintptr_t(-1), 0),
              "New Checksum: ffffffff\r\n");
}

TEST(FormatReportLine, PathsAreCopiedAsGiven) {
    EXPECT_EQ(FormatReportLine(kReportVerifying, Text("C:\\x\\a b%s%x.dat"), 1),
              "Verifying C:\\x\\a b%s%x.dat...\r\n");
    EXPECT_EQ(FormatReportLine(kReportFooterDamaged, Text("d.dat"), 1),
              "ERROR: Footer of d.dat is damaged. No chance of repair\r\n");
    EXPECT_EQ(FormatReportLine(kRepairQuestion, Text("e.dat"), 1),
              "File e.dat is damaged. Do you wish to attempt repair?");
}

TEST(FormatReportLine, OnlyTheFirstConversionTakesTheArgument) {
    EXPECT_EQ(FormatReportLine("a %x b %x c %s %d", 0x1F, 0), "a 1f b %x c %s %d");
    EXPECT_EQ(FormatReportLine("no conversion\r\n\r\n", 0, 0), "no conversion\r\n\r\n");
    EXPECT_EQ(FormatReportLine("trailing %", 5, 0), "trailing %");
}

TEST(FormatReportLine, MissingOrMismatchedArgumentsAreHarmless) {
    EXPECT_EQ(FormatReportLine(kReportVerifying, 0, 1), "Verifying ...\r\n");
    EXPECT_EQ(FormatReportLine(kReportVerifying, 1234, 0), "Verifying ...\r\n");
    EXPECT_EQ(FormatReportLine(nullptr, 0, 0), "");
}

TEST(AppendReport, HandsEachLineToTheThreadsSink) {
    ReportCapture capture;
    EXPECT_EQ(AppendReport(kReportVerifying, Text("f.dat"), 1), 0);
    EXPECT_EQ(AppendReport(kReportPointer, 3, 0), 0);
    EXPECT_EQ(capture.lines,
              (std::vector<std::string>{"Verifying f.dat...\r\n", "Pointer: 3\r\n"}));
}

TEST(AppendReport, SinksArePerThreadAndRestorable) {
    ReportCapture outer;
    {
        ReportCapture inner;
        std::vector<std::string> other;
        std::thread worker([&] {
            // A thread without a sink drops its lines.
            AppendReport(kReportPointer, 1, 0);
            ReportCapture own;
            AppendReport(kReportPointer, 2, 0);
            other = own.lines;
        });
        worker.join();
        AppendReport(kReportPointer, 3, 0);
        EXPECT_EQ(other, std::vector<std::string>{"Pointer: 2\r\n"});
        EXPECT_EQ(inner.lines, std::vector<std::string>{"Pointer: 3\r\n"});
    }
    AppendReport(kReportPointer, 4, 0);
    EXPECT_EQ(outer.lines, std::vector<std::string>{"Pointer: 4\r\n"});
}

TEST(AppendReport, NullSinkDropsLines) {
    ReportCapture capture;
    ReportSink previous = nullptr;
    void* context = nullptr;
    SetReportSink(nullptr, nullptr, &previous, &context);
    AppendReport(kReportPointer, 5, 0);
    SetReportSink(previous, context);
    AppendReport(kReportPointer, 6, 0);
    EXPECT_EQ(capture.lines, std::vector<std::string>{"Pointer: 6\r\n"});
}

} // namespace
