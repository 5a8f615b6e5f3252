#include "dat/dat_io.h"

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

struct DatIoFile {
    HANDLE handle = INVALID_HANDLE_VALUE;
};

namespace {

constexpr DWORD kCopyChunk = 1 << 20;

bool Seek(HANDLE handle, std::uint64_t offset) {
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(handle, to, nullptr, FILE_BEGIN) != 0;
}

bool WriteAll(HANDLE handle, const void* data, std::size_t count) {
    const auto* p = static_cast<const unsigned char*>(data);
    while (count > 0) {
        DWORD want = static_cast<DWORD>(std::min<std::size_t>(count, kCopyChunk));
        DWORD written = 0;
        if (!WriteFile(handle, p, want, &written, nullptr) || written == 0)
            return false;
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
        if (!ReadFile(from, buffer.data(), want, &got, nullptr) || got == 0 ||
            !WriteAll(to, buffer.data(), got))
            return false;
        count -= got;
    }
    return true;
}

// A fresh name next to the original; CREATE_NEW makes sure we own it.
HANDLE CreateTemp(const std::string& path, std::string* temp) {
    static LONG counter = 0;
    for (int attempt = 0; attempt < 16; ++attempt) {
        *temp = path + kDatIoTempMarker + std::to_string(GetCurrentProcessId()) + "-" +
                std::to_string(InterlockedIncrement(&counter));
        HANDLE handle = CreateFileA(temp->c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE)
            return handle;
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS)
            break;
    }
    return INVALID_HANDLE_VALUE;
}

} // namespace

DatIoFile* DatIoOpen(const char* path, DatIoMode mode) {
    if (!path)
        return nullptr;
    DWORD access = mode == DatIoMode::Write ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ;
    DWORD share = mode == DatIoMode::Peek ? FILE_SHARE_READ | FILE_SHARE_WRITE : 0;
    HANDLE handle =
        CreateFileA(path, access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return nullptr;
    // The read-only attribute is the user's word even where the system
    // would let us write (Wine run by root, for one).
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &info) ||
        (mode == DatIoMode::Write && (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY))) {
        CloseHandle(handle);
        return nullptr;
    }
    return new DatIoFile{handle};
}

void DatIoClose(DatIoFile* file) {
    if (!file)
        return;
    if (file->handle != INVALID_HANDLE_VALUE)
        CloseHandle(file->handle);
    delete file;
}

bool DatIoSize(DatIoFile* file, std::uint64_t* size) {
    LARGE_INTEGER value;
    if (!file || file->handle == INVALID_HANDLE_VALUE || !GetFileSizeEx(file->handle, &value))
        return false;
    *size = static_cast<std::uint64_t>(value.QuadPart);
    return true;
}

bool DatIoRead(DatIoFile* file, std::uint64_t offset, void* buffer, std::size_t count) {
    if (!file || file->handle == INVALID_HANDLE_VALUE || !Seek(file->handle, offset))
        return false;
    auto* p = static_cast<unsigned char*>(buffer);
    while (count > 0) {
        DWORD want = static_cast<DWORD>(std::min<std::size_t>(count, kCopyChunk));
        DWORD got = 0;
        DatIoCountRead();
        if (!ReadFile(file->handle, p, want, &got, nullptr) || got == 0)
            return false;
        p += got;
        count -= got;
    }
    return true;
}

bool DatIoReplace(DatIoFile* file, const char* path, std::uint64_t keep, const void* tail,
                  std::size_t tailSize) {
    if (!file || file->handle == INVALID_HANDLE_VALUE || !path)
        return false;
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return false;
    if (DatIoFaultAt(DatIoStep::CreateTemp))
        return false;
    std::string temp;
    HANDLE handle = CreateTemp(path, &temp);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    bool ok = !DatIoFaultAt(DatIoStep::CopyKept) && CopyRange(file->handle, handle, keep);
    ok = ok && !DatIoFaultAt(DatIoStep::WriteTail) && WriteAll(handle, tail, tailSize);
    ok = ok && !DatIoFaultAt(DatIoStep::Flush) && FlushFileBuffers(handle);
    const DWORD kept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                       FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    bool closed = CloseHandle(handle) != 0;
    ok = ok && !DatIoFaultAt(DatIoStep::KeepAttributes) &&
         SetFileAttributesA(temp.c_str(),
                            (attributes & kept) ? attributes & kept : FILE_ATTRIBUTE_NORMAL);
    ok = ok && !DatIoFaultAt(DatIoStep::CloseTemp) && closed;
    if (ok) {
        // Windows cannot replace a file that is open, even by us: let go of
        // it just before the move. Should anyone open it in that moment,
        // the move fails and the original stays as it was.
        CloseHandle(file->handle);
        file->handle = INVALID_HANDLE_VALUE;
        ok = !DatIoFaultAt(DatIoStep::Replace) &&
             MoveFileExA(temp.c_str(), path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    }
    if (!ok) {
        SetFileAttributesA(temp.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(temp.c_str());
        return false;
    }
    return true;
}
