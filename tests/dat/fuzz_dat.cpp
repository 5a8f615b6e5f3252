// libFuzzer target: verification and repair of generated files. Verification
// must agree with the definition and sum only bytes of the file; a repair
// must leave the file as it was or verifying, report what it wrote, and
// leave a file it has repaired unchanged when repaired again.
#include "dat/dat.h"
#include "dat/report.h"
#include "tests/dat/dat_test_util.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include <unistd.h>

namespace {

std::string FilePath() {
    static const std::string path = [] {
        // A memory file system when there is one: repairs flush to the disk.
        std::string folder =
            std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + "/twfuzz.XXXXXX";
        if (!mkdtemp(&folder[0]))
            std::abort();
        static std::string made = folder;
        std::atexit([] {
            std::remove((made + "/f.dat").c_str());
            rmdir(made.c_str());
        });
        return folder + "/f.dat";
    }();
    return path;
}

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "fuzz_dat: %s\n", what);
        std::abort();
    }
}

Bytes Repair(const Bytes& file, std::vector<std::string>& lines) {
    std::ofstream(FilePath(), std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
    lines.clear();
    RepairDatFile(FilePath().c_str());
    std::ifstream in(FilePath(), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The first byte steers the shape, so that footers, zero blocks and
// matching checksums are common rather than lucky.
Bytes Shape(const std::uint8_t* data, std::size_t size) {
    if (size < 3)
        return Bytes(data, data + size);
    const std::uint8_t flags = data[0];
    Bytes body(data + 3, data + size);
    if (flags & 2)
        body.insert(body.begin() + std::ptrdiff_t(body.size() * data[2] / 256),
                    1000 + std::size_t(data[1]) * 8, 0);
    if (!(flags & 1))
        return body;
    const std::uint32_t region = (flags & 4) ? std::uint32_t(body.size() & 0xFFFF) : data[1];
    if ((flags & 8) && region <= body.size())
        return WithFooter(body, region);
    return Concat({body, Footer(region, 0x12345678u * data[1])});
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Bytes file = Shape(data, size);
    std::vector<std::string> lines;
    SetReportSink(
        [](void* c, const char* line) {
            static_cast<std::vector<std::string>*>(c)->push_back(line);
        },
        &lines);
    std::ofstream(FilePath(), std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
    const int verified = VerifyDatFile(FilePath().c_str());
    Check(verified == ExpectedVerify(file), "verification differs from the definition");
    if (verified != -1) {
        const std::size_t n = file.size(),
                          region = std::min<std::size_t>(RegionLength(file), n - 10);
        Check(lines.size() == 4 &&
                  lines[3] == "Calculated Checksum: " +
                                  Hex(BytewiseChecksum(file, n - 10 - region, region)) + "\r\n",
              "checksum over bytes other than the file's");
    }
    const Bytes after = Repair(file, lines);
    if (after != file || !lines.empty()) {
        Check(ExpectedVerify(after) == 1, "a repair left a file that does not verify");
        Check(lines.size() == 2 &&
                  lines[0] == "New Pointer: " + Hex(RegionLength(after)) + "\r\n" &&
                  lines[1] == "New Checksum: " + Hex(StoredChecksum(after)) + "\r\n",
              "the report differs from what was written");
        // The file's beginning, the value 1 and the file's tail moved behind it.
        const std::size_t t = RegionLength(after) + 2, w = after.size() - t;
        Check(w >= 4 && t <= file.size() &&
                  std::equal(after.begin(), after.begin() + w - 4, file.begin()) &&
                  Bytes(after.begin() + w - 4, after.begin() + w) == Le32(1) &&
                  std::equal(after.begin() + w, after.end() - 6, file.end() - t),
              "a repair is not the file's beginning, the value 1 and its moved tail");
    }
    SetReportSink(nullptr, nullptr);
    return 0;
}
