// File access of the DAT repairer. Readers share a file with each other and
// with nobody who writes (Windows: sharing reading only; POSIX: a shared
// advisory lock); a writer holds it exclusively. A file busy elsewhere is
// waited for, about two seconds, before it is called busy. A repair
// replaces a file's content crash-safely: the new content goes to a
// temporary file in the same folder, is flushed, is given the file's
// identity (Windows: attributes, creation time, access control list where
// we may set it; POSIX: mode, owner and group), and then takes the
// original's place in one atomic rename (Windows: MoveFileExA).
#pragma once

#include <atomic>
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
    Read,  // reading, beside other readers only
    Write, // reading and replacing, held exclusively
    Peek,  // reading only, beside whoever else holds the file
    Idle,  // reading only, at once, and only while nobody holds it
};

// Opens an existing regular file; Read shares it with readers only, Write
// holds it exclusively, each waiting about two seconds for a file busy
// elsewhere (then the reason is kDatIoBusy). Write also demands that the
// file may be replaced: a read-only file is refused (on POSIX a file
// without any write permission bit counts as read-only, whoever runs us).
// Null on failure, with the reason in DatIoLastError().
DatIoHandle DatIoOpen(const char* path, DatIoMode mode);

bool DatIoSize(DatIoFile* file, std::uint64_t* size);

// One state of a file: its identity (POSIX: device and inode; Windows:
// volume and file index), size and last modification
// time. Another program that writes the file, or puts another in its place,
// changes it.
struct DatIoStamp {
    std::uint64_t device = 0, file = 0; // the identity; both 0 where not sure
    std::uint64_t size = 0;
    std::int64_t modified = 0;
    bool SameFileAs(const DatIoStamp& o) const {
        return (device | file) != 0 && device == o.device && file == o.file;
    }
    bool operator==(const DatIoStamp& o) const {
        return device == o.device && file == o.file && size == o.size && modified == o.modified;
    }
    bool operator!=(const DatIoStamp& o) const { return !(*this == o); }
};
// The open file as it was opened; the file at path now (a link followed;
// all 0 when there is none).
DatIoStamp DatIoStampOf(DatIoFile* file);
DatIoStamp DatIoStampAt(const std::string& path);
// The reason of a replace abandoned because the file changed meanwhile.
inline constexpr char kDatIoChanged[] = "Changed by another program during the repair";

// Reads exactly count bytes at offset; false on an error or a short read.
bool DatIoRead(DatIoFile* file, std::uint64_t offset, void* buffer, std::size_t count);

// Gives the file opened for writing from path the content: its own first
// keep bytes, then the tail bytes. Either the whole new content is in place
// afterwards (true) or the original is untouched and no temporary file is
// left (false, with the reason in DatIoLastError()). With a backup path, the
// original content is kept there, replacing an older backup unless that is
// read-only or no regular file; a backup path that leads to the file itself
// is refused. A failure leaves the older backup as it was. Just before each
// final rename the file is compared with its stamp at the open: another
// program that changed it meanwhile makes the replace fail (kDatIoChanged)
// and leaves the file as that program left it. Ended at any step, the file
// holds the original or the new content, the backup is whole, and the next
// replace of the file takes over what is left. The handle may be released
// inside (Windows cannot replace a file it holds open).
//
// Our files beside the file are created exclusively, under names no file had
// (another name is tried while one is taken). A file we did not create in
// this call is removed only as a proven leftover of an earlier replace of
// this file (see DatIoTakeOver).
bool DatIoReplace(DatIoFile* file, const char* path, std::uint64_t keep, const void* tail,
                  std::size_t tailSize, const char* backup = nullptr);

// Removes what an interrupted replace of the file opened for writing from
// path left beside it and beside its backup, where that is proven to lose
// nothing: a file that is the file or the backup under another name, or
// whose bytes begin the file's, the backup's, or (given keep and tail) the
// new content's; and the older backup that an interrupted replace set aside
// under a name made from the identity of the file that has since become the
// backup. A user's file that merely has such a name is left alone.
void DatIoTakeOver(DatIoFile* file, const char* path, const char* backup, std::uint64_t keep = 0,
                   const void* tail = nullptr, std::size_t tailSize = 0);

// Abandons the replaces in progress and refuses new ones, for good (until
// DatIoAllowReplaces): a copy ends at its next chunk (a few megabytes), its
// temporary file is removed and the replace fails with a reason that says
// so, leaving the file as it was. A replace that has reached its final
// links and renames finishes them first (microseconds; where the file system
// has no links, a copy of the backup, which on POSIX also ends at its next
// chunk). Safe in a signal handler and from any thread: it only sets a
// lock-free flag.
void DatIoCancelReplaces();
bool DatIoReplacesCancelled();
// The calling thread's own cancel beside the process-wide one: while *flag
// is true, this thread's replaces are abandoned as DatIoCancelReplaces
// abandons all (a repair job closed alone). Null removes it.
void DatIoSetThreadCancel(const std::atomic<bool>* flag);
// Whether a replace is in progress (between its scope's start and end);
// safe in a signal handler.
bool DatIoReplaceInProgress();

// The ways out of the process call this before they end it: it keeps new
// replaces from starting and waits up to timeoutMs for those in progress, so
// that no file is left between its temporary copy and its place. False when
// one was still running at the time-out. After DatIoCancelReplaces it
// returns within a copy chunk's time (well under a second): the copies end
// early. DatIoAllowReplaces undoes both.
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
    KeepAccess,     // Windows: create it able to take the original's access control list;
                    // refused, it keeps the folder's
    CopyKept,       // copy the kept bytes of the original (before each chunk)
    WriteTail,      // write the new tail
    Flush,          // flush the temporary file to the disk
    KeepAttributes, // give it the original's mode and owner, or attributes and times
    CloseTemp,      // close it (Windows: it is held until it is in place)
    Backup,         // link (or copy) the original beside the backup
    KeepOldBackup,  // link the older backup aside, to put it back should the rest fail
    RenameBackup,   // rename the original's link over the older backup
    Replace,        // rename the temporary file over the original
    CleanUp,        // remove what is left of ours; failing changes nothing
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
// False, with the reason, once the replaces are cancelled; DatIoNextChunk,
// before each chunk of a copy, also when the CopyKept step fails.
bool DatIoGoesOn();
bool DatIoNextChunk();
// Between two tries to open a busy file: waits a little; false once about
// two seconds have gone by in `waited` (start it at 0).
bool DatIoWaitWhileBusy(unsigned* waited);
inline constexpr char kDatIoBusy[] = "The file is busy: another program is using it";

// The files of ours beside a file during its replace.
enum class DatIoTemp {
    New,       // the new content, beside the file
    Original,  // the original linked (or copied) beside the backup, then renamed to it
    OldBackup, // the older backup, linked beside itself until the replace is done
};

// How many names of each kind a replace tries, one after the other, while
// they are taken.
inline constexpr unsigned kDatIoTempTries = 4;

// Candidate `attempt` for a file of this kind for the file at path: beside
// it, "~" and eight hex digits of a hash of its name (letter case folded
// on Windows), the kind, the attempt and salt, so that one an
// interrupted replace left is found again. At attempt 0 the kinds never
// share a name with each other or with the file. Shortened only where the
// path would otherwise be longer than the platform takes, never below the
// length of the file's own name.
std::string DatIoTempPath(const std::string& path, DatIoTemp kind, unsigned attempt = 0,
                          const std::string& salt = std::string());

// The last steps of a replace, shared by the backends: the closed temporary
// file at temp takes path's place, and with a backup path the original is
// kept there. They need of the backend: what is at a path (a link is not
// followed); a hard link, or a flushed copy where the file system has none,
// either failing when `to` exists; an atomic rename over any file at `to`,
// made durable; removal; a file's whole path, and its target's (a link
// followed).
// Before each rename, the file at path must still have the stamp `opened`.
bool DatIoPutInPlace(const std::string& temp, const std::string& path, const char* backup,
                     const DatIoStamp& opened);
// Whether a backup path may take the original of the file at path (opened
// with that stamp): false, with the reason, where it leads to the file
// itself, or is there but is no regular file or read-only.
bool DatIoBackupUsable(const std::string& path, const char* backup, const DatIoStamp& opened);
struct DatIoFileState {
    bool exists = false;
    bool readOnly = false;
    bool special = false; // known to be no regular file: a folder, link, FIFO, device
    unsigned long links = 0;
    DatIoStamp stamp; // of the name itself, a link not followed
};
DatIoFileState DatIoStat(const std::string& path);
// Two names of one file: both with a sure identity, and at least two links.
bool DatIoSameFile(const std::string& a, const std::string& b);
std::string DatIoTargetPath(const char* path);
std::string DatIoFullPath(const char* path);
// Makes a new file of ours beside path with make(name), which must fail
// with `*taken` set where a file has that name: candidates no file has are
// tried in turn, also one taken between the look and the make. The name
// made; empty, with the reason, when none could be.
template <typename Make>
std::string DatIoMakeTemp(const std::string& path, DatIoTemp kind, Make make,
                          const std::string& salt = std::string()) {
    for (unsigned attempt = 0; attempt < kDatIoTempTries; ++attempt) {
        std::string name = DatIoTempPath(path, kind, attempt, salt);
        bool taken = DatIoStat(name).exists;
        if (!taken && make(name, &taken))
            return name;
        if (!taken)
            return std::string();
    }
    DatIoSetLastError("Every name for a temporary file beside it is taken");
    return std::string();
}
// A hard link, or a flushed copy where the file system has none; `*taken`
// when a file is at `to` already.
bool DatIoLinkOrCopy(const std::string& from, const std::string& to, bool* taken);
// An atomic rename over any file at `to`, made durable; `*busy` where it was
// refused because another program has a file open (Windows).
bool DatIoRename(const std::string& from, const std::string& to, bool* busy = nullptr);
void DatIoRemove(const std::string& path);
