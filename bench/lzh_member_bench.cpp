// Adds N small files to one archive with one Unlha call each, then
// extracts them with one call each; prints the time per member for both.
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "archiver/unlha.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: lzh_member_bench <count> <empty work folder>\n");
        return 2;
    }
    const int count = std::atoi(argv[1]);
    const std::string work = argv[2];
    const std::string src = work + "/src", arc = work + "/bkpcmp.lzh";
    ::mkdir(src.c_str(), 0755);
    for (int i = 0; i < count; ++i) {
        std::ofstream(src + "/file" + std::to_string(i) + ".txt") << "small member number " << i << " with a little text\n";
    }
    std::vector<char> out(30000);
    using Clock = std::chrono::steady_clock;
    auto t0 = Clock::now();
    for (int i = 0; i < count; ++i) {
        std::string line = "u -nd1 " + arc + " \"" + src + "/file" + std::to_string(i) + ".txt\"";
        if (tessel::Unlha(nullptr, line.c_str(), out.data(), out.size()) != 0) { std::fprintf(stderr, "add %d failed\n", i); return 1; }
    }
    auto t1 = Clock::now();
    for (int i = 0; i < count; ++i) {
        std::string line = "e -a1cynx1 " + arc + " " + src + "/ \"file" + std::to_string(i) + ".txt\"";
        if (tessel::Unlha(nullptr, line.c_str(), out.data(), out.size()) != 0) { std::fprintf(stderr, "extract %d failed\n", i); return 1; }
    }
    auto t2 = Clock::now();
    auto us = [](auto d) { return std::chrono::duration<double, std::micro>(d).count(); };
    std::printf("%d members: add %.1f us/member (%.2f s), extract %.1f us/member (%.2f s)\n", count, us(t1 - t0) / count,
                us(t1 - t0) / 1e6, us(t2 - t1) / count, us(t2 - t1) / 1e6);
    return 0;
}
