// Helpers for the DAT repairer's tests: the checksum by its definition,
// files in a private folder, captured report lines, a holder that plays
// another program.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tests/dat/samples.h"

#include <gtest/gtest.h>

// One table step per byte, the table built bit by bit from the polynomial.
std::uint32_t BytewiseChecksum(const Bytes& bytes, std::size_t from = 0,
                               std::size_t count = std::size_t(-1));
std::string Hex(std::uint32_t value);
// The footer's fields of a file of at least 10 bytes.
std::uint32_t RegionLength(const Bytes& file);
std::uint32_t StoredChecksum(const Bytes& file);
// 1, 0 or -1, as the file should verify.
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
    return WithFooter(Concat({{0x01}, ToBytes("Song.mp3@K")}), 10);
}
inline Bytes DamagedSong() {
    return WithFooter(Concat({{0x01}, ToBytes("Song.mp3@K")}), 10, 0x1234);
}

// Report lines of the calling thread, collected while the object lives.
class ReportCapture {
  public:
    ReportCapture();
    ~ReportCapture();
    ReportCapture(const ReportCapture&) = delete;
    ReportCapture& operator=(const ReportCapture&) = delete;
    std::vector<std::string> lines;
    void Clear() { lines.clear(); }

  private:
    void* previousSink_;
    void* previousContext_;
};

// A fresh folder per test, removed afterwards (read-only files included).
class DatFileTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    std::string PathOf(const std::string& name) const;
    std::string Write(const std::string& name, const Bytes& content) const;
    static Bytes Read(const std::string& path);
    // Names in the folder other than those written by Write.
    std::vector<std::string> Others() const;
    static void MakeReadOnly(const std::string& path, bool readOnly);
    std::string folder_;
    mutable std::vector<std::string> written_;
};

// Holds a file the way another program would: locked (Windows: opened for
// writing and sharing nothing, or reading only with shareRead; POSIX: an
// exclusive advisory lock on its own open file, which never stops reading).
class OtherHolder {
  public:
    explicit OtherHolder(const std::string& path, bool shareRead = false);
    ~OtherHolder();
    bool Holding() const { return holding_; }

  private:
    bool holding_ = false;
    std::intptr_t handle_ = -1;
};
