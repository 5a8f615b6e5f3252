// What tidewatch-dat needs of the platform's folders (see dat_tool.h).
#include "tools/dat_tool.h"

#include "dat/dat_io.h"

#ifdef _WIN32
#include <windows.h>

PathKind KindOf(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return PathKind::Missing;
    return attributes & FILE_ATTRIBUTE_DIRECTORY ? PathKind::Folder : PathKind::File;
}

bool ReadFolder(const std::string& folder, std::vector<std::pair<std::string, bool>>* entries,
                std::string* reason) {
    WIN32_FIND_DATAA found;
    // "D:" is the current folder of drive D:.
    const char last = folder.back();
    const char* separator = last == '\\' || last == '/' || last == ':' ? "" : "\\";
    HANDLE find = FindFirstFileA((folder + separator + "*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        *reason = DatIoSystemReason(error);
        return error == ERROR_FILE_NOT_FOUND; // an empty drive has not even "."
    }
    do {
        const std::string name = found.cFileName;
        const DWORD a = found.dwFileAttributes;
        // A junction or link to a folder is not followed.
        if (name != "." && name != ".." &&
            !((a & FILE_ATTRIBUTE_DIRECTORY) && (a & FILE_ATTRIBUTE_REPARSE_POINT)))
            entries->push_back({name, (a & FILE_ATTRIBUTE_DIRECTORY) != 0});
    } while (FindNextFileA(find, &found));
    const DWORD error = GetLastError();
    FindClose(find);
    *reason = DatIoSystemReason(error);
    return error == ERROR_NO_MORE_FILES;
}

#else
#include <cerrno>
#include <dirent.h>
#include <sys/stat.h>

PathKind KindOf(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return PathKind::Missing;
    return S_ISDIR(st.st_mode) ? PathKind::Folder : PathKind::File;
}

bool ReadFolder(const std::string& folder, std::vector<std::pair<std::string, bool>>* entries,
                std::string* reason) {
    DIR* dir = opendir(folder.c_str());
    if (!dir) {
        *reason = DatIoSystemReason(static_cast<unsigned long>(errno));
        return false;
    }
    errno = 0;
    for (const dirent* entry; (entry = readdir(dir)); errno = 0) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        // A link to a folder is no folder here, and is not followed.
        struct stat st;
        if (entry->d_type != DT_UNKNOWN)
            entries->push_back({name, entry->d_type == DT_DIR});
        else if (lstat((folder + "/" + name).c_str(), &st) == 0)
            entries->push_back({name, S_ISDIR(st.st_mode)});
    }
    const int error = errno; // readdir's, when it ended the loop early
    closedir(dir);
    *reason = DatIoSystemReason(static_cast<unsigned long>(error));
    return error == 0;
}

#endif
