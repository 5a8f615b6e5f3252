// libFuzzer target. Verification agrees with the definition and sums only the
// file's bytes; a repair leaves the file as it was, or verifying, made of its
// own beginning, the value 1 and its moved tail, and reports what it wrote.
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

// In memory where there is room: a repair flushes to the disk.
const std::string kPath = std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") +
                          "/twfuzz-" + std::to_string(getpid()) + ".dat";
const struct Cleanup {
    ~Cleanup() { std::remove(kPath.c_str()); }
} kCleanup;

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "fuzz_dat: %s\n", what);
        std::abort();
    }
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
    const std::uint32_t region = (flags & 4) ? std::uint32_t(body.size() & 0xFFFF) : data[1];
    if (!(flags & 1))
        return body;
    if ((flags & 8) && region <= body.size())
        return WithFooter(body, region);
    return Concat({body, Footer(region, 0x12345678u * data[1])});
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Bytes file = Shape(data, size);
    std::ofstream(kPath, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
    std::vector<std::string> lines;
    SetReportSink([](void* c, const char* l) { static_cast<decltype(lines)*>(c)->push_back(l); },
                  &lines);
    const int verified = VerifyDatFile(kPath.c_str());
    Check(verified == ExpectedVerify(file), "verification differs from the definition");
    const std::size_t n = file.size();
    const std::size_t region = n < 10 ? 0 : std::min<std::size_t>(RegionLength(file), n - 10);
    Check(verified == -1 ||
              lines.back() == "Calculated Checksum: " +
                                  Hex(BytewiseChecksum(file, n - 10 - region, region)) + "\r\n",
          "checksum over bytes other than the file's");

    lines.clear();
    RepairDatFile(kPath.c_str());
    std::ifstream in(kPath, std::ios::binary);
    const Bytes after{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (after != file || !lines.empty()) {
        Check(ExpectedVerify(after) == 1, "a repair left a file that does not verify");
        Check(lines.size() == 2 &&
                  lines[0] == "New Pointer: " + Hex(RegionLength(after)) + "\r\n" &&
                  lines[1] == "New Checksum: " + Hex(StoredChecksum(after)) + "\r\n",
              "the report differs from what was written");
        const std::size_t t = RegionLength(after) + 2, w = after.size() - t;
        Check(w >= 4 && t <= n && std::equal(after.begin(), after.begin() + w - 4, file.begin()) &&
                  Bytes(after.begin() + w - 4, after.begin() + w) == Le32(1) &&
                  std::equal(after.begin() + w, after.end() - 6, file.end() - t),
              "a repair is not the file's beginning, the value 1 and its moved tail");
    }
    SetReportSink(nullptr, nullptr);
    return 0;
}
