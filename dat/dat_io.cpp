#include "dat/dat_io.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace {

#ifdef _WIN32
const char kSeparators[] = "\\/:";
constexpr bool kFoldCase = true;
constexpr std::size_t kLongestPath = 259; // MAX_PATH without its terminating zero
#else
const char kSeparators[] = "/";
constexpr bool kFoldCase = false;
constexpr std::size_t kLongestPath = 4095; // PATH_MAX without its terminating zero
#endif

char Folded(char c) {
    return kFoldCase && c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return Folded(x) == Folded(y);
           });
}

thread_local DatIoFaultHook t_hook = nullptr;
thread_local void* t_hookContext = nullptr;
thread_local std::uint64_t t_reads = 0;
thread_local std::string t_lastError;
thread_local const std::atomic<bool>* t_cancel = nullptr;

std::mutex s_replaceMutex;
std::condition_variable s_replaceChanged;
bool s_replacesHeld = false;
// Changed under s_replaceMutex, and also read in signal handlers: lock-free
// atomics only.
std::atomic<int> s_replacesRunning{0};
std::atomic<bool> s_cancelled{false};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free,
              "the cancel must be safe in a signal handler");

constexpr unsigned kBusyWaitMs = 2000, kBusyStepMs = 20;

} // namespace

DatIoReplaceScope::DatIoReplaceScope() {
    std::unique_lock<std::mutex> lock(s_replaceMutex);
    s_replaceChanged.wait(lock, [] { return !s_replacesHeld || s_cancelled; });
    ++s_replacesRunning;
}

DatIoReplaceScope::~DatIoReplaceScope() {
    std::lock_guard<std::mutex> lock(s_replaceMutex);
    --s_replacesRunning;
    s_replaceChanged.notify_all();
}

bool DatIoHoldReplaces(unsigned timeoutMs) {
    std::unique_lock<std::mutex> lock(s_replaceMutex);
    s_replacesHeld = true;
    return s_replaceChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                     [] { return s_replacesRunning == 0; });
}

void DatIoAllowReplaces() {
    std::lock_guard<std::mutex> lock(s_replaceMutex);
    s_replacesHeld = false;
    s_cancelled = false;
    s_replaceChanged.notify_all();
}

void DatIoCancelReplaces() {
    s_cancelled = true;
}

bool DatIoReplacesCancelled() {
    return s_cancelled;
}

void DatIoSetThreadCancel(const std::atomic<bool>* flag) {
    t_cancel = flag;
}

bool DatIoReplaceInProgress() {
    return s_replacesRunning != 0;
}

bool DatIoGoesOn() {
    const bool cancelled = s_cancelled || (t_cancel && *t_cancel);
    if (cancelled)
        DatIoSetLastError("Cancelled; the file is left as it was");
    return !cancelled;
}

bool DatIoNextChunk() {
    return !DatIoFaultAt(DatIoStep::CopyKept) && DatIoGoesOn();
}

bool DatIoWaitWhileBusy(unsigned* waited) {
    if (*waited >= kBusyWaitMs)
        return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(kBusyStepMs));
    *waited += kBusyStepMs;
    return true;
}

bool DatIoSameFile(const std::string& a, const std::string& b) {
    const DatIoFileState x = DatIoStat(a), y = DatIoStat(b);
    return x.stamp.SameFileAs(y.stamp) && x.links >= 2 && y.links >= 2;
}

void SetDatIoFaultHook(DatIoFaultHook hook, void* context) {
    t_hook = hook;
    t_hookContext = context;
}

bool DatIoFaultAt(DatIoStep step) {
    if (!t_hook || !t_hook(t_hookContext, step))
        return false;
    DatIoSetLastError("Step " + std::to_string(int(step)) + " of the replace failed");
    return true;
}

std::uint64_t DatIoReadCalls() {
    return t_reads;
}

void DatIoCountRead() {
    ++t_reads;
}

const std::string& DatIoLastError() {
    return t_lastError;
}

void DatIoSetLastError(const std::string& reason) {
    t_lastError = reason;
}

std::string DatIoTempPath(const std::string& path, DatIoTemp kind, unsigned attempt,
                          const std::string& salt) {
    const std::size_t at = path.find_last_of(kSeparators) + 1; // 0 without a folder
    const std::string name = path.substr(at);
    std::uint32_t hash = 2166136261u; // FNV-1a
    auto add = [&hash](char c) { hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u; };
    for (char c : name)
        add(Folded(c));
    if (attempt != 0 || !salt.empty()) {
        add('\0');
        add(static_cast<char>(attempt));
        for (char c : salt)
            add(c);
    }
    // The kind in the two top bits: the first digit sets the kinds apart.
    hash = (hash & 0x3FFFFFFFu) | static_cast<std::uint32_t>(kind) << 30;
    const std::size_t room = kLongestPath > at ? kLongestPath - at : 0;
    const std::size_t length =
        room < 9 && name.size() < 9 ? std::max<std::size_t>({room, name.size(), 1}) : 9;
    auto make = [&](std::uint32_t h) {
        char text[16];
        std::snprintf(text, sizeof text, "~%08x", static_cast<unsigned>(h));
        if (length == 1) // one character for each kind and each value of bit 29
            text[0] = "~!#-+="[static_cast<unsigned>(kind) + (h >> 29 & 1) * 3];
        return std::string(text, length);
    };
    std::string own = make(hash);
    if (SameName(own, name)) // a file named as ours would be: bit 29 tells them apart
        own = make(hash ^ 1u << 29);
    return path.substr(0, at) + own;
}

namespace {

// A file's identity as text, for the names made from it; empty where it is
// not sure.
std::string IdentityOf(const std::string& path) {
    const DatIoStamp stamp = DatIoStat(path).stamp;
    if ((stamp.device | stamp.file) == 0)
        return std::string();
#ifdef _WIN32
    return std::to_string(stamp.device) + ":" + std::to_string(stamp.file >> 32) + ":" +
           std::to_string(stamp.file & 0xFFFFFFFFu);
#else
    return std::to_string(stamp.device) + ":" + std::to_string(stamp.file);
#endif
}

// Renames from over to while the file at path is as it was opened (else
// kDatIoChanged). A rename refused while another program has a file open
// (Windows: a virus scanner's look, another repair) is tried again for
// about two seconds, as an open is.
bool RenameUnchanged(const std::string& from, const std::string& to, const std::string& path,
                     const DatIoStamp& opened) {
    for (unsigned waited = 0;;) {
        if (DatIoStampAt(path) != opened) {
            DatIoSetLastError(kDatIoChanged);
            return false;
        }
        bool busy = false;
        if (DatIoRename(from, to, &busy))
            return true;
        if (!busy || !DatIoWaitWhileBusy(&waited))
            return false;
    }
}

} // namespace

bool DatIoBackupUsable(const std::string& path, const char* backup, const DatIoStamp& opened) {
    if (!backup)
        return true;
    const DatIoFileState old = DatIoStat(backup);
    const DatIoStamp led = DatIoStampAt(backup);
    // A link from one to the other, either way: the original kept there
    // would be the file replaced. (A hard link to the file is a backup
    // already, see DatIoPutInPlace.)
    const char* why =
        SameName(DatIoTargetPath(backup), path) || (old.special && led.SameFileAs(opened))
            ? "it leads to the file itself"
        : old.special  ? "Not a regular file"
        : old.readOnly ? "read-only"
                       : nullptr;
    if (why)
        DatIoSetLastError("backup " + std::string(backup) + ": " + why);
    return why == nullptr;
}

bool DatIoPutInPlace(const std::string& temp, const std::string& path, const char* backup,
                     const DatIoStamp& opened) {
    // Without a backup, or with one that is a link to the file and so holds
    // its original already, the replace is one rename.
    if (!backup || DatIoSameFile(backup, path)) {
        const bool ok =
            !DatIoFaultAt(DatIoStep::Replace) && RenameUnchanged(temp, path, path, opened);
        const std::string reason = DatIoLastError();
        DatIoFaultAt(DatIoStep::CleanUp);
        DatIoSetLastError(ok ? std::string() : reason);
        return ok;
    }
    const bool usable = DatIoBackupUsable(path, backup, opened); // its reason names the backup
    bool ok = usable;
    const bool hadOld = DatIoStat(backup).exists;
    std::string original, aside;
    ok = ok && !(original = DatIoMakeTemp(backup, DatIoTemp::Original,
                                          [&](const std::string& name, bool* taken) {
                                              return !DatIoFaultAt(DatIoStep::Backup) &&
                                                     DatIoLinkOrCopy(path, name, taken);
                                          }))
                    .empty();
    // The older backup is set aside under a name made from the identity of
    // the original's link, which becomes the backup: so the next replace
    // knows it after an interruption, when nothing else would tell it from
    // a user's file.
    ok = ok && (!hadOld || !(aside = DatIoMakeTemp(
                                 backup, DatIoTemp::OldBackup,
                                 [&](const std::string& name, bool* taken) {
                                     return !DatIoFaultAt(DatIoStep::KeepOldBackup) &&
                                            DatIoLinkOrCopy(backup, name, taken);
                                 },
                                 IdentityOf(original)))
                                .empty());
    ok = ok && !DatIoFaultAt(DatIoStep::RenameBackup) &&
         RenameUnchanged(original, backup, path, opened);
    const bool backedUp = ok;
    if (!backedUp && usable && DatIoLastError() != kDatIoChanged)
        DatIoSetLastError("backup " + std::string(backup) + ": " + DatIoLastError());
    ok = ok && !DatIoFaultAt(DatIoStep::Replace) && RenameUnchanged(temp, path, path, opened);
    const std::string reason = DatIoLastError();
    // The older backup back in its place, or none as before; unless another
    // replace has meanwhile put a file in the original's place: then the
    // backup is the only copy of the original left, and stays.
    const bool onlyCopy = !DatIoSameFile(backup, path) && DatIoStampAt(path) != opened;
    if (!ok && backedUp && !onlyCopy) {
        if (!hadOld)
            DatIoRemove(backup);
        else if (DatIoRename(aside, backup))
            aside.clear();
    }
    DatIoFaultAt(DatIoStep::CleanUp);
    if (!backedUp && !original.empty())
        DatIoRemove(original);
    if (!aside.empty())
        DatIoRemove(aside);
    DatIoSetLastError(ok ? std::string() : reason);
    return ok;
}

namespace {

constexpr std::size_t kCompareChunk = 1 << 20;

// Whether the bytes of `leftover` (size bytes) begin those of the source's
// first keep bytes followed by tail.
bool BeginsWith(DatIoFile* leftover, std::uint64_t size, DatIoFile* source, std::uint64_t keep,
                const void* tail, std::size_t tailSize) {
    if (size > keep + tailSize)
        return false;
    const auto* rest = static_cast<const unsigned char*>(tail);
    std::vector<unsigned char> a(
        static_cast<std::size_t>(std::min<std::uint64_t>(size, kCompareChunk)));
    std::vector<unsigned char> b(a.size());
    for (std::uint64_t at = 0; at < size;) {
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(size - at, a.size()));
        const std::size_t kept =
            at < keep ? static_cast<std::size_t>(std::min<std::uint64_t>(n, keep - at)) : 0;
        if (!DatIoRead(leftover, at, a.data(), n) ||
            (kept && (!DatIoRead(source, at, b.data(), kept) ||
                      std::memcmp(a.data(), b.data(), kept) != 0)) ||
            (n > kept && std::memcmp(a.data() + kept, rest + (at + kept - keep), n - kept) != 0))
            return false;
        at += n;
    }
    return true;
}

// Whether removing the file at name loses nothing: it is the file or the
// backup under another name, or its bytes begin theirs or the new content's.
// A file that a running replace holds is not a leftover.
bool IsLeftover(const std::string& name, DatIoFile* file, const std::string& path,
                const std::string& backup, std::uint64_t keep, const void* tail,
                std::size_t tailSize) {
    if (DatIoSameFile(name, path) || (!backup.empty() && DatIoSameFile(name, backup)))
        return true;
    DatIoHandle leftover = DatIoOpen(name.c_str(), DatIoMode::Idle);
    std::uint64_t size = 0, fileSize = 0, backupSize = 0;
    if (!leftover || !DatIoSize(leftover.get(), &size) || !DatIoSize(file, &fileSize))
        return false;
    if (BeginsWith(leftover.get(), size, file, fileSize, nullptr, 0) ||
        (tail && BeginsWith(leftover.get(), size, file, keep, tail, tailSize)))
        return true;
    DatIoHandle older = backup.empty() ? nullptr : DatIoOpen(backup.c_str(), DatIoMode::Peek);
    return older && DatIoSize(older.get(), &backupSize) &&
           BeginsWith(leftover.get(), size, older.get(), backupSize, nullptr, 0);
}

} // namespace

void DatIoTakeOver(DatIoFile* file, const char* path, const char* backup, std::uint64_t keep,
                   const void* tail, std::size_t tailSize) {
    const std::string reason = DatIoLastError();
    const std::string target = DatIoTargetPath(path);
    const std::string backupPath = backup ? DatIoFullPath(backup) : std::string();
    const std::string pathId = IdentityOf(target);
    const std::string backupId = backup ? IdentityOf(backupPath) : std::string();
    auto take = [&](const std::string& name, bool proven) {
        const DatIoFileState state = DatIoStat(name);
        if (state.exists && !state.special &&
            (proven || IsLeftover(name, file, target, backupPath, keep, tail, tailSize)))
            DatIoRemove(name);
    };
    for (unsigned attempt = 0; attempt < kDatIoTempTries; ++attempt) {
        take(DatIoTempPath(target, DatIoTemp::New, attempt), false);
        if (!backup)
            continue;
        take(DatIoTempPath(backupPath, DatIoTemp::Original, attempt), false);
        // Set aside for the file that is now the backup: the older backup
        // that this one replaced.
        if (!backupId.empty())
            take(DatIoTempPath(backupPath, DatIoTemp::OldBackup, attempt, backupId), true);
        take(DatIoTempPath(backupPath, DatIoTemp::OldBackup, attempt, pathId), false);
        take(DatIoTempPath(backupPath, DatIoTemp::OldBackup, attempt), false);
    }
    DatIoSetLastError(reason);
}
