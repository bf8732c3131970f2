#pragma once
// CRC-16 as LHA archives use it (polynomial 0x8005, bit-reflected, initial
// value 0): one over every member's original bytes and one over every
// level-2 header.
#include <cstddef>
#include <cstdint>

namespace tessel::lzh {

std::uint16_t Crc16Update(std::uint16_t crc, const void* data, std::size_t size);

}  // namespace tessel::lzh
