// The 10-byte footer at the end of every DAT file: "KAZA", the region
// length L (16 bits) and the stored checksum S (32 bits), little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "dat/dat_io.h"

inline constexpr std::size_t kDatFooterSize = 10;

struct DatFooter {
    std::uint16_t regionLength;
    std::uint32_t storedChecksum;
};

// The file's size and footer, read with the last `want` bytes of the file
// (fewer in a shorter one) into tail; false when it cannot be read or holds
// no magic (a file shorter than a footer has none).
bool ReadDatFooter(DatIoFile* file, std::uint64_t* size, DatFooter* footer,
                   std::vector<unsigned char>& tail, std::size_t want = 10);

struct DatFacts;
// The verdict on an open file, without a report: the footer's numbers and
// the checksum its region has, into facts as they are read (facts->unread
// when a read failed). 1, 0 or -1 as VerifyDatFile gives.
int JudgeDatFile(DatIoFile* file, DatFacts& facts);
