#include "job/repair_job.h"

#include <cderr.h>

#include <cstring>
#include <memory>
#include <string>

#include "dat/report.h"
#include "job/selection.h"
#include "res/resource.h"

namespace {

// Room the job gives the open-file dialog for its list.
constexpr DWORD kSelectionCapacity = 64 * 1024;

constexpr char kFilter[] = "DAT files\0*.dat\0"; // and the array's own zero ends the list
static_assert(sizeof kFilter == 17, "the filter block is 17 bytes");

// The record without its Windows 2000 fields, which every Windows takes.
const DWORD kOpenFileRecordSize = OPENFILENAME_SIZE_VERSION_400A;
static_assert((OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_ALLOWMULTISELECT | OFN_HIDEREADONLY) ==
                  0x81204,
              "the dialog's flags");

struct HeapBlockFree {
    void operator()(char* block) const { HeapFree(GetProcessHeap(), 0, block); }
};
using HeapBlock = std::unique_ptr<char, HeapBlockFree>;

HeapBlock ZeroedBlock(DWORD size) {
    return HeapBlock(static_cast<char*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size)));
}

// The process's current folder before its first open-file dialog. The
// dialog moves it to wherever the user browsed, and a folder in use can be
// neither deleted nor ejected; jobs may overlap, so each puts back this one.
const std::string& HomeFolder() {
    static const std::string home = [] {
        const DWORD size = GetCurrentDirectoryA(0, nullptr);
        std::string folder(size, '\0');
        const DWORD length = GetCurrentDirectoryA(size, &folder[0]);
        folder.resize(length < size ? length : 0);
        return folder;
    }();
    return home;
}

BOOL RealOpenFileDialog(OPENFILENAMEA* request, DWORD* error) {
    if (GetOpenFileNameA(request))
        return TRUE;
    *error = CommDlgExtendedError();
    return FALSE;
}

} // namespace

DWORD WINAPI RepairJob(LPVOID) {
    return RunRepairJob(RealOpenFileDialog);
}

DWORD RunRepairJob(OpenFileDialog openDialog) {
    if (MessageBoxA(nullptr, kRepairWarning, "Warning", MB_YESNO) != IDYES)
        return 0;

    // Two zero bytes beyond the dialog's room: the list always ends, whatever
    // the dialog left behind.
    HeapBlock names = ZeroedBlock(kSelectionCapacity + 2);
    HeapBlock filter = ZeroedBlock(sizeof kFilter);
    if (!names || !filter)
        return 0;
    std::memcpy(filter.get(), kFilter, sizeof kFilter);

    OPENFILENAMEA request;
    std::memset(&request, 0, sizeof request);
    request.lStructSize = kOpenFileRecordSize;
    request.lpstrFilter = filter.get();
    request.lpstrFile = names.get();
    request.nMaxFile = kSelectionCapacity;
    request.lpstrTitle = "Select files to verify";
    request.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_ALLOWMULTISELECT | OFN_HIDEREADONLY;
    DWORD error = 0;
    const std::string& home = HomeFolder();
    const BOOL chosen = openDialog(&request, &error);
    if (!home.empty())
        SetCurrentDirectoryA(home.c_str());
    if (!chosen) {
        if (error == 0)
            return 0; // cancelled
        if (error == FNERR_BUFFERTOOSMALL) {
            // The buffer then holds no list, only the size it would need.
            MessageBoxA(nullptr, kSelectFewer, nullptr, MB_OK | MB_ICONWARNING);
            return 0;
        }
        // Any other failure goes on with whatever list the dialog left.
    }
    // A dialog that cuts the list at the buffer's end instead of failing has
    // filled the very last byte: the list is incomplete, so do nothing.
    if (SelectionListLength(names.get()) >= kSelectionCapacity) {
        MessageBoxA(nullptr, kSelectFewer, nullptr, MB_OK | MB_ICONWARNING);
        return 0;
    }

    if (CountSelectedNames(names.get()) == 0)
        return 0;
    // One full path is followed at once by the empty string. A folder with a
    // single name (which a dialog does not normally return) still counts 1,
    // but its name must be joined to the folder like any other.
    const int isSingle = NextSelectedName(names.get())[0] == '\0' ? 1 : 0;
    SelectionRecord record{isSingle, names.get()};
    DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_REPORT), nullptr, ReportDlgProc,
                    reinterpret_cast<LPARAM>(&record));
    return 0;
}
