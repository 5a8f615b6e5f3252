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
    char* text = nullptr;
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                       FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, error, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    std::string reason = text ? text : "Error " + std::to_string(error);
    LocalFree(text);
    reason.erase(reason.find_last_not_of(" \r\n") + 1);
    DatIoSetLastError(reason);
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

bool CopyRange(HANDLE from, HANDLE to, std::uint64_t count) {
    if (!Seek(from, 0))
        return false;
    std::vector<unsigned char> buffer(
        static_cast<std::size_t>(std::min<std::uint64_t>(count, kCopyChunk)));
    while (count > 0) {
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

std::string::size_type NameStart(const std::string& path) {
    const std::string::size_type end = path.find_last_of("\\/:");
    return end == std::string::npos ? 0 : end + 1;
}

// The file name salt gives in the folder of path.
std::string Beside(const std::string& path, unsigned salt) {
    const std::string::size_type at = NameStart(path);
    return path.substr(0, at) + DatIoTempName(path.substr(at), salt, true);
}

void Remove(const std::string& path) {
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(path.c_str());
}

// ReplaceFileA keeps the original's identity: attributes, times, access
// control list, owner, named streams and short name. It is always given a
// name to put the original under (the backup, or one of our own), so that
// the original never loses its last name; refused before it touched
// anything (a file system without the support), the plain move does.
bool ReplaceWith(const std::string& temp, const std::string& path, const char* backup) {
    const std::string aside = backup ? backup : Beside(path, 1);
    Remove(aside); // an older backup, or what an interrupted replace left aside
    if (ReplaceFileA(path.c_str(), temp.c_str(), aside.c_str(), REPLACEFILE_WRITE_THROUGH, nullptr,
                     nullptr)) {
        if (!backup)
            Remove(aside);
        return true;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) // the original is aside: back it goes
        MoveFileExA(aside.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH);
    if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT || error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2 ||
        (backup && !CopyFileA(path.c_str(), backup, FALSE)))
        return Failed(error);
    return MoveFileExA(temp.c_str(), path.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ||
           Failed();
}

} // namespace

void DatIoCloser::operator()(DatIoFile* file) const {
    if (file && file->handle != INVALID_HANDLE_VALUE)
        CloseHandle(file->handle);
    delete file;
}

DatIoHandle DatIoOpen(const char* path, DatIoMode mode) {
    DatIoSetLastError("");
    DWORD access = mode == DatIoMode::Write ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ;
    DWORD share = mode == DatIoMode::Peek ? FILE_SHARE_READ | FILE_SHARE_WRITE : 0;
    HANDLE handle =
        CreateFileA(path, access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        Failed();
        return nullptr;
    }
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

bool DatIoReplace(DatIoFile* file, const char* path, std::uint64_t keep, const void* tail,
                  std::size_t tailSize, const char* backup) {
    const BY_HANDLE_FILE_INFORMATION& info = file->info;
    // What an interrupted repair of this file left is taken over.
    const std::string temp = Beside(path, 0);
    if (DatIoFaultAt(DatIoStep::CreateTemp))
        return false;
    Remove(temp);
    HANDLE handle = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return Failed();
    bool ok = !DatIoFaultAt(DatIoStep::CopyKept) && CopyRange(file->handle, handle, keep);
    ok = ok && !DatIoFaultAt(DatIoStep::WriteTail) && WriteAll(handle, tail, tailSize);
    ok = ok && !DatIoFaultAt(DatIoStep::Flush) && (FlushFileBuffers(handle) || Failed());
    // Set here too, for a replace that cannot carry them over.
    ok = ok && !DatIoFaultAt(DatIoStep::KeepAttributes) &&
         (SetFileTime(handle, &info.ftCreationTime, nullptr, nullptr) || Failed());
    const bool closed = CloseHandle(handle) || Failed();
    const DWORD kept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                       FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    ok = ok && !DatIoFaultAt(DatIoStep::CloseTemp) && closed &&
         (SetFileAttributesA(temp.c_str(), (info.dwFileAttributes & kept)
                                               ? info.dwFileAttributes & kept
                                               : FILE_ATTRIBUTE_NORMAL) ||
          Failed());
    if (ok) {
        // Windows cannot replace a file that is open, even by us: let go of
        // it just before. Should anyone open it in that moment, the replace
        // fails and the original stays as it was.
        CloseHandle(file->handle);
        file->handle = INVALID_HANDLE_VALUE;
        ok = !DatIoFaultAt(DatIoStep::Backup) && !DatIoFaultAt(DatIoStep::Replace) &&
             ReplaceWith(temp, path, backup);
    }
    if (!ok) {
        Remove(temp);
        return false;
    }
    return true;
}
