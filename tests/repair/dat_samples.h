// DAT files for the repair tests, laid out byte by byte.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace dat_samples {

using Bytes = std::vector<std::uint8_t>;

// A file as a repair leaves it: 64 data bytes, a zero run longer than two
// 1000-byte blocks, the value 1, the text, and a footer whose region (39
// bytes: four zeros, the value and the text) has the checksum 0x80163648.
inline Bytes Intact() {
    Bytes bytes(64, 0x11);
    bytes.insert(bytes.end(), 2500, 0x00);
    const std::uint8_t one[] = {0x01, 0x00, 0x00, 0x00};
    bytes.insert(bytes.end(), one, one + 4);
    const std::string text = "Some Artist - Some Title.mp3@K1";
    bytes.insert(bytes.end(), text.begin(), text.end());
    const std::uint8_t footer[] = {'K', 'A', 'Z', 'A', 0x27, 0x00, 0x48, 0x36, 0x16, 0x80};
    bytes.insert(bytes.end(), footer, footer + 10);
    return bytes;
}

// The intact file with 37 junk bytes (the last one not printable) between
// the value 1 and the text; its footer no longer matches. A repair turns it
// back into Intact().
inline Bytes Damaged() {
    Bytes bytes = Intact();
    const std::size_t textStart = 64 + 2500 + 4;
    Bytes junk;
    for (int i = 0; i < 37; ++i)
        junk.push_back(static_cast<std::uint8_t>(0x80 + i * 3));
    junk.back() = 0x05;
    bytes.insert(bytes.begin() + textStart, junk.begin(), junk.end());
    return bytes;
}

inline bool WriteFile(const std::string& path, const Bytes& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

inline Bytes ReadFile(const std::string& path) {
    Bytes bytes;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return bytes;
    std::uint8_t block[4096];
    std::size_t got;
    while ((got = std::fread(block, 1, sizeof block, file)) > 0)
        bytes.insert(bytes.end(), block, block + got);
    std::fclose(file);
    return bytes;
}

} // namespace dat_samples
