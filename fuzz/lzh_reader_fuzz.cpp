// Feeds arbitrary bytes to the LZH reader: the index scan, the decoding of
// every member, and a real extraction into a private folder. Aborts when a
// file appears anywhere but inside that folder.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "archiver/archive_ops.h"
#include "archiver/lzh/archive.h"

namespace {

std::string gRoot;  // <tmp>/fuzz-root: holds archive.lzh and out/ only

void RemoveTree(const std::string& p) {
    struct stat st;
    if (::lstat(p.c_str(), &st) != 0) return;
    if (S_ISDIR(st.st_mode)) {
        if (DIR* d = ::opendir(p.c_str())) {
            while (dirent* e = ::readdir(d)) {
                std::string n = e->d_name;
                if (n != "." && n != "..") RemoveTree(p + "/" + n);
            }
            ::closedir(d);
        }
        ::rmdir(p.c_str());
    } else {
        ::unlink(p.c_str());
    }
}

void CheckRootHoldsOnly() {
    DIR* d = ::opendir(gRoot.c_str());
    if (!d) std::abort();
    while (dirent* e = ::readdir(d)) {
        std::string n = e->d_name;
        if (n != "." && n != ".." && n != "archive.lzh" && n != "out") {
            std::fprintf(stderr, "written outside the output folder: %s\n", n.c_str());
            std::abort();
        }
    }
    ::closedir(d);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (gRoot.empty()) {
        char tmpl[] = "/tmp/lzh-fuzz-XXXXXX";
        if (!::mkdtemp(tmpl)) std::abort();
        gRoot = std::string(tmpl) + "/fuzz-root";
        ::mkdir(gRoot.c_str(), 0700);
    }
    tessel::lzh::MemorySource src(data, size);
    auto index = tessel::lzh::ScanArchive(src);
    std::uint64_t budget = 64u << 20;  // decoded bytes per input, against expansion bombs
    for (const auto& m : index.members) {
        std::uint64_t produced = 0;
        tessel::lzh::ExtractMemberData(src, m, [&](const void*, std::size_t n) {
            produced += n;
            return produced <= budget;
        });
        budget -= std::min(budget, produced);
    }

    // A real extraction, through the same path checks as the program's.
    const std::string archive = gRoot + "/archive.lzh";
    const std::string out = gRoot + "/out";
    if (FILE* f = std::fopen(archive.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    bool small = true;
    for (const auto& m : index.members) small = small && m.originalSize <= (1u << 20);
    if (small && index.members.size() <= 16) {
        std::string report;
        tessel::archive::ExtractMembers(
            archive,
            [&](const tessel::lzh::Member& m) -> std::optional<tessel::archive::Placement> {
                return tessel::archive::Placement{out, m.path};
            },
            &report);
    }
    CheckRootHoldsOnly();
    RemoveTree(out);
    ::unlink(archive.c_str());
    return 0;
}
