// File access of the DAT repairer. A file is held exclusively while it is
// open (Windows: CreateFileA sharing nothing; POSIX: open plus an exclusive
// advisory lock), and a repair replaces a file's content crash-safely: the
// new content goes to a temporary file in the same folder, is flushed, and
// then takes the original's place in one atomic step that keeps the file's
// identity (Windows: ReplaceFileA; POSIX: rename, mode, owner and group).
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
// original content is kept there, made in the same step as the replace and
// replacing an older backup. The handle may be released inside (Windows
// cannot replace a file it holds open).
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

// The steps of DatIoReplace in their order. Tests make each fail in turn.
enum class DatIoStep {
    CreateTemp,     // create the temporary file next to the original
    CopyKept,       // copy the kept bytes of the original
    WriteTail,      // write the new tail
    Flush,          // flush the temporary file to the disk
    KeepAttributes, // give it the original's mode and owner, or attributes and times
    CloseTemp,      // close it
    Backup,         // POSIX: link (or copy) the original to the backup
    Replace,        // put it in the original's place
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

// Name of the temporary file (salt 0) or of the original kept aside during
// a replace (salt 1) for a file of this name: short, of fixed length but
// never longer than the name itself, the same for each repair of the file
// (so that one left by an interrupted repair is found again) and different
// for other names. foldCase: names differing only in letter case are one file.
std::string DatIoTempName(const std::string& name, unsigned salt, bool foldCase);
