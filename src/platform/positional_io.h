#pragma once
// Whole reads and writes at an offset of an open file.
#include <cstddef>
#include <cstdint>

namespace tessel {

// Writes all `size` bytes at `offset` of the open file, retrying short and
// interrupted writes; false on a write error.
bool WriteAllAt(int fd, std::uint64_t offset, const void* data, std::size_t size);

// Reads exactly `size` bytes at `offset` of the open file, retrying short
// and interrupted reads; false on a read error or at the end of the file.
bool ReadAllAt(int fd, std::uint64_t offset, void* data, std::size_t size);

}  // namespace tessel
