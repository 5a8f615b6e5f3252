#include "tests/e2e/rig.h"

#include <winternl.h>

#include <cstdio>
#include <fstream>

namespace {

const std::function<bool()>* s_watch;

VOID CALLBACK Watch(HWND, UINT, UINT_PTR timer, DWORD) {
    if (s_watch && (*s_watch)()) {
        s_watch = nullptr;
        KillTimer(nullptr, timer);
    }
}

std::string LogPath() {
    char temp[MAX_PATH] = "";
    GetTempPathA(sizeof temp, temp);
    return std::string(temp) + "tw-standin-" + std::to_string(GetCurrentProcessId()) + ".log";
}

void End(HANDLE process) {
    TerminateProcess(process, 99);
    WaitForSingleObject(process, 5000);
    CloseHandle(process);
}

} // namespace

std::vector<std::string> StandinLog() {
    std::vector<std::string> lines;
    std::ifstream in(LogPath());
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

void WhileModal(const std::function<bool()>& watch, const std::function<void()>& fn) {
    s_watch = &watch;
    const UINT_PTR timer = SetTimer(nullptr, 0, 20, Watch);
    fn();
    KillTimer(nullptr, timer);
    s_watch = nullptr;
}

Program::Program(std::string commandLine) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                       &startup, &info)) {
        CloseHandle(info.hThread);
        process = info.hProcess;
        pid = info.dwProcessId;
    }
}

Program::~Program() {
    if (process)
        End(process);
}

int Program::Exit(DWORD ms) {
    DWORD code = 0;
    if (!PollUntil(ms, [&] { return WaitForSingleObject(process, 0) == 0; }))
        return -1;
    GetExitCodeProcess(process, &code);
    return static_cast<int>(code);
}

void RegisterClient(const std::string& key, const char* name, const std::string& data) {
    // Where the clients, 32-bit programs, keep their values on 64-bit Windows.
    HKEY software = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY,
                      &software))
        return;
    const std::string sub = key.substr(key.find('\\') + 1);
    RegDeleteKeyA(software, sub.c_str());
    RegDeleteKeyA(software, sub.substr(0, sub.rfind('\\')).c_str());
    HKEY handle = nullptr;
    if (!data.empty() && !RegCreateKeyExA(software, sub.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                                          &handle, nullptr)) {
        RegSetValueExA(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.data()),
                       static_cast<DWORD>(data.size()));
        RegCloseKey(handle);
    }
    RegCloseKey(software);
}

std::string WinPath(std::string path) {
    for (char& c : path)
        c = c == '/' ? '\\' : c;
    return "Z:" + path;
}

std::string StandinExe() {
    return WinPath(TW_STANDIN_EXE);
}

void ConfigureStandin(const char* trees, DWORD delayMs, const char* hang, const char* exit) {
    EndStandin();
    DeleteFileA(LogPath().c_str());
    SetEnvironmentVariableA("TW_STANDIN_LOG", LogPath().c_str());
    SetEnvironmentVariableA("TW_STANDIN_TREES", trees);
    SetEnvironmentVariableA("TW_STANDIN_DELAY", std::to_string(delayMs).c_str());
    SetEnvironmentVariableA("TW_STANDIN_HANG", hang);
    SetEnvironmentVariableA("TW_STANDIN_EXIT", exit);
}

void EndStandin() {
    for (const std::string& line : StandinLog()) {
        unsigned long pid = 0;
        if (std::sscanf(line.c_str(), "%*s START pid=%lu", &pid) == 1)
            if (HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid))
                End(process);
    }
}

std::vector<std::string> StandinEvents(std::vector<DWORD>* ticks) {
    std::vector<std::string> events;
    bool ready = false;
    for (const std::string& line : StandinLog()) {
        const std::string event = line.substr(line.find(' ') + 1);
        if (ready && ticks)
            ticks->push_back(std::strtoul(line.c_str(), nullptr, 10));
        if (ready)
            events.push_back(event);
        ready = ready || event.compare(0, 5, "READY") == 0;
    }
    return events;
}

bool WaitStandinLog(const std::string& part, DWORD ms) {
    return PollUntil(ms, [&] {
        for (const std::string& line : StandinLog())
            if (line.find(part) != std::string::npos)
                return true;
        return false;
    });
}

HWND WaitWindow(const char* cls, const char* title, DWORD ms, bool hidden) {
    HWND found = nullptr;
    PollUntil(ms, [&] {
        for (found = nullptr; (found = FindWindowExA(nullptr, found, cls, title));)
            if (hidden || IsWindowVisible(found))
                return true;
        return false;
    });
    return found;
}

bool WaitGone(HWND window, DWORD ms) {
    return PollUntil(ms, [&] { return !IsWindow(window); });
}

std::string TextOf(HWND window, int id) {
    HWND target = id ? GetDlgItem(window, id) : window;
    DWORD_PTR length = 0;
    SendMessageTimeoutA(target, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length);
    std::string text(length + 1, '\0');
    SendMessageTimeoutA(target, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]),
                        SMTO_ABORTIFHUNG, 5000, &length);
    text.resize(length);
    return text;
}

void SetTextOf(HWND window, int id, const std::string& text) {
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(GetDlgItem(window, id), WM_SETTEXT, 0,
                        reinterpret_cast<LPARAM>(text.c_str()), SMTO_ABORTIFHUNG, 5000, &ignored);
}

std::string AnswerBox(const char* caption, int button, DWORD ms) {
    HWND box = WaitWindow("#32770", caption, ms);
    if (!box || !GetDlgItem(box, 0xFFFF))
        return std::string("(no box \"") + caption + "\")";
    const std::string text = TextOf(box, 0xFFFF);
    PostMessageA(box, WM_COMMAND, button, 0);
    WaitGone(box);
    return text;
}

// The system's process list carries each thread's times, also for other
// processes (which GetProcessTimes under Wine does not).
double CpuMs(DWORD pid) {
    using Query = NTSTATUS(NTAPI*)(ULONG, PVOID, ULONG, PULONG);
    static const auto query = reinterpret_cast<Query>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    struct Thread {
        LARGE_INTEGER kernel, user, create;
        ULONG rest[10];
    };
    std::vector<char> buffer(1 << 20);
    if (query(SystemProcessInformation, buffer.data(), buffer.size(), nullptr) != 0)
        return -1;
    for (const char* p = buffer.data();;) {
        auto* process = reinterpret_cast<const SYSTEM_PROCESS_INFORMATION*>(p);
        if (reinterpret_cast<ULONG_PTR>(process->UniqueProcessId) == pid) {
            auto* thread = reinterpret_cast<const Thread*>(process + 1);
            double ms = 0;
            for (ULONG i = 0; i < process->NumberOfThreads; ++i)
                ms += (thread[i].kernel.QuadPart + thread[i].user.QuadPart) / 10000.0;
            return ms;
        }
        if (process->NextEntryOffset == 0)
            return -1;
        p += process->NextEntryOffset;
    }
}
