#include "tests/dat/dat_test_util.h"

#include "dat/dat_io.h"
#include "dat/report.h"

#include <algorithm>
#include <atomic>
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
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
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
    return region <= n - 10 && BytewiseChecksum(f, n - 10 - region, region) == StoredChecksum(f)
               ? 1
               : 0;
}

Bytes WithFooter(const Bytes& data, std::uint32_t region, std::optional<std::uint32_t> stored) {
    return Concat(
        {data, Footer(region, stored.value_or(BytewiseChecksum(data, data.size() - region)))});
}

Bytes Repaired(const Bytes& kept, const Bytes& text) {
    const Bytes body = Concat({Bytes(kept.end() - 4, kept.end()), Le32(1), text});
    return Concat(
        {kept, Le32(1), text, Footer(std::uint32_t(body.size()), BytewiseChecksum(body))});
}

namespace {

void Collect(void* context, const char* line) {
    static_cast<ReportCapture*>(context)->lines.push_back(line);
}

} // namespace

ReportCapture::ReportCapture() {
    ReportSink previous = nullptr;
    SetReportSink(Collect, this, &previous, &previousContext_);
    previousSink_ = reinterpret_cast<void*>(previous);
}

ReportCapture::~ReportCapture() {
    SetReportSink(reinterpret_cast<ReportSink>(previousSink_), previousContext_);
}

void DatFileTest::SetUp() {
    static std::atomic<int> counter{0};
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    for (char& c : name)
        if (c == '/')
            c = '_';
#ifdef _WIN32
    const long pid = static_cast<long>(GetCurrentProcessId());
#else
    const long pid = static_cast<long>(getpid());
#endif
    fs::path folder = fs::temp_directory_path() / ("twdat-" + std::to_string(pid) + "-" +
                                                   std::to_string(counter++) + "-" + name);
    fs::create_directories(folder);
    folder_ = folder.string();
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
    std::string path = PathOf(name);
    written_.push_back(name);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(content.data()), std::streamsize(content.size()));
    EXPECT_TRUE(out.good()) << "could not write " << path;
    return path;
}

Bytes DatFileTest::Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> DatFileTest::Others() const {
    std::vector<std::string> others;
    for (const auto& entry : fs::directory_iterator(folder_)) {
        std::string name = entry.path().filename().string();
        if (std::find(written_.begin(), written_.end(), name) == written_.end())
            others.push_back(name);
    }
    std::sort(others.begin(), others.end());
    return others;
}

void DatFileTest::MakeReadOnly(const std::string& path, bool readOnly) {
    std::error_code ignored;
    const auto write = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
    fs::permissions(path, write, readOnly ? fs::perm_options::remove : fs::perm_options::add,
                    ignored);
}

OtherHolder::OtherHolder(const std::string& path, bool shareRead) {
#ifdef _WIN32
    HANDLE h =
        CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, shareRead ? FILE_SHARE_READ : 0,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    holding_ = h != INVALID_HANDLE_VALUE;
    handle_ = reinterpret_cast<std::intptr_t>(h);
#else
    (void)shareRead;
    int fd = open(path.c_str(), O_RDWR);
    holding_ = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0;
    handle_ = fd;
#endif
}

OtherHolder::~OtherHolder() {
#ifdef _WIN32
    if (holding_)
        CloseHandle(reinterpret_cast<HANDLE>(handle_));
#else
    if (handle_ >= 0)
        close(static_cast<int>(handle_));
#endif
}
