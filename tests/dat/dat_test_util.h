// Helpers for the DAT repairer's tests: files laid out byte by byte, the
// checksum by its definition, files in a private folder, captured report
// lines, a holder that plays another program.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

using Bytes = std::vector<unsigned char>;
using Lines = std::vector<std::string>;

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
    if (junk.empty())
        for (int i = 0; i < 37; ++i)
            junk.push_back(static_cast<unsigned char>(i < 36 ? 0xA0 + i : 0x01));
    return Concat({Bytes(64, 0x90), Bytes(2500, 0), Le32(1), junk, ToBytes(kSongText),
                   Footer(0x27, 0x80163648)});
}

// One table step per byte, the table built bit by bit from the polynomial.
std::uint32_t BytewiseChecksum(const Bytes& bytes, std::size_t from = 0,
                               std::size_t count = std::size_t(-1));
std::string Hex(std::uint32_t value);
// The footer's fields of a file of at least 10 bytes, and how it should verify.
std::uint32_t RegionLength(const Bytes& file);
std::uint32_t StoredChecksum(const Bytes& file);
int ExpectedVerify(const Bytes& file);
// data and a footer whose region is its last `region` bytes, with their
// checksum or `stored`.
Bytes WithFooter(const Bytes& data, std::uint32_t region,
                 std::optional<std::uint32_t> stored = std::nullopt);
// What a repair leaves: `kept` (its last four bytes start the region), the
// value 1, the trailer's text and a fresh footer.
Bytes Repaired(const Bytes& kept, const Bytes& text);
// A short file whose region is its trailer, and the same with a wrong checksum.
inline Bytes GoodSong() {
    return WithFooter(ToBytes("\x01Song.mp3@K"), 10);
}
inline Bytes DamagedSong() {
    return WithFooter(ToBytes("\x01Song.mp3@K"), 10, 0x1234);
}

// Writes content at path, in place when a file is there.
void Put(const std::string& path, const Bytes& content);

// Report lines of the calling thread, collected while the object lives.
struct ReportCapture {
    ReportCapture();
    ~ReportCapture();
    void Clear() { lines.clear(); }
    Lines lines;
    void* previous[2];
};

// A fresh folder per test, removed afterwards (read-only files included).
class DatFileTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    std::string PathOf(const std::string& name) const;
    std::string Write(const std::string& name, const Bytes& content) const;
    static Bytes Read(const std::string& path);
    // Names in the folder other than those written by Write, sorted.
    Lines Others() const;
    static void MakeReadOnly(const std::string& path, bool readOnly);
    std::string folder_;
    mutable Lines written_;
};

// Holds a file the way another program would: locked (Windows: opened for
// writing and sharing nothing, or reading only with shareRead; POSIX: an
// exclusive advisory lock on its own open file, which never stops reading),
// or as a reader (opened for reading, sharing reading; a shared lock).
class OtherHolder {
  public:
    explicit OtherHolder(const std::string& path, bool shareRead = false, bool reader = false);
    ~OtherHolder();
    bool Holding() const { return handle_ != -1; }

  private:
    std::intptr_t handle_ = -1;
};
