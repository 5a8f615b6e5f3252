#include "dat/dat_io.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

struct DatIoFile {
    int fd = -1;
    std::uint64_t size = 0;
};

namespace {

constexpr std::size_t kCopyChunk = 1 << 20;

// Records the reason for a failure; always false.
bool Failed(int error = errno) {
    DatIoSetLastError(std::strerror(error));
    return false;
}

bool WriteAll(int fd, const void* data, std::size_t count) {
    const auto* p = static_cast<const unsigned char*>(data);
    while (count > 0) {
        ssize_t n = write(fd, p, count);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return Failed(n == 0 ? EIO : errno);
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
        return Failed();
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
        if (n <= 0)
            return Failed(n == 0 ? EIO : errno);
        if (!WriteAll(to, buffer.data(), static_cast<std::size_t>(n)))
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
    int fd = open(path.substr(0, path.rfind('/') + 1).append(".").c_str(),
                  O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

// A fresh file at path with the content of from (open), flushed.
bool CopyToNew(int from, std::uint64_t size, const std::string& path) {
    unlink(path.c_str());
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return Failed();
    bool ok = CopyRange(from, fd, size) && (fsync(fd) == 0 || Failed());
    close(fd);
    return ok;
}

// The original's owner and group where we may (a user can give a file to
// none but himself, and only to his own groups), and always its mode.
bool KeepIdentity(int fd, const struct stat& st) {
    if (fchown(fd, st.st_uid, st.st_gid) != 0)
        (void)!fchown(fd, static_cast<uid_t>(-1), st.st_gid);
    return fchmod(fd, st.st_mode & 07777) == 0 || Failed();
}

} // namespace

std::string DatIoSystemReason(unsigned long error) {
    return std::strerror(static_cast<int>(error));
}

void DatIoCloser::operator()(DatIoFile* file) const {
    if (file && file->fd >= 0)
        close(file->fd);
    delete file;
}

DatIoHandle DatIoOpen(const char* path, DatIoMode mode) {
    DatIoSetLastError("");
    const bool forWriting = mode == DatIoMode::Write;
    // Non-blocking so that a FIFO cannot stall us before we see what it is
    // (on a regular file the flag changes nothing).
    int fd = open(path, (forWriting ? O_RDWR : O_RDONLY) | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        Failed();
        return nullptr;
    }
    DatIoHandle file(new DatIoFile{fd});
    struct stat st;
    if (fstat(fd, &st) != 0)
        Failed();
    else if (S_ISDIR(st.st_mode))
        Failed(EISDIR);
    else if (!S_ISREG(st.st_mode))
        DatIoSetLastError("Not a regular file");
    else if (forWriting && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        Failed(EACCES);
    else if (mode != DatIoMode::Peek && flock(fd, LOCK_EX | LOCK_NB) != 0)
        Failed();
    else {
        file->size = static_cast<std::uint64_t>(st.st_size);
        return file;
    }
    return nullptr;
}

// Held exclusively, the file keeps the size it had when it was opened.
bool DatIoSize(DatIoFile* file, std::uint64_t* size) {
    *size = file->size;
    return true;
}

bool DatIoRead(DatIoFile* file, std::uint64_t offset, void* buffer, std::size_t count) {
    auto* p = static_cast<unsigned char*>(buffer);
    while (count > 0) {
        ssize_t n = pread(file->fd, p, count, static_cast<off_t>(offset));
        DatIoCountRead();
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return Failed(n == 0 ? EIO : errno);
        p += n;
        offset += static_cast<std::uint64_t>(n);
        count -= static_cast<std::size_t>(n);
    }
    return true;
}

bool DatIoReplace(DatIoFile* file, const char* path, std::uint64_t keep, const void* tail,
                  std::size_t tailSize, const char* backup) {
    struct stat st;
    if (fstat(file->fd, &st) != 0)
        return Failed();
    const std::string target = TargetPath(path);
    // A temporary file an interrupted repair of this file left is taken over.
    const std::string temp = DatIoTempPath(target, DatIoTemp::New);
    if (DatIoFaultAt(DatIoStep::CreateTemp))
        return false;
    unlink(temp.c_str());
    int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return Failed();
    bool ok = !DatIoFaultAt(DatIoStep::CopyKept) && CopyRange(file->fd, fd, keep);
    ok = ok && !DatIoFaultAt(DatIoStep::WriteTail) && WriteAll(fd, tail, tailSize);
    ok = ok && !DatIoFaultAt(DatIoStep::Flush) && (fsync(fd) == 0 || Failed());
    ok = ok && !DatIoFaultAt(DatIoStep::KeepAttributes) && KeepIdentity(fd, st);
    const bool closed = close(fd) == 0 || Failed();
    ok = ok && !DatIoFaultAt(DatIoStep::CloseTemp) && closed;
    if (!(ok && DatIoPutInPlace(temp, target, backup))) {
        unlink(temp.c_str());
        return false;
    }
    return true;
}

std::string DatIoFileId(const std::string& path, bool* readOnly) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0)
        return std::string();
    *readOnly = (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
    return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
}

// A copy where the file system has no hard links, or none more for this file.
bool DatIoLinkOrCopy(const std::string& from, const std::string& to) {
    const bool refused = DatIoFaultAt(DatIoStep::Link);
    if (!refused && link(from.c_str(), to.c_str()) == 0)
        return true;
    if (!refused && errno != EPERM && errno != EXDEV && errno != EMLINK && errno != ENOTSUP &&
        errno != EOPNOTSUPP)
        return Failed();
    const int fd = open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return Failed();
    struct stat st;
    const bool ok = (fstat(fd, &st) == 0 || Failed()) &&
                    CopyToNew(fd, static_cast<std::uint64_t>(st.st_size), to);
    close(fd);
    return ok;
}

bool DatIoRename(const std::string& from, const std::string& to) {
    if (rename(from.c_str(), to.c_str()) != 0)
        return Failed();
    SyncFolderOf(to);
    return true;
}

void DatIoRemove(const std::string& path) {
    unlink(path.c_str());
}
