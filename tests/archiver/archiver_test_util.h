#pragma once
// Helpers shared by the archiver tests.
#include <fcntl.h>
#include <sys/stat.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "archiver/unlha.h"
#include "support/archive_members.h"
#include "support/temp_dir.h"

namespace tessel::test {

inline std::int32_t RunUnlha(const std::string& line) {
    std::vector<char> out(30000);
    return Unlha("TEST", line.c_str(), out.data(), out.size());
}

inline std::string Quote(const std::string& s) { return "\"" + s + "\""; }

// Mixed bytes: text-like runs, repeats and noise, so that both literals and
// matches of every length and distance occur.
inline std::string MixedBytes(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string out;
    const char* words[] = {"static ", "const ", "int ", "return ", "struct ", "#include <", "std::", "\n    ", "0x", "void"};
    while (out.size() < n) {
        switch (rng() % 4) {
        case 0: out += words[rng() % 10]; break;
        case 1: {
            std::size_t len = 3 + rng() % 300, dist = 1 + rng() % 8191;
            if (dist <= out.size())
                for (std::size_t i = 0; i < len; ++i) out += out[out.size() - dist];
            break;
        }
        case 2: for (int i = rng() % 40; i > 0; --i) out += static_cast<char>(rng()); break;
        default: out.append(rng() % 100, static_cast<char>('a' + rng() % 26)); break;
        }
    }
    out.resize(n);
    return out;
}

inline std::string Noise(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string out;
    for (std::size_t i = 0; i < n; ++i) out += static_cast<char>(rng());
    return out;
}

inline std::vector<std::string> MemberPaths(const std::string& archive) {
    std::vector<std::string> paths;
    for (const auto& m : Members(archive)) paths.push_back(m.path);
    return paths;
}

}  // namespace tessel::test
