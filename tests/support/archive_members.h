#pragma once
// Reads LZH archive members back with the tessel-lzh tool.
#include <cstdint>
#include <cstdio>
#include <map>
#include <regex>
#include <string>

#include "support/temp_dir.h"

namespace tessel::test {

// Member path -> original size; empty when the archive cannot be listed.
inline std::map<std::string, std::uint64_t> ListMembers(const std::string& archive) {
    std::map<std::string, std::uint64_t> out;
    std::string cmd = std::string(TESSEL_BINARY_DIR) + "/tessel-lzh l " + ShellQuote(archive) + " 2>/dev/null";
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return out;
    std::string text;
    char buf[4096];
    while (size_t n = fread(buf, 1, sizeof buf, p)) text.append(buf, n);
    pclose(p);
    static const std::regex line(R"(^(\S+) +(\d+) +(\d+)  (\S+ \S+)  (.*)$)");
    size_t at = text.find('\n');  // skip the heading
    while (at != std::string::npos && at + 1 < text.size()) {
        size_t end = text.find('\n', at + 1);
        std::string l = text.substr(at + 1, end == std::string::npos ? std::string::npos : end - at - 1);
        std::smatch m;
        if (std::regex_match(l, m, line)) out[m[5]] = std::stoull(m[2]);
        at = end;
    }
    return out;
}

// The member path an absolute source path is stored under.
inline std::string MemberPath(const std::string& absolute) { return absolute.substr(1); }

}  // namespace tessel::test
