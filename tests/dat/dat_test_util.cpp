#include "tests/dat/dat_test_util.h"

#include "dat/dat_io.h"
#include "dat/report.h"

#include <algorithm>
#include <atomic>
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
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(content.data()), std::streamsize(content.size()));
    EXPECT_TRUE(out.good()) << "could not write " << path;
    return path;
}

Bytes DatFileTest::Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> DatFileTest::TempFiles() const {
    std::vector<std::string> temps;
    for (const auto& entry : fs::directory_iterator(folder_)) {
        std::string name = entry.path().filename().string();
        if (name.find(kDatIoTempMarker) != std::string::npos)
            temps.push_back(name);
    }
    return temps;
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
