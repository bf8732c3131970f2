#pragma once
// Small PE executables linked with the mingw-w64 binutils, and copies of one
// with other numbers in the fixed block of its version resource.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "support/temp_dir.h"

namespace tessel::test {

// File version 1.2.3.4, product version 65535.0.40000.7.
inline constexpr const char* kVersionedRc = R"(1 VERSIONINFO
FILEVERSION 1,2,3,4
PRODUCTVERSION 65535,0,40000,7
BEGIN
  BLOCK "VarFileInfo"
  BEGIN
    VALUE "Translation", 0x411, 1200
  END
END
)";

inline bool HaveMingw() {
    return Shell("command -v x86_64-w64-mingw32-windres >/dev/null && command -v x86_64-w64-mingw32-ld >/dev/null && "
                 "command -v x86_64-w64-mingw32-as >/dev/null") == 0;
}

// Links dir/name.exe; rc is the resource script, or empty for an image
// without resources. Returns the path.
inline std::string BuildPe(const TempDir& dir, const std::string& name, const std::string& rc) {
    WriteFile(dir / (name + ".s"), ".text\n.globl start\nstart: ret\n");
    std::string objects = ShellQuote(dir / (name + ".o"));
    std::string cmd = "cd " + ShellQuote(dir.path()) + " && x86_64-w64-mingw32-as " + name + ".s -o " + name + ".o";
    if (!rc.empty()) {
        WriteFile(dir / (name + ".rc"), rc);
        cmd += " && x86_64-w64-mingw32-windres --preprocessor=cat " + name + ".rc -O coff -o " + name + ".res.o";
        objects += " " + ShellQuote(dir / (name + ".res.o"));
    }
    cmd += " && x86_64-w64-mingw32-ld -e start -o " + name + ".exe " + objects;
    EXPECT_EQ(Shell(cmd), 0) << cmd;
    return dir / (name + ".exe");
}

// The image with the four numbers of its fixed version block replaced (file
// high, low, product high, low as the resource holds them).
inline std::string WithVersion(std::string image, std::uint32_t fileHigh, std::uint32_t fileLow, std::uint32_t productHigh,
                               std::uint32_t productLow) {
    const std::string signature("\xBD\x04\xEF\xFE", 4);
    std::size_t at = image.find(signature);
    EXPECT_NE(at, std::string::npos) << "no fixed version block";
    if (at == std::string::npos) return image;
    const std::uint32_t numbers[] = {fileHigh, fileLow, productHigh, productLow};
    for (int i = 0; i < 4; ++i)
        for (int b = 0; b < 4; ++b) image[at + 8 + 4 * i + b] = static_cast<char>((numbers[i] >> (8 * b)) & 0xFF);
    return image;
}

}  // namespace tessel::test
