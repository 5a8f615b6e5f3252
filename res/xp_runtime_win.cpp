// Windows XP has no GetTickCount64, yet the static thread runtime calls it
// (for timed waits). Linked into each program ahead of kernel32's import
// library, this takes the import's place, so the programs start on XP: the
// tick count of GetTickCount widened to 64 bits, counting its wraps (one
// every 49.7 days) as long as it is asked at least that often.
#include <windows.h>

namespace {

ULONGLONG WINAPI TickCount64() {
    static volatile LONGLONG s_last;
    LONGLONG seen = InterlockedCompareExchange64(&s_last, 0, 0);
    for (;;) {
        const DWORD now = GetTickCount();
        LONGLONG next = (seen & ~0xFFFFFFFFLL) | now;
        if (now < static_cast<DWORD>(seen))
            next += 0x100000000LL;
        const LONGLONG was = InterlockedCompareExchange64(&s_last, next, seen);
        if (was == seen)
            return static_cast<ULONGLONG>(next);
        seen = was;
    }
}

} // namespace

// The import's symbol: decorated on 32-bit Windows, plain on 64-bit, where
// the 64-bit build takes the same path as the program users get.
#ifdef _WIN64
#define TW_IMPORT_GET_TICK_COUNT64 "__imp_GetTickCount64"
#else
#define TW_IMPORT_GET_TICK_COUNT64 "__imp__GetTickCount64@0"
#endif
extern "C" ULONGLONG(WINAPI* const tw_GetTickCount64)() __asm__(TW_IMPORT_GET_TICK_COUNT64) =
    TickCount64;
