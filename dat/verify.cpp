#include "dat/dat.h"
#include "dat/dat_footer.h"
#include "dat/dat_io.h"
#include "dat/report.h"

#include <cstring>
#include <vector>

bool ParseDatFooter(const unsigned char* bytes, DatFooter* footer) {
    if (std::memcmp(bytes, kDatMagic, 4) != 0)
        return false;
    footer->regionLength = static_cast<std::uint16_t>(bytes[4] | bytes[5] << 8);
    footer->storedChecksum = std::uint32_t(bytes[6]) | std::uint32_t(bytes[7]) << 8 |
                             std::uint32_t(bytes[8]) << 16 | std::uint32_t(bytes[9]) << 24;
    return true;
}

int VerifyDatFile(const char* path) {
    AppendReport(kReportVerifying, reinterpret_cast<std::uintptr_t>(path), 1);

    DatIoFile* file = DatIoOpen(path, DatIoMode::Read);
    std::uint64_t size = 0;
    unsigned char tail[kDatFooterSize];
    DatFooter footer;
    // A file shorter than a footer has no magic to find.
    if (!file || !DatIoSize(file, &size) || size < kDatFooterSize ||
        !DatIoRead(file, size - kDatFooterSize, tail, sizeof tail) ||
        !ParseDatFooter(tail, &footer)) {
        DatIoClose(file);
        return -1;
    }
    AppendReport(kReportPointer, footer.regionLength, 0);
    AppendReport(kReportFileChecksum, footer.storedChecksum, 0);

    // A region longer than the bytes in front of the footer cannot match:
    // only the bytes that exist are summed, and the result is 0 whatever
    // they give.
    std::uint64_t before = size - kDatFooterSize;
    bool fits = footer.regionLength <= before;
    std::size_t length = fits ? footer.regionLength : static_cast<std::size_t>(before);
    std::vector<unsigned char> region(length);
    bool read = DatIoRead(file, before - length, region.data(), length);
    DatIoClose(file);
    if (!read)
        return 0;
    std::uint32_t calculated = DatChecksum(region.data(), region.size());
    AppendReport(kReportCalculatedChecksum, calculated, 0);
    return fits && calculated == footer.storedChecksum ? 1 : 0;
}
