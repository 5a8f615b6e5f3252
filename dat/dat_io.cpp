#include "dat/dat_io.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>

namespace {

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

std::string DatIoTempName(const std::string& name, unsigned salt, bool foldCase) {
    std::uint64_t hash = 0xCBF29CE484222325u ^ salt; // FNV-1a
    for (char c : name) {
        if (foldCase && c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001B3u;
    }
    char text[16];
    std::snprintf(text, sizeof text, "~%08x", static_cast<unsigned>(hash ^ (hash >> 32)));
    return std::string(text, name.size() < 9 ? (name.empty() ? 1 : name.size()) : 9);
}
