#pragma once
// The fixed version block (file and product version) of a PE file's
// version resource, read straight from the file.
#include <cstdint>
#include <string>
#include <string_view>

namespace tessel {

struct FileVersion {
    std::string fileText = " ";  // "a.b.c.d", or one blank when there is no version
    std::int32_t fileHigh = 0;
    std::int32_t fileLow = 0;
    std::string productText = " ";
    std::int32_t productHigh = 0;
    std::int32_t productLow = 0;
};

// Anything that is not a readable regular PE file with a well-formed
// version resource gives " ", 0, 0, " ", 0, 0. Symbolic links are not
// followed; FIFOs and devices are not opened for reading.
FileVersion ReadFileVersion(const std::string& path);

// The version of a file already open for reading (fd stays open).
FileVersion ReadFileVersion(int fd, std::uint64_t size);

// The same for a file image held in memory.
FileVersion ParseFileVersion(std::string_view image);

// "a.b.c.d" for a version given as its two 32-bit halves.
std::string VersionText(std::int32_t high, std::int32_t low);

}  // namespace tessel
