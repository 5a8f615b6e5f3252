#include "dat/dat_io.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>

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

std::mutex s_replaceMutex;
std::condition_variable s_replaceChanged;
int s_replacesRunning = 0;
bool s_replacesHeld = false;

} // namespace

DatIoReplaceScope::DatIoReplaceScope() {
    std::unique_lock<std::mutex> lock(s_replaceMutex);
    s_replaceChanged.wait(lock, [] { return !s_replacesHeld; });
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
    s_replaceChanged.notify_all();
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

std::string DatIoTempPath(const std::string& path, DatIoTemp kind) {
    const std::size_t at = path.find_last_of(kSeparators) + 1; // 0 without a folder
    const std::string name = path.substr(at);
    std::uint32_t hash = 2166136261u; // FNV-1a
    for (char c : name)
        hash = (hash ^ static_cast<unsigned char>(Folded(c))) * 16777619u;
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

bool DatIoPutInPlace(const std::string& temp, const std::string& path, const char* backup) {
    if (!backup)
        return !DatIoFaultAt(DatIoStep::Replace) && DatIoRename(temp, path);
    const std::string original = DatIoTempPath(backup, DatIoTemp::Original);
    const std::string oldAside = DatIoTempPath(backup, DatIoTemp::OldBackup);
    // What an interrupted replace left: links to (or copies of) the file, or
    // of an older backup the backup has replaced since.
    DatIoRemove(original);
    DatIoRemove(oldAside);
    bool readOnly = false, ignored = false;
    const std::string oldId = DatIoFileId(backup, &readOnly);
    // A backup that is a link to the file holds the original already.
    if (!oldId.empty() && oldId == DatIoFileId(path, &ignored))
        return !DatIoFaultAt(DatIoStep::Replace) && DatIoRename(temp, path);
    if (readOnly)
        DatIoSetLastError("read-only");
    bool ok = !readOnly && !DatIoFaultAt(DatIoStep::KeepOldBackup) &&
              (oldId.empty() || DatIoLinkOrCopy(backup, oldAside));
    ok = ok && !DatIoFaultAt(DatIoStep::Backup) && DatIoLinkOrCopy(path, original);
    ok = ok && !DatIoFaultAt(DatIoStep::RenameBackup) && DatIoRename(original, backup);
    const bool backedUp = ok;
    if (!backedUp)
        DatIoSetLastError("backup " + std::string(backup) + ": " + DatIoLastError());
    ok = ok && !DatIoFaultAt(DatIoStep::Replace) && DatIoRename(temp, path);
    const std::string reason = DatIoLastError();
    if (!ok && backedUp) { // the older backup back in its place, or none as before
        if (oldId.empty())
            DatIoRemove(backup);
        else
            DatIoRename(oldAside, backup);
    }
    if (ok || !backedUp) {
        DatIoRemove(original);
        DatIoRemove(oldAside);
    }
    DatIoSetLastError(ok ? std::string() : reason);
    return ok;
}
