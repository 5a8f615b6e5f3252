// Helpers for the DAT repairer's tests: files in a private folder, captured
// report lines, a holder that plays another program.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/dat/dat_model.h"

#include <gtest/gtest.h>

// A short file whose region is its trailer; the damaged one has a wrong
// checksum, and its repair appends the trailer.
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
    // Temporary files of a repair left in the folder.
    std::vector<std::string> TempFiles() const;
    static void MakeReadOnly(const std::string& path, bool readOnly);
    std::string folder_;
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
