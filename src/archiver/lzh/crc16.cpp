#include "archiver/lzh/crc16.h"

#include <array>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace tessel::lzh {
namespace {

// Eight tables, so that the loop folds eight bytes per step.
struct Tables {
    std::array<std::array<std::uint16_t, 256>, 8> t{};
    Tables() {
        for (unsigned i = 0; i < 256; ++i) {
            std::uint16_t c = static_cast<std::uint16_t>(i);
            for (int k = 0; k < 8; ++k) c = (c & 1) ? static_cast<std::uint16_t>((c >> 1) ^ 0xA001) : static_cast<std::uint16_t>(c >> 1);
            t[0][i] = c;
        }
        for (unsigned i = 0; i < 256; ++i)
            for (int k = 1; k < 8; ++k)
                t[k][i] = static_cast<std::uint16_t>((t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF]);
    }
};

const Tables& GetTables() {
    static const Tables tables;
    return tables;
}

std::uint16_t TableUpdate(std::uint16_t crc, const unsigned char* p, std::size_t size) {
    const auto& t = GetTables().t;
    std::uint32_t c = crc;
    while (size >= 8) {
        std::uint64_t v;
        std::memcpy(&v, p, 8);  // little-endian hosts only (x86-64, aarch64)
        v ^= c;
        c = t[7][v & 0xFF] ^ t[6][(v >> 8) & 0xFF] ^ t[5][(v >> 16) & 0xFF] ^ t[4][(v >> 24) & 0xFF] ^
            t[3][(v >> 32) & 0xFF] ^ t[2][(v >> 40) & 0xFF] ^ t[1][(v >> 48) & 0xFF] ^ t[0][(v >> 56) & 0xFF];
        p += 8;
        size -= 8;
    }
    while (size--) c = (c >> 8) ^ t[0][(c ^ *p++) & 0xFF];
    return static_cast<std::uint16_t>(c);
}

#if defined(__x86_64__)

// Carry-less multiplication folds the 16-byte blocks into one without
// reducing them; only that block and the last few bytes (under 16) go
// through the tables.
//
// The bits are reflected as in the table code: in a 128-bit register loaded
// from 16 message bytes, bit i is the coefficient of x^(127-i), so the low
// quadword holds the block's high-degree half H and the high quadword its
// low-degree half L, each as a reflected 64-bit value (bit j = x^(63-j)).
// A carry-less product of two reflected 64-bit values is the reflected
// 128-bit value of their product times x.
//
// Moving a block d bits further from the message end multiplies it by x^d:
// H * x^(d+64) + L * x^d, which is congruent mod P to
// H * (x^(d+63) mod P) * x + L * (x^(d-1) mod P) * x, so each fold takes two
// products with those two residues, and the result (degree below 80) fits
// in the register. The CRC only depends on the message mod P, so any
// congruent remainder may stand in for the blocks folded away.

// x^n mod P for P = x^16 + x^15 + x^2 + 1, as a reflected 64-bit value: the
// residue is kept reflected in 16 bits (bit j = x^(15-j)), where multiplying
// by x is one step of the bitwise CRC, then moved to the top of the quadword.
constexpr std::uint64_t XPowModP(unsigned n) {
    std::uint32_t r = 0x8000;  // x^0
    for (unsigned i = 0; i < n; ++i) r = (r & 1) ? (r >> 1) ^ 0xA001 : r >> 1;
    return static_cast<std::uint64_t>(r) << 48;
}

// Residues for the two fold distances: 512 bits (four blocks in flight) and
// 128 bits (one block onto the next). Low quadword: for H; high: for L.
constexpr std::uint64_t kFold512H = XPowModP(512 + 63), kFold512L = XPowModP(512 - 1);
constexpr std::uint64_t kFold128H = XPowModP(128 + 63), kFold128L = XPowModP(128 - 1);

__attribute__((target("pclmul,sse4.1"))) inline __m128i Fold(__m128i x, __m128i k, __m128i next) {
    const __m128i h = _mm_clmulepi64_si128(x, k, 0x00);  // H * residue for H
    const __m128i l = _mm_clmulepi64_si128(x, k, 0x11);  // L * residue for L
    return _mm_xor_si128(_mm_xor_si128(h, l), next);
}

// Needs at least 64 bytes.
__attribute__((target("pclmul,sse4.1"))) std::uint16_t ClmulUpdate(std::uint16_t crc, const unsigned char* p,
                                                                    std::size_t size) {
    auto load = [](const unsigned char* at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at)); };
    // The table code's starting value goes into the first two bytes the same way.
    __m128i x0 = _mm_xor_si128(load(p), _mm_cvtsi32_si128(crc));
    __m128i x1 = load(p + 16), x2 = load(p + 32), x3 = load(p + 48);
    p += 64;
    size -= 64;
    const __m128i k512 = _mm_set_epi64x(static_cast<long long>(kFold512L), static_cast<long long>(kFold512H));
    while (size >= 64) {
        x0 = Fold(x0, k512, load(p));
        x1 = Fold(x1, k512, load(p + 16));
        x2 = Fold(x2, k512, load(p + 32));
        x3 = Fold(x3, k512, load(p + 48));
        p += 64;
        size -= 64;
    }
    const __m128i k128 = _mm_set_epi64x(static_cast<long long>(kFold128L), static_cast<long long>(kFold128H));
    x0 = Fold(Fold(Fold(x0, k128, x1), k128, x2), k128, x3);
    for (; size >= 16; p += 16, size -= 16) x0 = Fold(x0, k128, load(p));
    // What is left is the CRC of the 16 folded bytes followed by the tail.
    alignas(16) unsigned char last[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(last), x0);
    return TableUpdate(TableUpdate(0, last, 16), p, size);
}

bool HasClmul() {
    static const bool has = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    return has;
}

#endif

}  // namespace

std::uint16_t Crc16Update(std::uint16_t crc, const void* data, std::size_t size) {
    const auto* p = static_cast<const unsigned char*>(data);
#if defined(__x86_64__)
    if (size >= 64 && HasClmul()) return ClmulUpdate(crc, p, size);
#endif
    return TableUpdate(crc, p, size);
}

}  // namespace tessel::lzh
