// File access of the DAT repairer. A file is held exclusively while it is
// open (Windows: CreateFileA sharing nothing; POSIX: open plus an exclusive
// advisory lock), and a repair replaces a file's content crash-safely: the
// new content goes to a temporary file in the same folder, is flushed, and
// then takes the original's place in one atomic step.
#pragma once

#include <cstddef>
#include <cstdint>

struct DatIoFile;

enum class DatIoMode {
    Read,  // reading, held exclusively
    Write, // reading and replacing, held exclusively
    Peek,  // reading only, beside whoever else holds the file
};

// Opens an existing regular file; Read and Write hold it exclusively until
// DatIoClose. Write also demands that the file may be replaced: a read-only
// file is refused (on POSIX a file without any write permission bit counts
// as read-only, whoever runs us). Null on failure.
DatIoFile* DatIoOpen(const char* path, DatIoMode mode);

// Closes the file; null is allowed.
void DatIoClose(DatIoFile* file);

bool DatIoSize(DatIoFile* file, std::uint64_t* size);

// Reads exactly count bytes at offset; false on an error or a short read.
bool DatIoRead(DatIoFile* file, std::uint64_t offset, void* buffer, std::size_t count);

// Gives the file opened for writing from path the content: its own first
// keep bytes, then the tail bytes. Either the whole new content is in place
// afterwards (true) or the original is untouched and no temporary file is
// left (false). The handle may be released inside (Windows cannot replace a
// file it holds open); DatIoClose must still be called.
bool DatIoReplace(DatIoFile* file, const char* path, std::uint64_t keep, const void* tail,
                  std::size_t tailSize);

// The steps of DatIoReplace in their order. Tests make each fail in turn.
enum class DatIoStep {
    CreateTemp,     // create the temporary file next to the original
    CopyKept,       // copy the kept bytes of the original
    WriteTail,      // write the new tail
    Flush,          // flush the temporary file to the disk
    KeepAttributes, // give it the original's permission bits or attributes
    CloseTemp,      // close it
    Replace,        // move it over the original
    Count
};

// Called before each step on the calling thread; returning true makes the
// step fail as a real failure would. Null removes the hook.
using DatIoFaultHook = bool (*)(void* context, DatIoStep step);
void SetDatIoFaultHook(DatIoFaultHook hook, void* context);

// Number of read calls made to the system by this thread so far.
std::uint64_t DatIoReadCalls();

// For the backends: whether the hook wants step to fail; count one read.
bool DatIoFaultAt(DatIoStep step);
void DatIoCountRead();

// Suffix of the temporary files, so tests can look for leftovers.
inline constexpr char kDatIoTempMarker[] = ".twtmp";
