#include "job/selection.h"

#include <cstring>
#include <string>

#include "dat/report.h"

int CountSelectedNames(const char* list) {
    if (list[0] == '\0')
        return 0;
    const char* entry = NextSelectedName(list);
    if (entry[0] == '\0')
        return 1;
    int count = 0;
    for (; entry[0] != '\0'; entry = NextSelectedName(entry))
        ++count;
    return count;
}

std::size_t SelectionListLength(const char* list) {
    const char* entry = list;
    if (entry[0] != '\0') {
        entry = NextSelectedName(entry);
        while (entry[0] != '\0')
            entry = NextSelectedName(entry);
    }
    return static_cast<std::size_t>(entry - list) + 1;
}

const char* NextSelectedName(const char* entry) {
    return entry + std::strlen(entry) + 1;
}

bool JoinSelectedPath(char (&out)[kSelectedPathSize], const char* folder, const char* name) {
    const std::size_t folderLength = std::strlen(folder);
    const std::size_t nameLength = std::strlen(name);
    out[0] = '\0';
    // folder + backslash + name + zero; each term checked on its own so that
    // no sum can wrap.
    if (folderLength >= sizeof out || nameLength >= sizeof out ||
        folderLength + 1 + nameLength + 1 > sizeof out)
        return false;
    std::memcpy(out, folder, folderLength);
    out[folderLength] = '\\';
    std::memcpy(out + folderLength + 1, name, nameLength);
    out[folderLength + 1 + nameLength] = '\0';
    return true;
}

namespace {

void ProcessSelectedFile(const char* path, RepairQuestion ask, void* context) {
    DatFacts facts;
    const DatOutcome outcome = ProcessDatFile(path, ask, context, {}, &facts);
    if (outcome != DatOutcome::Ok && outcome != DatOutcome::Repaired && !facts.error.empty())
        AppendReport(kReportReason, reinterpret_cast<std::uintptr_t>(facts.error.c_str()), 1);
}

} // namespace

void WriteRepairReport(const char* list, int isSingle, RepairQuestion ask, void* context,
                       BeforeFile beforeFile) {
    AppendReport(kReportBanner, 0, 0);
    if (list[0] == '\0')
        return;
    if (isSingle) {
        if (!beforeFile || beforeFile(context))
            ProcessSelectedFile(list, ask, context);
        return;
    }
    const char* folder = list;
    for (const char* name = NextSelectedName(folder); name[0] != '\0';
         name = NextSelectedName(name)) {
        if (beforeFile && !beforeFile(context))
            return;
        char path[kSelectedPathSize];
        if (JoinSelectedPath(path, folder, name)) {
            ProcessSelectedFile(path, ask, context);
        } else {
            const std::string whole = std::string(folder) + '\\' + name;
            AppendReport(kReportPathTooLong, reinterpret_cast<std::uintptr_t>(whole.c_str()), 1);
        }
    }
}
