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
#ifdef __linux__
#include <sys/xattr.h>
#endif

struct DatIoFile {
    int fd = -1;
    DatIoStamp stamp; // as it was opened
};

namespace {

constexpr std::size_t kCopyChunk = 1 << 20;
// The in-kernel copy goes in pieces this large: a cancel waits for one.
constexpr std::uint64_t kKernelChunk = 8 << 20;

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

// The first count bytes of from into to, each chunk after DatIoNextChunk.
bool CopyRange(int from, int to, std::uint64_t count) {
    if (!DatIoNextChunk())
        return false;
#ifdef __linux__
    // In-kernel copy first; it may refuse (old kernel, other file systems).
    loff_t in = 0;
    std::uint64_t done = 0;
    while (done < count) {
        ssize_t n = copy_file_range(
            from, &in, to, nullptr,
            static_cast<std::size_t>(std::min<std::uint64_t>(count - done, kKernelChunk)), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<std::uint64_t>(n);
        if (done < count && !DatIoNextChunk())
            return false;
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
        if (offset != 0 && !DatIoNextChunk())
            return false;
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

// A new file at path (none may be there: else `*taken`) with the content of
// from (open), flushed; nothing of it is left when that fails.
bool CopyToNew(int from, std::uint64_t size, const std::string& path, bool* taken) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    *taken = fd < 0 && errno == EEXIST;
    if (fd < 0)
        return Failed();
    bool ok = CopyRange(from, fd, size) && (fsync(fd) == 0 || Failed());
    close(fd);
    if (!ok)
        unlink(path.c_str());
    return ok;
}

// The lock of mode on fd, waiting a while for a file busy elsewhere. A
// replace puts a new file in place of the one it held: a lock won after
// waiting must be on the file that path names now, else path is opened
// again.
enum class Locked { Yes, No, Replaced };
Locked LockOpened(int fd, const char* path, bool exclusive) {
    unsigned waited = 0;
    while (flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
        if (errno == EINTR)
            continue;
        if (errno != EWOULDBLOCK) {
            Failed();
            return Locked::No;
        }
        if (!DatIoWaitWhileBusy(&waited)) {
            DatIoSetLastError(kDatIoBusy);
            return Locked::No;
        }
    }
    struct stat now, opened;
    if (waited != 0 && fstat(fd, &opened) == 0 &&
        (stat(path, &now) != 0 || now.st_dev != opened.st_dev || now.st_ino != opened.st_ino))
        return Locked::Replaced;
    return Locked::Yes;
}

DatIoStamp StampOf(const struct stat& st) {
    return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
            static_cast<std::uint64_t>(st.st_size),
            static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

// The original's extended attributes (notes of the client or the desktop,
// access control lists) as far as we may set them: one refused is left out.
void KeepExtendedAttributes(int from, int to) {
#ifdef __linux__
    ssize_t size = flistxattr(from, nullptr, 0);
    std::vector<char> names(size > 0 ? static_cast<std::size_t>(size) : 0), value;
    size = names.empty() ? 0 : flistxattr(from, names.data(), names.size());
    for (ssize_t at = 0; at < size; at += static_cast<ssize_t>(std::strlen(&names[at])) + 1) {
        const char* name = &names[static_cast<std::size_t>(at)];
        ssize_t length = fgetxattr(from, name, nullptr, 0);
        value.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
        length = length < 0 ? -1 : fgetxattr(from, name, value.data(), value.size());
        if (length >= 0)
            (void)!fsetxattr(to, name, value.data(), static_cast<std::size_t>(length), 0);
    }
#else
    (void)from, (void)to;
#endif
}

// The original's owner and group where we may (a user can give a file to
// none but himself, and only to his own groups), its extended attributes,
// and always its mode (last: an access control list set before it sets
// the group bits too).
bool KeepIdentity(int from, int fd, const struct stat& st) {
    if (fchown(fd, st.st_uid, st.st_gid) != 0)
        (void)!fchown(fd, static_cast<uid_t>(-1), st.st_gid);
    KeepExtendedAttributes(from, fd);
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
    const bool forWriting = mode == DatIoMode::Write;
    for (;;) {
        DatIoSetLastError("");
        // Non-blocking so that a FIFO cannot stall us before we see what it
        // is (on a regular file the flag changes nothing).
        int fd = open(path, (forWriting ? O_RDWR : O_RDONLY) | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (fd < 0) {
            Failed();
            return nullptr;
        }
        DatIoHandle file(new DatIoFile{fd, {}});
        struct stat st;
        Locked locked = Locked::Yes;
        if (fstat(fd, &st) != 0)
            Failed();
        else if (S_ISDIR(st.st_mode))
            Failed(EISDIR);
        else if (!S_ISREG(st.st_mode))
            DatIoSetLastError("Not a regular file");
        else if (forWriting && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
            Failed(EACCES);
        else if (mode == DatIoMode::Idle && flock(fd, LOCK_SH | LOCK_NB) != 0)
            DatIoSetLastError(kDatIoBusy);
        else if (mode != DatIoMode::Peek && mode != DatIoMode::Idle &&
                 (locked = LockOpened(fd, path, forWriting)) != Locked::Yes) {
            if (locked == Locked::Replaced)
                continue;
        } else {
            file->stamp = StampOf(st);
            return file;
        }
        return nullptr;
    }
}

// Held exclusively, the file keeps the size it had when it was opened.
bool DatIoSize(DatIoFile* file, std::uint64_t* size) {
    *size = file->stamp.size;
    return true;
}

DatIoStamp DatIoStampOf(DatIoFile* file) {
    return file->stamp;
}

DatIoStamp DatIoStampAt(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? StampOf(st) : DatIoStamp();
}

bool DatIoRead(DatIoFile* file, std::uint64_t offset, void* buffer, std::size_t count) {
    auto* p = static_cast<unsigned char*>(buffer);
    while (count > 0) {
        ssize_t n = pread(file->fd, p, count, static_cast<off_t>(offset));
        DatIoCountRead();
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0) {
            DatIoSetLastError("The file ends before its stated size");
            return false;
        }
        if (n < 0)
            return Failed();
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
    if (!DatIoGoesOn() || !DatIoBackupUsable(target, backup, file->stamp))
        return false;
    DatIoTakeOver(file, path, backup, keep, tail, tailSize);
    int fd = -1;
    const std::string temp =
        DatIoMakeTemp(target, DatIoTemp::New, [&](const std::string& name, bool* taken) {
            if (DatIoFaultAt(DatIoStep::CreateTemp))
                return false;
            fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            *taken = fd < 0 && errno == EEXIST;
            return fd >= 0 || Failed();
        });
    if (temp.empty())
        return false;
    // Locked until it is in place, so that no other replace takes it for a
    // leftover.
    flock(fd, LOCK_EX | LOCK_NB);
    const int held = dup(fd);
    bool ok = CopyRange(file->fd, fd, keep);
    ok = ok && !DatIoFaultAt(DatIoStep::WriteTail) && WriteAll(fd, tail, tailSize);
    // A cancel that comes before the flush spares waiting for the disk.
    ok = ok && DatIoGoesOn() && !DatIoFaultAt(DatIoStep::Flush) && (fsync(fd) == 0 || Failed());
    ok = ok && !DatIoFaultAt(DatIoStep::KeepAttributes) && KeepIdentity(file->fd, fd, st);
    const bool closed = close(fd) == 0 || Failed();
    ok = ok && !DatIoFaultAt(DatIoStep::CloseTemp) && closed && DatIoGoesOn();
    ok = ok && DatIoPutInPlace(temp, target, backup, file->stamp);
    if (!ok)
        unlink(temp.c_str());
    if (held >= 0)
        close(held);
    return ok;
}

DatIoFileState DatIoStat(const std::string& path) {
    DatIoFileState state;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0)
        return state;
    state.exists = true;
    state.readOnly = (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
    state.special = !S_ISREG(st.st_mode);
    state.links = static_cast<unsigned long>(st.st_nlink);
    state.stamp = StampOf(st);
    return state;
}

std::string DatIoTargetPath(const char* path) {
    return TargetPath(path);
}

std::string DatIoFullPath(const char* path) {
    return path;
}

// A copy where the file system has no hard links, or none more for this file
// (or where they are refused: fs.protected_hardlinks). The copy opens only a
// regular file, and never waits to open it.
bool DatIoLinkOrCopy(const std::string& from, const std::string& to, bool* taken) {
    const bool refused = DatIoFaultAt(DatIoStep::Link);
    if (!refused && link(from.c_str(), to.c_str()) == 0)
        return true;
    *taken = !refused && errno == EEXIST;
    if (!refused && errno != EPERM && errno != EXDEV && errno != EMLINK && errno != ENOTSUP &&
        errno != EOPNOTSUPP)
        return Failed();
    const int fd = open(from.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return Failed();
    struct stat st;
    bool ok = fstat(fd, &st) == 0 || Failed();
    if (ok && !S_ISREG(st.st_mode)) {
        DatIoSetLastError("Not a regular file");
        ok = false;
    }
    ok = ok && CopyToNew(fd, static_cast<std::uint64_t>(st.st_size), to, taken);
    close(fd);
    return ok;
}

bool DatIoRename(const std::string& from, const std::string& to, bool*) {
    if (rename(from.c_str(), to.c_str()) != 0)
        return Failed();
    SyncFolderOf(to);
    return true;
}

void DatIoRemove(const std::string& path) {
    unlink(path.c_str());
}
