// The 10-byte footer at the end of every DAT file: "KAZA", the region
// length L (16 bits) and the stored checksum S (32 bits), little-endian.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr std::size_t kDatFooterSize = 10;
inline constexpr char kDatMagic[] = "KAZA";
inline constexpr std::uint32_t kDatMaxRegion = 0xFFFF;

struct DatFooter {
    std::uint16_t regionLength;
    std::uint32_t storedChecksum;
};

// Reads a footer from its 10 bytes; false when the magic is not there.
bool ParseDatFooter(const unsigned char* bytes, DatFooter* footer);
