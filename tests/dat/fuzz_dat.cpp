// libFuzzer target: verification and repair of generated files against the
// byte-wise model. Verification must agree with the model and sum only bytes
// of the file; a repair must leave the file verifying as 1 or byte for byte
// as it was, and exactly as the model says.
#include "dat/dat.h"
#include "dat/report.h"
#include "tests/dat/dat_model.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include <unistd.h>

namespace {

std::string FilePath() {
    static std::string path = [] {
        // A memory file system when there is one: repairs flush to the disk.
        const char* tmp = std::getenv("TMPDIR");
        std::string base = tmp && *tmp ? tmp : access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string folder = base + "/twfuzz.XXXXXX";
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

void Collect(void* context, const char* line) {
    static_cast<std::vector<std::string>*>(context)->push_back(line);
}

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
    if (flags & 2) {
        std::size_t at = body.size() * data[2] / 256;
        body.insert(body.begin() + std::ptrdiff_t(at), 1000 + std::size_t(data[1]) * 8, 0);
    }
    if (!(flags & 1))
        return body;
    std::uint32_t region = (flags & 4) ? std::uint32_t(body.size() & 0xFFFF) : data[1];
    if ((flags & 8) && region <= body.size())
        return WithFooter(body, region);
    return Concat({body, ToBytes("KAZA"), Le16(region), Le32(0x12345678u * data[1])});
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Bytes file = Shape(data, size);
    const std::string path = FilePath();
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));

    std::vector<std::string> lines;
    SetReportSink(Collect, &lines);
    const int verified = VerifyDatFile(path.c_str());
    Check(verified == ModelVerify(file), "verification differs from the model");
    if (verified != -1) {
        Check(lines.size() == 4, "verification wrote other than four lines");
        std::size_t region = file[file.size() - 6] | file[file.size() - 5] << 8;
        region = std::min(region, file.size() - 10);
        const std::string sum = Hex(BytewiseChecksum(&file[file.size() - 10 - region], region));
        Check(lines[3] == "Calculated Checksum: " + sum + "\r\n",
              "checksum over bytes other than the file's");
    }

    lines.clear();
    RepairDatFile(path.c_str());
    std::ifstream in(path, std::ios::binary);
    const Bytes after{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    Check(after == file || ModelVerify(after) == 1, "repair left a file that does not verify");
    const ExpectedRepair expected = ExpectedRepairOf(file);
    Check(after == expected.file, "repair differs from the model");
    Check(lines == expected.lines, "repair report differs from the model");
    SetReportSink(nullptr, nullptr);
    return 0;
}
