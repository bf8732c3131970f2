#include "archiver/lzh/crc16.h"

#include <array>
#include <cstring>

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

}  // namespace

std::uint16_t Crc16Update(std::uint16_t crc, const void* data, std::size_t size) {
    const auto& t = GetTables().t;
    const auto* p = static_cast<const unsigned char*>(data);
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

}  // namespace tessel::lzh
