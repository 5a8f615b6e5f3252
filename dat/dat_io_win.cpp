#include "dat/dat_io.h"

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

struct DatIoFile {
    HANDLE handle = INVALID_HANDLE_VALUE;
    BY_HANDLE_FILE_INFORMATION info; // as it was opened: size, attributes, times
};

namespace {

constexpr DWORD kCopyChunk = 1 << 20;

// Records the system's message for error as the reason; always false.
bool Failed(DWORD error = GetLastError()) {
    DatIoSetLastError(DatIoSystemReason(error));
    return false;
}

bool Seek(HANDLE handle, std::uint64_t offset) {
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(handle, to, nullptr, FILE_BEGIN) || Failed();
}

bool WriteAll(HANDLE handle, const void* data, std::size_t count) {
    const auto* p = static_cast<const unsigned char*>(data);
    while (count > 0) {
        DWORD want = static_cast<DWORD>(std::min<std::size_t>(count, kCopyChunk));
        DWORD written = 0;
        if (!WriteFile(handle, p, want, &written, nullptr) || written == 0)
            return Failed();
        p += written;
        count -= written;
    }
    return true;
}

// The first count bytes of from into to, each chunk after DatIoNextChunk.
bool CopyRange(HANDLE from, HANDLE to, std::uint64_t count) {
    if (!Seek(from, 0) || !DatIoNextChunk())
        return false;
    std::vector<unsigned char> buffer(
        static_cast<std::size_t>(std::min<std::uint64_t>(count, kCopyChunk)));
    for (bool first = true; count > 0; first = false) {
        if (!first && !DatIoNextChunk())
            return false;
        DWORD want = static_cast<DWORD>(std::min<std::uint64_t>(count, kCopyChunk));
        DWORD got = 0;
        DatIoCountRead();
        if (!ReadFile(from, buffer.data(), want, &got, nullptr) || got == 0)
            return Failed(got == 0 ? ERROR_HANDLE_EOF : GetLastError());
        if (!WriteAll(to, buffer.data(), got))
            return false;
        count -= got;
    }
    return true;
}

// The original's access control list, for the new file; none (the folder's,
// as for any new file) where it cannot be read.
std::vector<char> AccessControlOf(HANDLE file) {
    DWORD size = 0;
    GetKernelObjectSecurity(file, DACL_SECURITY_INFORMATION, nullptr, 0, &size);
    std::vector<char> descriptor(size);
    if (size == 0 ||
        !GetKernelObjectSecurity(file, DACL_SECURITY_INFORMATION, descriptor.data(), size, &size))
        descriptor.clear();
    return descriptor;
}

DatIoStamp StampOf(const BY_HANDLE_FILE_INFORMATION& info) {
    DatIoStamp stamp;
    // Some file systems give every file the number 0, or repeat numbers:
    // then two names are never taken for one file.
    if (info.nFileIndexHigh != 0 || info.nFileIndexLow != 0) {
        stamp.device = info.dwVolumeSerialNumber;
        stamp.file = static_cast<std::uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
    }
    stamp.size = static_cast<std::uint64_t>(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
    stamp.modified = static_cast<std::int64_t>(info.ftLastWriteTime.dwHighDateTime) << 32 |
                     info.ftLastWriteTime.dwLowDateTime;
    return stamp;
}

// What is at path, read without opening its content (and so beside any
// holder); a link followed unless `own`. False, with the error, where
// nothing can be read of it.
bool InfoAt(const std::string& path, bool own, BY_HANDLE_FILE_INFORMATION* info, DWORD* error) {
    HANDLE handle =
        CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | (own ? FILE_FLAG_OPEN_REPARSE_POINT : 0), nullptr);
    const bool known = handle != INVALID_HANDLE_VALUE && GetFileInformationByHandle(handle, info);
    *error = GetLastError();
    if (handle != INVALID_HANDLE_VALUE)
        CloseHandle(handle);
    return known;
}

// The whole path, against whose length that of our own names is weighed.
std::string FullPath(const char* path) {
    char full[MAX_PATH];
    const DWORD length = GetFullPathNameA(path, sizeof full, full, nullptr);
    return length > 0 && length < sizeof full ? std::string(full, length) : std::string(path);
}

// The attributes a new file of ours takes from the one it stands for.
DWORD KeptAttributes(DWORD attributes) {
    const DWORD kept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                       FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    return attributes & kept ? attributes & kept : FILE_ATTRIBUTE_NORMAL;
}

// A new file at `to` (none may be there: else `*taken`) with the content,
// times and attributes of the regular file at from, flushed; nothing of it
// is left when that fails. Our own copy rather than CopyFileExA, so that a
// cancel ends it at its next chunk wherever it runs (Wine's never calls its
// progress routine).
bool CopyToNew(const std::string& from, const std::string& to, bool* taken) {
    HANDLE source = CreateFileA(from.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    BY_HANDLE_FILE_INFORMATION info;
    bool ok =
        (source != INVALID_HANDLE_VALUE && GetFileInformationByHandle(source, &info)) || Failed();
    if (ok && GetFileType(source) != FILE_TYPE_DISK) {
        DatIoSetLastError("Not a regular file");
        ok = false;
    }
    HANDLE copy = INVALID_HANDLE_VALUE;
    if (ok) {
        copy = CreateFileA(to.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           KeptAttributes(info.dwFileAttributes), nullptr);
        const DWORD error = GetLastError();
        *taken = copy == INVALID_HANDLE_VALUE &&
                 (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS);
        ok = copy != INVALID_HANDLE_VALUE || Failed(error);
    }
    const bool made = ok;
    ok = ok && CopyRange(source, copy, StampOf(info).size) &&
         (SetFileTime(copy, &info.ftCreationTime, nullptr, &info.ftLastWriteTime) || Failed()) &&
         (FlushFileBuffers(copy) || Failed());
    if (copy != INVALID_HANDLE_VALUE)
        CloseHandle(copy);
    if (source != INVALID_HANDLE_VALUE)
        CloseHandle(source);
    if (!ok && made)
        DeleteFileA(to.c_str());
    return ok;
}

} // namespace

std::string DatIoSystemReason(unsigned long error) {
    char* text = nullptr;
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                       FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, error, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    std::string reason = text ? text : "Error " + std::to_string(error);
    LocalFree(text);
    reason.erase(reason.find_last_not_of(" \r\n") + 1);
    return reason;
}

void DatIoCloser::operator()(DatIoFile* file) const {
    if (file && file->handle != INVALID_HANDLE_VALUE)
        CloseHandle(file->handle);
    delete file;
}

DatIoHandle DatIoOpen(const char* path, DatIoMode mode) {
    DatIoSetLastError("");
    DWORD access = mode == DatIoMode::Write ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ;
    DWORD share = mode == DatIoMode::Write  ? 0
                  : mode == DatIoMode::Read ? FILE_SHARE_READ
                                            : FILE_SHARE_READ | FILE_SHARE_WRITE;
    HANDLE handle = INVALID_HANDLE_VALUE;
    unsigned waited = 0;
    for (;;) {
        handle = CreateFileA(path, access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                             nullptr);
        const DWORD error = GetLastError();
        if (handle != INVALID_HANDLE_VALUE ||
            (mode != DatIoMode::Read && mode != DatIoMode::Write) ||
            (error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION)) {
            if (handle == INVALID_HANDLE_VALUE)
                Failed(error);
            break;
        }
        if (!DatIoWaitWhileBusy(&waited)) {
            DatIoSetLastError(kDatIoBusy);
            break;
        }
    }
    if (handle == INVALID_HANDLE_VALUE)
        return nullptr;
    DatIoHandle file(new DatIoFile{handle, {}});
    const BY_HANDLE_FILE_INFORMATION& info = file->info;
    if (GetFileType(handle) != FILE_TYPE_DISK)
        DatIoSetLastError("Not a regular file");
    else if (!GetFileInformationByHandle(handle, &file->info))
        Failed();
    // The read-only attribute is the user's word even where the system
    // would let us write (Wine run by root, for one).
    else if (mode == DatIoMode::Write && (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY))
        Failed(ERROR_ACCESS_DENIED);
    else
        return file;
    return nullptr;
}

// Held exclusively, the file keeps the size it had when it was opened.
bool DatIoSize(DatIoFile* file, std::uint64_t* size) {
    *size = static_cast<std::uint64_t>(file->info.nFileSizeHigh) << 32 | file->info.nFileSizeLow;
    return true;
}

DatIoStamp DatIoStampOf(DatIoFile* file) {
    return StampOf(file->info);
}

DatIoStamp DatIoStampAt(const std::string& path) {
    BY_HANDLE_FILE_INFORMATION info;
    DWORD error = 0;
    return InfoAt(path, false, &info, &error) ? StampOf(info) : DatIoStamp();
}

bool DatIoRead(DatIoFile* file, std::uint64_t offset, void* buffer, std::size_t count) {
    if (!Seek(file->handle, offset))
        return false;
    auto* p = static_cast<unsigned char*>(buffer);
    while (count > 0) {
        DWORD want = static_cast<DWORD>(std::min<std::size_t>(count, kCopyChunk));
        DWORD got = 0;
        DatIoCountRead();
        if (!ReadFile(file->handle, p, want, &got, nullptr) || got == 0)
            return Failed(got == 0 ? ERROR_HANDLE_EOF : GetLastError());
        p += got;
        count -= got;
    }
    return true;
}

// The new file gets the original's identity (access control list,
// creation time, attributes) and then takes its place in one atomic rename,
// so that no moment leaves the original under another name only.
bool DatIoReplace(DatIoFile* file, const char* path, std::uint64_t keep, const void* tail,
                  std::size_t tailSize, const char* backup) {
    const BY_HANDLE_FILE_INFORMATION& info = file->info;
    const DatIoStamp opened = StampOf(info);
    const std::string target = FullPath(path), backupPath = backup ? FullPath(backup) : "";
    const char* backupName = backup ? backupPath.c_str() : nullptr;
    if (!DatIoGoesOn() || !DatIoBackupUsable(target, backupName, opened))
        return false;
    DatIoTakeOver(file, path, backupName, keep, tail, tailSize);

    // The access control list is copied where we may change it; elsewhere
    // (a share that grants change but not permission changes) the new file
    // keeps the one it inherits from the folder.
    std::vector<char> access = AccessControlOf(file->handle);
    const bool copyAccess = !access.empty();
    bool withAccess = false;
    // The new file is held until it is in place, sharing nothing but its
    // rename and removal, so that no other replace takes it for a leftover.
    HANDLE handle = INVALID_HANDLE_VALUE;
    const std::string temp =
        DatIoMakeTemp(target, DatIoTemp::New, [&](const std::string& name, bool* taken) {
            if (DatIoFaultAt(DatIoStep::CreateTemp))
                return false;
            withAccess = copyAccess;
            // The seam refuses as such a share does (Wine run by root never does).
            if (copyAccess && DatIoFaultAt(DatIoStep::KeepAccess))
                SetLastError(ERROR_ACCESS_DENIED);
            else if (copyAccess)
                handle = CreateFileA(name.c_str(), GENERIC_WRITE | WRITE_DAC, FILE_SHARE_DELETE,
                                     nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (handle == INVALID_HANDLE_VALUE &&
                (!copyAccess || GetLastError() == ERROR_ACCESS_DENIED)) {
                withAccess = false;
                handle = CreateFileA(name.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                                     CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
            }
            const DWORD error = GetLastError();
            *taken = handle == INVALID_HANDLE_VALUE &&
                     (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS);
            return handle != INVALID_HANDLE_VALUE || Failed(error);
        });
    if (temp.empty())
        return false;
    bool ok = CopyRange(file->handle, handle, keep);
    ok = ok && !DatIoFaultAt(DatIoStep::WriteTail) && WriteAll(handle, tail, tailSize);
    // A cancel that comes before the flush spares waiting for the disk.
    ok = ok && DatIoGoesOn() && !DatIoFaultAt(DatIoStep::Flush) &&
         (FlushFileBuffers(handle) || Failed());
    ok = ok && !DatIoFaultAt(DatIoStep::KeepAttributes) &&
         (SetFileTime(handle, &info.ftCreationTime, nullptr, nullptr) || Failed());
    // A refused copy of the list keeps the inherited one.
    if (ok && withAccess)
        SetKernelObjectSecurity(handle, DACL_SECURITY_INFORMATION, access.data());
    ok = ok && !DatIoFaultAt(DatIoStep::CloseTemp) && DatIoGoesOn() &&
         (SetFileAttributesA(temp.c_str(), KeptAttributes(info.dwFileAttributes)) || Failed());
    if (ok) {
        // Windows cannot rename over a file that is open, even by us: let go
        // of it just before. Should anyone open it in that moment, the
        // renames wait a while for it, and then fail leaving the original as
        // it was; should anyone change it, they see that.
        CloseHandle(file->handle);
        file->handle = INVALID_HANDLE_VALUE;
        ok = DatIoPutInPlace(temp, target, backupName, opened);
    }
    if (!ok)
        DeleteFileA(temp.c_str()); // gone once we let go of it
    CloseHandle(handle);
    return ok;
}

DatIoFileState DatIoStat(const std::string& path) {
    DatIoFileState state;
    BY_HANDLE_FILE_INFORMATION info;
    DWORD error = 0;
    if (!InfoAt(path, true, &info, &error)) {
        // Busy or not ours to read, a file is there all the same.
        state.exists = error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND &&
                       error != ERROR_INVALID_NAME;
        return state;
    }
    state.exists = true;
    state.readOnly = (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
    state.special =
        (info.dwFileAttributes &
         (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) != 0;
    state.links = info.nNumberOfLinks;
    state.stamp = StampOf(info);
    return state;
}

std::string DatIoTargetPath(const char* path) {
    return FullPath(path);
}

std::string DatIoFullPath(const char* path) {
    return FullPath(path);
}

// A copy where the file system has no hard links (FAT), or none more for
// this file.
bool DatIoLinkOrCopy(const std::string& from, const std::string& to, bool* taken) {
    const bool refused = DatIoFaultAt(DatIoStep::Link);
    if (!refused && CreateHardLinkA(to.c_str(), from.c_str(), nullptr))
        return true;
    const DWORD error = GetLastError();
    *taken = !refused && (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS);
    if (!refused && error != ERROR_INVALID_FUNCTION && error != ERROR_NOT_SUPPORTED &&
        error != ERROR_NOT_SAME_DEVICE && error != ERROR_TOO_MANY_LINKS)
        return Failed(error);
    return CopyToNew(from, to, taken);
}

bool DatIoRename(const std::string& from, const std::string& to, bool* busy) {
    if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    const DWORD error = GetLastError();
    if (busy)
        *busy = error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
                error == ERROR_ACCESS_DENIED;
    return Failed(error);
}

void DatIoRemove(const std::string& path) {
    DeleteFileA(path.c_str());
}
