#pragma once
// File names that break naive quoting, parsing or encoding: quotes, runs of
// blanks, leading dashes, characters code page 932 cannot hold, bytes that
// are not UTF-8, backslashes and tabs.
#include <string>
#include <vector>

namespace tessel::test {

inline const std::vector<std::string> kAwkwardNames = {
    "O'Neil's file.txt", "two  blanks .txt", "-rf", "--help", "日本語のファイル.txt",
    "丂☃😀.txt",  // characters code page 932 cannot hold
    std::string("latin1-caf\xe9-\xff.bin"), "a\"quoted\".txt", "back\\slash", "tab\tname"};

}  // namespace tessel::test
