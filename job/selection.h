// The open-file dialog's selection list and the report of a repair job.
// Portable: no windows.h.
//
// The list is a run of zero-terminated strings ended by an empty one: either
// one full path, or a folder followed by two or more file names.
#pragma once

#include <cstddef>

#include "dat/dat.h"

// Size of a joined folder-and-name path, its terminating zero included.
inline constexpr std::size_t kSelectedPathSize = 260;

// 1 for a single full path, n for a folder followed by n names, 0 for an
// empty list (nothing selected).
int CountSelectedNames(const char* list);

// Bytes the list takes, up to and including the zero of its ending empty
// string: 1 for an empty list.
std::size_t SelectionListLength(const char* list);

// The string after `entry` in the list (the ending empty string after the last).
const char* NextSelectedName(const char* entry);

// Writes folder, a backslash and name into `out`. A folder that already ends
// in a backslash (a drive's root) is used as it is, so the result holds two in
// a row. Returns false, and leaves `out` empty, when the path and its zero
// would not fit into kSelectedPathSize bytes.
bool JoinSelectedPath(char (&out)[kSelectedPathSize], const char* folder, const char* name);

// Called with the report's context before each selected file; false ends
// the report there.
using BeforeFile = bool (*)(void* context);

// Writes a whole report through AppendReport: the banner, then every selected
// file processed in order by ProcessDatFile. isSingle is 1 when the list holds
// one full path. A joined path that does not fit gets kReportPathTooLong and
// the next name follows. ask decides each repair (see ProcessDatFile). A
// file's error line (not opened, not read, damaged footer, failed or changed
// repair) is followed by kReportReason when the system gave one.
void WriteRepairReport(const char* list, int isSingle, RepairQuestion ask, void* context,
                       BeforeFile beforeFile = nullptr);
