#include "tests/dat/dat_test_util.h"

#include "dat/report.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

std::uint32_t BytewiseChecksum(const Bytes& bytes, std::size_t from, std::size_t count) {
    std::uint32_t table[256];
    for (std::uint32_t n = 0; n < 256; ++n) {
        table[n] = n;
        for (int k = 0; k < 8; ++k)
            table[n] = (table[n] & 1) ? 0xEDB88320u ^ (table[n] >> 1) : table[n] >> 1;
    }
    std::uint32_t reg = 0xFFFFFFFFu;
    for (std::size_t i = from; i < bytes.size() && i - from < count; ++i)
        reg = table[(reg ^ bytes[i]) & 0xFF] ^ (reg >> 8);
    return reg;
}

std::string Hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%x", value);
    return text;
}

std::uint32_t RegionLength(const Bytes& f) {
    return f[f.size() - 6] | f[f.size() - 5] << 8;
}

std::uint32_t StoredChecksum(const Bytes& f) {
    const std::size_t n = f.size();
    return f[n - 4] | f[n - 3] << 8 | f[n - 2] << 16 | std::uint32_t(f[n - 1]) << 24;
}

int ExpectedVerify(const Bytes& f) {
    const std::size_t n = f.size();
    if (n < 10 || std::memcmp(&f[n - 10], "KAZA", 4) != 0)
        return -1;
    const std::size_t region = RegionLength(f);
    return region <= n - 10 && BytewiseChecksum(f, n - 10 - region, region) == StoredChecksum(f);
}

Bytes WithFooter(const Bytes& data, std::uint32_t region, std::optional<std::uint32_t> stored) {
    const std::uint32_t sum = BytewiseChecksum(data, data.size() - region);
    return Concat({data, Footer(region, stored.value_or(sum))});
}

Bytes Repaired(const Bytes& kept, const Bytes& text) {
    const Bytes body = Concat({Bytes(kept.end() - 4, kept.end()), Le32(1), text});
    return Concat(
        {kept, Le32(1), text, Footer(std::uint32_t(body.size()), BytewiseChecksum(body))});
}

ReportCapture::ReportCapture() {
    ReportSink sink = nullptr;
    SetReportSink(
        [](void* c, const char* line) { static_cast<ReportCapture*>(c)->lines.push_back(line); },
        this, &sink, &previous[1]);
    previous[0] = reinterpret_cast<void*>(sink);
}

ReportCapture::~ReportCapture() {
    SetReportSink(reinterpret_cast<ReportSink>(previous[0]), previous[1]);
}

void DatFileTest::SetUp() {
    static int counter = 0;
    folder_ = (fs::temp_directory_path() /
               ("twdat-" + std::to_string(counter++) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name()))
                  .string();
    std::error_code ignored;
    fs::remove_all(folder_, ignored); // what a run that crashed left
    fs::create_directories(folder_);
}

void DatFileTest::TearDown() {
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(folder_, ignored))
        MakeReadOnly(entry.path().string(), false);
    fs::remove_all(folder_, ignored);
}

std::string DatFileTest::PathOf(const std::string& name) const {
    return (fs::path(folder_) / name).string();
}

std::string DatFileTest::Write(const std::string& name, const Bytes& content) const {
    written_.push_back(name);
    Put(PathOf(name), content);
    return PathOf(name);
}

void Put(const std::string& path, const Bytes& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(content.data()), std::streamsize(content.size()));
    EXPECT_TRUE(out.good()) << "could not write " << path;
}

Bytes DatFileTest::Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Lines DatFileTest::Others() const {
    Lines others;
    for (const auto& entry : fs::directory_iterator(folder_))
        if (std::count(written_.begin(), written_.end(), entry.path().filename().string()) == 0)
            others.push_back(entry.path().filename().string());
    std::sort(others.begin(), others.end());
    return others;
}

void DatFileTest::MakeReadOnly(const std::string& path, bool readOnly) {
    std::error_code ignored;
    fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    readOnly ? fs::perm_options::remove : fs::perm_options::add, ignored);
}

#ifdef _WIN32
OtherHolder::OtherHolder(const std::string& path, bool shareRead, bool reader) {
    HANDLE h =
        CreateFileA(path.c_str(), reader ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE,
                    shareRead || reader ? FILE_SHARE_READ : 0, nullptr, OPEN_EXISTING, 0, nullptr);
    handle_ = h == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<std::intptr_t>(h);
}

OtherHolder::~OtherHolder() {
    if (Holding())
        CloseHandle(reinterpret_cast<HANDLE>(handle_));
}
#else
OtherHolder::OtherHolder(const std::string& path, bool, bool reader) {
    const int fd = open(path.c_str(), reader ? O_RDONLY : O_RDWR);
    if (fd >= 0 && flock(fd, (reader ? LOCK_SH : LOCK_EX) | LOCK_NB) != 0)
        close(fd);
    else
        handle_ = fd;
}

OtherHolder::~OtherHolder() {
    if (Holding())
        close(static_cast<int>(handle_));
}
#endif
