// File access of the DAT repairer. A file is held exclusively while it is
// open (Windows: CreateFileA sharing nothing; POSIX: open plus an exclusive
// advisory lock), and a repair replaces a file's content crash-safely: the
// new content goes to a temporary file in the same folder, is flushed, is
// given the file's identity (Windows: attributes, creation time, access
// control list; POSIX: mode, owner and group), and then takes the
// original's place in one atomic rename (Windows: MoveFileExA).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

struct DatIoFile;
struct DatIoCloser {
    void operator()(DatIoFile* file) const;
};
// An open file, closed when its owner lets go of it.
using DatIoHandle = std::unique_ptr<DatIoFile, DatIoCloser>;

enum class DatIoMode {
    Read,  // reading, held exclusively
    Write, // reading and replacing, held exclusively
    Peek,  // reading only, beside whoever else holds the file
};

// Opens an existing regular file; Read and Write hold it exclusively. Write
// also demands that the file may be replaced: a read-only file is refused
// (on POSIX a file without any write permission bit counts as read-only,
// whoever runs us). Null on failure, with the reason in DatIoLastError().
DatIoHandle DatIoOpen(const char* path, DatIoMode mode);

bool DatIoSize(DatIoFile* file, std::uint64_t* size);

// Reads exactly count bytes at offset; false on an error or a short read.
bool DatIoRead(DatIoFile* file, std::uint64_t offset, void* buffer, std::size_t count);

// Gives the file opened for writing from path the content: its own first
// keep bytes, then the tail bytes. Either the whole new content is in place
// afterwards (true) or the original is untouched and no temporary file is
// left (false, with the reason in DatIoLastError()). With a backup path, the
// original content is kept there, replacing an older backup unless that is
// read-only; a failure leaves the older backup as it was. Ended at any step,
// the file holds the original or the new content, the backup is whole, and
// the next replace of the file takes over what is left. The handle may be
// released inside (Windows cannot replace a file it holds open).
bool DatIoReplace(DatIoFile* file, const char* path, std::uint64_t keep, const void* tail,
                  std::size_t tailSize, const char* backup = nullptr);

// The ways out of the process call this before they end it: it keeps new
// replaces from starting and waits up to timeoutMs for those in progress, so
// that no file is left between its temporary copy and its place. False when
// one was still running at the time-out. DatIoAllowReplaces undoes it.
bool DatIoHoldReplaces(unsigned timeoutMs);
void DatIoAllowReplaces();
// Brackets one replace for DatIoHoldReplaces; waits while replaces are held.
struct DatIoReplaceScope {
    DatIoReplaceScope();
    ~DatIoReplaceScope();
    DatIoReplaceScope(const DatIoReplaceScope&) = delete;
    DatIoReplaceScope& operator=(const DatIoReplaceScope&) = delete;
};

// Why the calling thread's last open, read or replace failed, in the
// system's words; empty after success.
const std::string& DatIoLastError();
void DatIoSetLastError(const std::string& reason);
// The system's words for an error number (errno; Windows: GetLastError()).
std::string DatIoSystemReason(unsigned long error);

// The steps of DatIoReplace in their order. Tests make each fail in turn.
enum class DatIoStep {
    CreateTemp,     // create the temporary file next to the original
    CopyKept,       // copy the kept bytes of the original
    WriteTail,      // write the new tail
    Flush,          // flush the temporary file to the disk
    KeepAttributes, // give it the original's mode and owner, or attributes and times
    CloseTemp,      // close it
    KeepOldBackup,  // link the older backup aside, to put it back should the rest fail
    Backup,         // link (or copy) the original beside the backup
    RenameBackup,   // rename that over the older backup
    Replace,        // rename the temporary file over the original
    Link,           // any hard link: failing it takes the copy a file system without links needs
    Count
};

// Called before each step on the calling thread; returning true makes the
// step fail as a real failure would. Null removes the hook.
using DatIoFaultHook = bool (*)(void* context, DatIoStep step);
void SetDatIoFaultHook(DatIoFaultHook hook, void* context);

// Number of read calls made to the system by this thread so far.
std::uint64_t DatIoReadCalls();

// For the backends: whether the hook wants step to fail (then the step's
// failure is the reason); count one read.
bool DatIoFaultAt(DatIoStep step);
void DatIoCountRead();

// The files of ours beside a file during its replace.
enum class DatIoTemp {
    New,       // the new content, beside the file
    Original,  // the original linked (or copied) beside the backup, then renamed to it
    OldBackup, // the older backup, linked beside itself until the replace is done
};

// Where a file of this kind goes for the file at path: beside it, "~" and
// eight hex digits of a hash of its name (letter case folded on Windows),
// the same for each replace of the file, so that one an interrupted replace
// left is found again. The kinds never share a name with each other or with
// the file. Shortened only where the path would otherwise be longer than
// the platform takes, never below the length of the file's own name.
std::string DatIoTempPath(const std::string& path, DatIoTemp kind);

// The last steps of a replace, shared by the backends: the closed temporary
// file at temp takes path's place, and with a backup path the original is
// kept there. They need of the backend: the identity of the file at a path
// (empty when there is none; a link is not followed) and whether it is
// read-only; a hard link, or a flushed copy where the file system has
// none; an atomic rename over any file at `to`, made durable; removal.
bool DatIoPutInPlace(const std::string& temp, const std::string& path, const char* backup);
std::string DatIoFileId(const std::string& path, bool* readOnly);
bool DatIoLinkOrCopy(const std::string& from, const std::string& to);
bool DatIoRename(const std::string& from, const std::string& to);
void DatIoRemove(const std::string& path);
