// DAT files for the tests, laid out byte by byte.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

using Bytes = std::vector<unsigned char>;

inline Bytes ToBytes(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

inline Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

inline Bytes Le16(std::uint32_t value) {
    return {static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8)};
}

inline Bytes Le32(std::uint32_t value) {
    return Concat({Le16(value), Le16(value >> 16)});
}

inline Bytes Footer(std::uint32_t pointer, std::uint32_t checksum) {
    return Concat({ToBytes("KAZA"), Le16(pointer), Le32(checksum)});
}

inline const char kSongText[] = "Some Artist - Some Title.mp3@K1";

// Laid out as a repair leaves it: 64 data bytes, a zero run longer than two
// blocks, the value 1, the text, and a footer whose region (39 bytes: four
// zeros, the value and the text) has the checksum 0x80163648.
inline Bytes FixedPointFile() {
    return Concat(
        {Bytes(64, 0x90), Bytes(2500, 0), Le32(1), ToBytes(kSongText), Footer(0x27, 0x80163648)});
}

// The same with junk between the value and the text, by default 37 bytes
// whose last is not printable: its repair gives FixedPointFile().
inline Bytes JunkFile(Bytes junk = {}) {
    if (junk.empty()) {
        for (int i = 0; i < 36; ++i)
            junk.push_back(static_cast<unsigned char>(0xA0 + i));
        junk.push_back(0x01);
    }
    return Concat({Bytes(64, 0x90), Bytes(2500, 0), Le32(1), junk, ToBytes(kSongText),
                   Footer(0x27, 0x80163648)});
}
