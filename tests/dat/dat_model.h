// A model of DAT verification and repair written straight from the
// byte-wise description (one byte per step, the rewrite as a sequence of
// writes), independent of the buffered code under test. Used by the unit
// tests and the fuzz target.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

using Bytes = std::vector<unsigned char>;

Bytes ToBytes(const std::string& text);
Bytes Concat(std::initializer_list<Bytes> parts);
Bytes Zeros(std::size_t count);
Bytes Le16(std::uint32_t value);
Bytes Le32(std::uint32_t value);

// The checksum by its definition: one table step per byte, the table built
// bit by bit from the polynomial.
std::uint32_t BytewiseChecksum(const unsigned char* bytes, std::size_t count,
                               std::uint32_t reg = 0xFFFFFFFFu);

// data followed by a footer whose region is the last `region` bytes of data
// and whose checksum matches it, or `storedChecksum` when given.
Bytes WithFooter(const Bytes& data, std::uint32_t region,
                 std::optional<std::uint32_t> storedChecksum = std::nullopt);

// Verify: 1, 0 or -1 as the file would verify. Repair: the file
// as the byte-wise rewrite leaves it, or nothing when a scan reaches the
// first byte or a file of 2000 bytes or more has no all-zero block.
int ModelVerify(const Bytes& file);
struct ModelRepair {
    Bytes file;
    std::uint32_t newPointer;
    std::uint32_t newChecksum;
};
std::optional<ModelRepair> ModelRepairOf(const Bytes& file);

std::string Hex(std::uint32_t value);

// What a sound repair of `file` leaves: the rewrite when it yields a file
// that verifies as 1, with its two report lines; otherwise the file as it
// was and no lines.
struct ExpectedRepair {
    Bytes file;
    std::vector<std::string> lines;
};
ExpectedRepair ExpectedRepairOf(const Bytes& file);
