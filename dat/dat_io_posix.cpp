#include "dat/dat_io.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

struct DatIoFile {
    int fd = -1;
};

namespace {

constexpr std::size_t kCopyChunk = 1 << 20;

bool WriteAll(int fd, const void* data, std::size_t count) {
    const auto* p = static_cast<const unsigned char*>(data);
    while (count > 0) {
        ssize_t n = write(fd, p, count);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        count -= static_cast<std::size_t>(n);
    }
    return true;
}

bool CopyRange(int from, int to, std::uint64_t count) {
#ifdef __linux__
    // In-kernel copy first; it may refuse (old kernel, other file systems).
    loff_t in = 0;
    std::uint64_t done = 0;
    while (done < count) {
        ssize_t n = copy_file_range(
            from, &in, to, nullptr,
            static_cast<std::size_t>(std::min<std::uint64_t>(count - done, std::uint64_t(1) << 30)),
            0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<std::uint64_t>(n);
    }
    if (done == count)
        return true;
    if (done != 0 && (ftruncate(to, 0) != 0 || lseek(to, 0, SEEK_SET) != 0))
        return false;
#endif
    std::vector<unsigned char> buffer(
        static_cast<std::size_t>(std::min<std::uint64_t>(count, kCopyChunk)));
    std::uint64_t offset = 0;
    while (offset < count) {
        std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(count - offset, kCopyChunk));
        ssize_t n = pread(from, buffer.data(), want, static_cast<off_t>(offset));
        DatIoCountRead();
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || !WriteAll(to, buffer.data(), static_cast<std::size_t>(n)))
            return false;
        offset += static_cast<std::uint64_t>(n);
    }
    return true;
}

// The real file behind a symbolic link, so the link survives the repair.
std::string TargetPath(const char* path) {
    char resolved[PATH_MAX];
    if (realpath(path, resolved))
        return resolved;
    return path;
}

void SyncFolderOf(const std::string& path) {
    std::string::size_type slash = path.rfind('/');
    std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

} // namespace

DatIoFile* DatIoOpen(const char* path, DatIoMode mode) {
    if (!path)
        return nullptr;
    bool forWriting = mode == DatIoMode::Write;
    // Non-blocking so that a FIFO cannot stall us before we see what it is.
    int fd = open(path, (forWriting ? O_RDWR : O_RDONLY) | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return nullptr;
    struct stat st;
    bool usable = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                  (!forWriting || (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0) &&
                  (mode == DatIoMode::Peek || flock(fd, LOCK_EX | LOCK_NB) == 0);
    if (!usable) {
        close(fd);
        return nullptr;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return new DatIoFile{fd};
}

void DatIoClose(DatIoFile* file) {
    if (!file)
        return;
    if (file->fd >= 0)
        close(file->fd);
    delete file;
}

bool DatIoSize(DatIoFile* file, std::uint64_t* size) {
    struct stat st;
    if (!file || file->fd < 0 || fstat(file->fd, &st) != 0 || st.st_size < 0)
        return false;
    *size = static_cast<std::uint64_t>(st.st_size);
    return true;
}

bool DatIoRead(DatIoFile* file, std::uint64_t offset, void* buffer, std::size_t count) {
    if (!file || file->fd < 0)
        return false;
    auto* p = static_cast<unsigned char*>(buffer);
    while (count > 0) {
        ssize_t n = pread(file->fd, p, count, static_cast<off_t>(offset));
        DatIoCountRead();
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        offset += static_cast<std::uint64_t>(n);
        count -= static_cast<std::size_t>(n);
    }
    return true;
}

bool DatIoReplace(DatIoFile* file, const char* path, std::uint64_t keep, const void* tail,
                  std::size_t tailSize) {
    struct stat st;
    if (!file || file->fd < 0 || !path || fstat(file->fd, &st) != 0)
        return false;
    std::string target = TargetPath(path);
    std::string temp = target + kDatIoTempMarker + "XXXXXX";
    if (DatIoFaultAt(DatIoStep::CreateTemp))
        return false;
    int fd = mkostemp(&temp[0], O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = !DatIoFaultAt(DatIoStep::CopyKept) && CopyRange(file->fd, fd, keep);
    ok = ok && !DatIoFaultAt(DatIoStep::WriteTail) && WriteAll(fd, tail, tailSize);
    ok = ok && !DatIoFaultAt(DatIoStep::Flush) && fsync(fd) == 0;
    ok = ok && !DatIoFaultAt(DatIoStep::KeepAttributes) && fchmod(fd, st.st_mode & 07777) == 0;
    // The owner is kept when we may (running as root); otherwise it is ours anyway.
    if (ok && geteuid() == 0 && fchown(fd, st.st_uid, st.st_gid) != 0)
        ok = false;
    bool closed = close(fd) == 0;
    ok = ok && !DatIoFaultAt(DatIoStep::CloseTemp) && closed;
    ok = ok && !DatIoFaultAt(DatIoStep::Replace) && rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) {
        unlink(temp.c_str());
        return false;
    }
    SyncFolderOf(target);
    return true;
}
