#include "dat/report.h"
#include "tests/dat/dat_test_util.h"

#include <thread>

namespace {

std::uintptr_t Text(const char* text) {
    return reinterpret_cast<std::uintptr_t>(text);
}

TEST(FormatReportLine, HexWithoutLeadingZerosPathsAsGivenOneConversionOnly) {
    const struct {
        const char* format;
        std::uintptr_t argument;
        int isText;
        std::string line;
    } cases[] = {
        {kReportPointer, 0x27, 0, "Pointer: 27\r\n"},
        {kReportPointer, 0, 0, "Pointer: 0\r\n"},
        {kReportFileChecksum, 0xFFFFFFFFu, 0, "File Checksum: ffffffff\r\n"},
        {kReportCalculatedChecksum, 0x00ABCDEF, 0, "Calculated Checksum: abcdef\r\n"},
        {kReportNewChecksum, std::uintptr_t(-1), 0, "New Checksum: ffffffff\r\n"},
        {kReportVerifying, Text("C:\\a b%s%x.dat"), 1, "Verifying C:\\a b%s%x.dat...\r\n"},
        {kRepairQuestion, Text("e.dat"), 1,
         "File e.dat is damaged. Do you wish to attempt repair?"},
        {"a %x b %x c %s %d", 0x1F, 0, "a 1f b %x c %s %d"},
        {"trailing %", 5, 0, "trailing %"},
        {kReportVerifying, 0, 1, "Verifying ...\r\n"},
        {kReportVerifying, 1234, 0, "Verifying ...\r\n"},
        {nullptr, 0, 0, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.line, FormatReportLine(c.format, c.argument, c.isText)) << c.line;
}

TEST(AppendReport, EachThreadHasItsOwnRestorableSink) {
    ReportCapture outer;
    {
        ReportCapture inner;
        std::vector<std::string> other;
        std::thread worker([&] {
            AppendReport(kReportPointer, 1, 0); // no sink: dropped
            ReportCapture own;
            AppendReport(kReportPointer, 2, 0);
            other = own.lines;
        });
        worker.join();
        EXPECT_EQ(0, AppendReport(kReportPointer, 3, 0));
        EXPECT_EQ(other, std::vector<std::string>{"Pointer: 2\r\n"});
        EXPECT_EQ(inner.lines, std::vector<std::string>{"Pointer: 3\r\n"});
    }
    AppendReport(kReportPointer, 4, 0);
    EXPECT_EQ(outer.lines, std::vector<std::string>{"Pointer: 4\r\n"});
}

} // namespace
