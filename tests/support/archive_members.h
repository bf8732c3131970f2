#pragma once
// Reads the members of an LZH archive back.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "archiver/lzh/archive.h"

namespace tessel::test {

// Every member in archive order, read afresh (no cached index); none when
// the archive cannot be opened.
inline std::vector<lzh::Member> Members(const std::string& archive) {
    const int fd = ::open(archive.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) return {};
    lzh::FileSource src(fd, static_cast<std::uint64_t>(st.st_size));
    auto members = lzh::ScanArchive(src).members;
    ::close(fd);
    return members;
}

// Member path -> original size.
inline std::map<std::string, std::uint64_t> ListMembers(const std::string& archive) {
    std::map<std::string, std::uint64_t> out;
    for (const auto& m : Members(archive)) out[m.path] = m.originalSize;
    return out;
}

// The member path an absolute source path is stored under.
inline std::string MemberPath(const std::string& absolute) { return absolute.substr(1); }

}  // namespace tessel::test
