#include "dat/dat.h"

#include <cstdint>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <cpuid.h>
#include <immintrin.h>
#define TW_CLMUL 1
#endif

namespace {

// p(x) reflected, with x^32 implied.
constexpr std::uint32_t kPolynomial = 0xEDB88320u;

// table[0] is the usual byte-at-a-time table; table[k][n] is the register
// after n has been shifted through k further zero bytes. Sixteen of them
// let the fast path consume sixteen bytes per step.
struct Tables {
    std::uint32_t t[16][256];
};

constexpr Tables MakeTables() {
    Tables tables{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? kPolynomial ^ (c >> 1) : c >> 1;
        tables.t[0][n] = c;
    }
    for (std::uint32_t n = 0; n < 256; ++n)
        for (int k = 1; k < 16; ++k)
            tables.t[k][n] = (tables.t[k - 1][n] >> 8) ^ tables.t[0][tables.t[k - 1][n] & 0xFF];
    return tables;
}

constexpr Tables kTables = MakeTables();

inline std::uint32_t Load32(const unsigned char* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

#ifdef TW_CLMUL

// Carry-less multiplication folds 64 bytes per step into four 128-bit
// lanes, then into one, then reduces it to 32 bits (Barrett). The constants
// are powers of x modulo the polynomial, bit-reflected: x^(512+32) and
// x^(512-32) for the four-lane fold, x^(128+32) and x^(128-32) for one lane,
// x^64 for the 64-to-32 step, then the polynomial and floor(x^64 / p(x)).
// count is at least 64 and a multiple of 16; reg is the raw register.
#define TW_CLMUL_TARGET __attribute__((target("pclmul,sse4.1")))

TW_CLMUL_TARGET inline __m128i Load(const unsigned char* at) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

// acc times x^(128+32) and x^(128-32) (or the four-lane pair), plus next.
TW_CLMUL_TARGET inline __m128i Fold(__m128i acc, __m128i k, __m128i next) {
    __m128i low = _mm_clmulepi64_si128(acc, k, 0x00);
    return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(acc, k, 0x11), next), low);
}

TW_CLMUL_TARGET
#ifdef __i386__
__attribute__((force_align_arg_pointer))
#endif
std::uint32_t
FoldClmul(std::uint32_t reg, const unsigned char* p, std::size_t count) {
    alignas(16) static const std::uint64_t k1k2[] = {0x0154442bd4, 0x01c6e41596};
    alignas(16) static const std::uint64_t k3k4[] = {0x01751997d0, 0x00ccaa009e};
    alignas(16) static const std::uint64_t k5k0[] = {0x0163cd6124, 0x0000000000};
    alignas(16) static const std::uint64_t poly[] = {0x01db710641, 0x01f7011641};

    __m128i x1 = _mm_xor_si128(Load(p), _mm_cvtsi32_si128(static_cast<int>(reg)));
    __m128i x2 = Load(p + 16);
    __m128i x3 = Load(p + 32);
    __m128i x4 = Load(p + 48);
    p += 64;
    count -= 64;

    __m128i k = _mm_load_si128(reinterpret_cast<const __m128i*>(k1k2));
    while (count >= 64) {
        x1 = Fold(x1, k, Load(p));
        x2 = Fold(x2, k, Load(p + 16));
        x3 = Fold(x3, k, Load(p + 32));
        x4 = Fold(x4, k, Load(p + 48));
        p += 64;
        count -= 64;
    }

    k = _mm_load_si128(reinterpret_cast<const __m128i*>(k3k4));
    x1 = Fold(x1, k, x2);
    x1 = Fold(x1, k, x3);
    x1 = Fold(x1, k, x4);
    while (count >= 16) {
        x1 = Fold(x1, k, Load(p));
        p += 16;
        count -= 16;
    }

    // 128 bits to 64.
    const __m128i mask32 = _mm_setr_epi32(~0, 0, ~0, 0);
    x2 = _mm_clmulepi64_si128(x1, k, 0x10);
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), x2);
    k = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(k5k0));
    x2 = _mm_srli_si128(x1, 4);
    x1 = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, mask32), k, 0x00), x2);

    // Barrett reduction to 32 bits.
    k = _mm_load_si128(reinterpret_cast<const __m128i*>(poly));
    x2 = _mm_clmulepi64_si128(_mm_and_si128(x1, mask32), k, 0x10);
    x2 = _mm_clmulepi64_si128(_mm_and_si128(x2, mask32), k, 0x00);
    x1 = _mm_xor_si128(x1, x2);
    return static_cast<std::uint32_t>(_mm_extract_epi32(x1, 1));
}

bool HasClmul() {
    unsigned a = 0, b = 0, c = 0, d = 0;
    return __get_cpuid(1, &a, &b, &c, &d) && (c & bit_PCLMUL) && (c & bit_SSE4_1);
}

const bool kHasClmul = HasClmul();

#endif

} // namespace

std::uint32_t DatChecksumUpdate(std::uint32_t reg, const void* bytes, std::size_t count) {
    const auto* p = static_cast<const unsigned char*>(bytes);
    const auto& t = kTables.t;
#ifdef TW_CLMUL
    if (count >= 64 && kHasClmul) {
        std::size_t folded = count & ~std::size_t(15);
        reg = FoldClmul(reg, p, folded);
        p += folded;
        count -= folded;
    }
#endif
    while (count >= 16) {
        std::uint32_t a = Load32(p) ^ reg;
        std::uint32_t b = Load32(p + 4);
        std::uint32_t c = Load32(p + 8);
        std::uint32_t d = Load32(p + 12);
        reg = t[15][a & 0xFF] ^ t[14][(a >> 8) & 0xFF] ^ t[13][(a >> 16) & 0xFF] ^ t[12][a >> 24] ^
              t[11][b & 0xFF] ^ t[10][(b >> 8) & 0xFF] ^ t[9][(b >> 16) & 0xFF] ^ t[8][b >> 24] ^
              t[7][c & 0xFF] ^ t[6][(c >> 8) & 0xFF] ^ t[5][(c >> 16) & 0xFF] ^ t[4][c >> 24] ^
              t[3][d & 0xFF] ^ t[2][(d >> 8) & 0xFF] ^ t[1][(d >> 16) & 0xFF] ^ t[0][d >> 24];
        p += 16;
        count -= 16;
    }
    while (count--)
        reg = t[0][(reg ^ *p++) & 0xFF] ^ (reg >> 8);
    return reg;
}

std::uint32_t DatChecksum(const void* bytes, std::size_t count) {
    return DatChecksumUpdate(kDatChecksumStart, bytes, count);
}
