// Checksum against zlib's crc32 over the same buffer, the repair of a large
// file against one plain read of it, and tidewatch-dat's verification of a
// folder, with and without -q, against opening each file and reading what
// verification needs.
#include "dat/dat.h"
#include "dat/dat_io.h"
#include "tools/dat_tool.h"

#include <benchmark/benchmark.h>
#include <zlib.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::vector<unsigned char> RandomBytes(std::size_t count, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<unsigned char> bytes(count);
    for (auto& b : bytes)
        b = static_cast<unsigned char>(random());
    return bytes;
}

void BM_DatChecksum(benchmark::State& state) {
    auto buffer = RandomBytes(static_cast<std::size_t>(state.range(0)), 1);
    for (auto _ : state)
        benchmark::DoNotOptimize(DatChecksum(buffer.data(), buffer.size()));
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_DatChecksum)->Arg(65536);

// The yardstick: DatChecksum is the complement of this value.
void BM_ZlibCrc32(benchmark::State& state) {
    auto buffer = RandomBytes(static_cast<std::size_t>(state.range(0)), 1);
    for (auto _ : state)
        benchmark::DoNotOptimize(crc32(0L, buffer.data(), static_cast<uInt>(buffer.size())));
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ZlibCrc32)->Arg(65536);

// A damaged 64 MiB file whose last all-zero block lies about 1 MiB from its
// start: the repair examines nearly every block of it before finding one.
constexpr std::size_t kLargeSize = 64u << 20;
constexpr std::size_t kZeroAt = 1u << 20;
// Data, zero block, value 1, text and footer.
constexpr off_t kRepairedSize = kZeroAt + 8000 + 4 + 31 + 10;

class LargeFile {
  public:
    LargeFile() {
        folder_ = fs::temp_directory_path() / ("tidewatch-bench-" + std::to_string(getpid()));
        fs::create_directories(folder_);
        master_ = (folder_ / "master.dat").string();
        work_ = (folder_ / "work.dat").string();
        auto bytes = RandomBytes(kLargeSize, 2);
        std::memset(&bytes[kZeroAt], 0, 8000);
        const unsigned char value[] = {1, 0, 0, 0};
        std::memcpy(&bytes[kZeroAt + 8000], value, 4);
        const char text[] = "Some Artist - Some Title.mp3@K1";
        const std::size_t textAt = kLargeSize - 10 - (sizeof text - 1);
        bytes[textAt - 1] = 0x01; // not printable: the text starts after it
        std::memcpy(&bytes[textAt], text, sizeof text - 1);
        const unsigned char footer[] = {'K', 'A', 'Z', 'A', 0x27, 0, 0, 0, 0, 0};
        std::memcpy(&bytes[kLargeSize - 10], footer, 10);
        std::ofstream(master_, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
    ~LargeFile() {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }
    // A fresh damaged copy, on the disk already as a user's file would be,
    // so the repair's own flush does not pay for writing it.
    void Reset() const {
        fs::copy_file(master_, work_, fs::copy_options::overwrite_existing);
        int fd = open(work_.c_str(), O_RDONLY);
        fsync(fd);
        close(fd);
    }
    const std::string& Work() const { return work_; }

  private:
    fs::path folder_;
    std::string master_;
    std::string work_;
};

const LargeFile& Large() {
    static LargeFile file;
    return file;
}

void BM_ReadLarge(benchmark::State& state) {
    const LargeFile& large = Large();
    large.Reset();
    std::vector<unsigned char> buffer(1u << 20);
    for (auto _ : state) {
        DatIoHandle file = DatIoOpen(large.Work().c_str(), DatIoMode::Read);
        std::uint64_t size = 0;
        DatIoSize(file.get(), &size);
        for (std::uint64_t at = 0; at < size; at += buffer.size())
            DatIoRead(file.get(), at, buffer.data(),
                      static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), size - at)));
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetBytesProcessed(state.iterations() * std::int64_t(kLargeSize));
}
BENCHMARK(BM_ReadLarge)->Unit(benchmark::kMillisecond);

void BM_RepairLarge(benchmark::State& state) {
    const LargeFile& large = Large();
    for (auto _ : state) {
        state.PauseTiming();
        large.Reset();
        state.ResumeTiming();
        RepairDatFile(large.Work().c_str());
    }
    // The figures mean nothing unless the repair really happened.
    if (VerifyDatFile(large.Work().c_str()) != 1 || fs::file_size(large.Work()) != kRepairedSize)
        state.SkipWithError("the repaired file does not verify");
    state.SetBytesProcessed(state.iterations() * std::int64_t(kLargeSize));
}
BENCHMARK(BM_RepairLarge)->Unit(benchmark::kMillisecond);

// The second yardstick: cutting the same file down to the size the repair
// leaves. The file system's release of the cut-off pages and blocks is part
// of every repair that shrinks a file, in place or by replacement.
void BM_ShrinkLarge(benchmark::State& state) {
    const LargeFile& large = Large();
    for (auto _ : state) {
        state.PauseTiming();
        large.Reset();
        state.ResumeTiming();
        int fd = open(large.Work().c_str(), O_RDWR);
        if (fd < 0 || ftruncate(fd, kRepairedSize) != 0)
            state.SkipWithError("cannot cut the file");
        close(fd);
    }
}
BENCHMARK(BM_ShrinkLarge)->Unit(benchmark::kMillisecond);

// A folder of 1000 files of 100 KiB, each with a footer over its last
// 4096 bytes; every tenth has a wrong checksum.
constexpr int kFolderFiles = 1000;
constexpr std::size_t kFileSize = 100 * 1024 - 10;
constexpr std::uint32_t kRegion = 4096;

const std::string& Folder() {
    static const std::string folder = [] {
        const fs::path path =
            fs::temp_directory_path() / ("tidewatch-bench-folder-" + std::to_string(getpid()));
        fs::create_directories(path);
        auto bytes = RandomBytes(kFileSize + 10, 3);
        for (int i = 0; i < kFolderFiles; ++i) {
            bytes[i % kFileSize] ^= 1;
            std::uint32_t sum = DatChecksum(&bytes[kFileSize - kRegion], kRegion) + (i % 10 == 0);
            const unsigned char footer[] = {'K',
                                            'A',
                                            'Z',
                                            'A',
                                            kRegion & 0xFF,
                                            kRegion >> 8,
                                            static_cast<unsigned char>(sum),
                                            static_cast<unsigned char>(sum >> 8),
                                            static_cast<unsigned char>(sum >> 16),
                                            static_cast<unsigned char>(sum >> 24)};
            std::memcpy(&bytes[kFileSize], footer, 10);
            std::ofstream(path / ("file" + std::to_string(1000 + i) + ".dat"), std::ios::binary)
                .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        }
        std::atexit([] { fs::remove_all(Folder()); });
        return path.string();
    }();
    return folder;
}

// `tidewatch-dat verify DIR > /dev/null`, and the same with -q.
void VerifyFolder(benchmark::State& state, const char* option) {
    const std::string folder = Folder();
    const char* argv[] = {"tidewatch-dat", "verify", option, folder.c_str()};
    for (auto _ : state) {
        std::ofstream out("/dev/null");
        std::ostringstream err;
        std::istringstream in;
        const DatToolStreams streams{out, err, in, false, false, "\n", '/', nullptr};
        if (RunDatTool(4, argv, streams) != 1 || err.str() != "1000 files: 900 ok, 100 damaged\n")
            state.SkipWithError("the folder was not verified as it should");
    }
}

void BM_VerifyFolder(benchmark::State& state) {
    VerifyFolder(state, "--");
}
BENCHMARK(BM_VerifyFolder)->Unit(benchmark::kMillisecond);

void BM_VerifyFolderQuiet(benchmark::State& state) {
    VerifyFolder(state, "-q");
}
BENCHMARK(BM_VerifyFolderQuiet)->Unit(benchmark::kMillisecond);

// The yardstick: open each file, read its footer and region, close it.
void BM_ReadFolder(benchmark::State& state) {
    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator(Folder()))
        files.push_back(entry.path().string());
    std::vector<unsigned char> buffer(kRegion + 10);
    for (auto _ : state) {
        for (const std::string& file : files) {
            int fd = open(file.c_str(), O_RDONLY);
            const off_t size = lseek(fd, 0, SEEK_END);
            if (pread(fd, &buffer[kRegion], 10, size - 10) != 10 ||
                pread(fd, buffer.data(), kRegion, size - 10 - kRegion) != kRegion)
                state.SkipWithError("cannot read");
            close(fd);
        }
        benchmark::DoNotOptimize(buffer.data());
    }
}
BENCHMARK(BM_ReadFolder)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
