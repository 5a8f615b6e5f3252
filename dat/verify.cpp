#include "dat/dat.h"
#include "dat/dat_footer.h"
#include "dat/report.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr char kDatMagic[] = "KAZA";

// What verification reads at first: enough for the footer and a region of
// the usual size.
constexpr std::size_t kRegionWithFooter = 4096 + kDatFooterSize;

} // namespace

bool ReadDatFooter(DatIoFile* file, std::uint64_t* size, DatFooter* footer,
                   std::vector<unsigned char>& tail, std::size_t want) {
    if (!DatIoSize(file, size) || *size < kDatFooterSize)
        return false;
    tail.resize(static_cast<std::size_t>(std::min<std::uint64_t>(*size, want)));
    if (!DatIoRead(file, *size - tail.size(), tail.data(), tail.size()))
        return false;
    const unsigned char* bytes = tail.data() + tail.size() - kDatFooterSize;
    if (std::memcmp(bytes, kDatMagic, 4) != 0)
        return false;
    footer->regionLength = static_cast<std::uint16_t>(bytes[4] | bytes[5] << 8);
    footer->storedChecksum = std::uint32_t(bytes[6]) | std::uint32_t(bytes[7]) << 8 |
                             std::uint32_t(bytes[8]) << 16 | std::uint32_t(bytes[9]) << 24;
    return true;
}

int JudgeDatFile(DatIoFile* file, DatFacts& f) {
    std::uint64_t size = 0;
    DatFooter footer;
    // One read brings a small region with the footer; kept for the next file,
    // so that a folder's worth of files needs no allocation each.
    static thread_local std::vector<unsigned char> tail;
    // A read that fails names its reason; a footer without magic has none.
    DatIoSetLastError("");
    if (!ReadDatFooter(file, &size, &footer, tail, kRegionWithFooter)) {
        f.error = DatIoLastError();
        f.unread = !f.error.empty();
        return -1;
    }
    f.pointer = footer.regionLength;
    f.fileChecksum = footer.storedChecksum;

    // A region longer than the bytes in front of the footer cannot match:
    // only the bytes that exist are summed, and the result is 0 whatever
    // they give.
    const std::uint64_t before = size - kDatFooterSize;
    const bool fits = footer.regionLength <= before;
    const std::size_t length = fits ? footer.regionLength : static_cast<std::size_t>(before);
    if (length + kDatFooterSize > tail.size() &&
        !ReadDatFooter(file, &size, &footer, tail, length + kDatFooterSize)) {
        f.error = DatIoLastError();
        f.unread = true;
        return -1;
    }
    f.calculatedChecksum = DatChecksum(tail.data() + tail.size() - kDatFooterSize - length, length);
    return fits && f.calculatedChecksum == footer.storedChecksum ? 1 : 0;
}

int VerifyDatFile(const char* path, DatFacts* facts) {
    DatFacts ignored;
    DatFacts& f = facts ? *facts : ignored;
    AppendReport(kReportVerifying, reinterpret_cast<std::uintptr_t>(path), 1);
    DatIoHandle file = DatIoOpen(path, DatIoMode::Read);
    if (!file) {
        f.error = DatIoLastError();
        f.unopened = true;
        return -1;
    }
    f.judged = DatIoStampOf(file.get());
    const int result = JudgeDatFile(file.get(), f);
    if (f.pointer) {
        AppendReport(kReportPointer, *f.pointer, 0);
        AppendReport(kReportFileChecksum, *f.fileChecksum, 0);
    }
    if (f.calculatedChecksum)
        AppendReport(kReportCalculatedChecksum, *f.calculatedChecksum, 0);
    return result;
}
