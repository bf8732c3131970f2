#include "platform/file_version.h"
#include "platform/file_times.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <random>

#include "support/temp_dir.h"

namespace tessel {
namespace {

using test::ReadFile;
using test::Shell;
using test::ShellQuote;
using test::TempDir;
using test::WriteFile;

constexpr const char* kVersionedRc = R"(1 VERSIONINFO
FILEVERSION 1,2,3,4
PRODUCTVERSION 65535,0,40000,7
BEGIN
  BLOCK "StringFileInfo"
  BEGIN
    BLOCK "041104B0"
    BEGIN
      VALUE "FileVersion", "1.2.3.4"
      VALUE "ProductName", "Tessel test"
    END
  END
  BLOCK "VarFileInfo"
  BEGIN
    VALUE "Translation", 0x411, 1200
  END
END
)";

constexpr const char* kOtherResourceRc = "7 RCDATA\nBEGIN\n  \"just data\"\nEND\n";

bool HaveMingw() {
    return Shell("command -v x86_64-w64-mingw32-windres >/dev/null && command -v x86_64-w64-mingw32-ld >/dev/null && "
                 "command -v x86_64-w64-mingw32-as >/dev/null") == 0;
}

// Links a small PE executable with the mingw-w64 binutils; rc is the
// resource script, or empty for an image without resources.
std::string BuildPe(const TempDir& dir, const std::string& name, const std::string& rc) {
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

class PeFiles : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveMingw()) GTEST_SKIP() << "mingw-w64 binutils are not installed";
        versioned = BuildPe(dir, "versioned", kVersionedRc);
        plain = BuildPe(dir, "plain", "");
        other = BuildPe(dir, "other", kOtherResourceRc);
    }
    TempDir dir;
    std::string versioned, plain, other;
};

void ExpectNone(const FileVersion& v) {
    EXPECT_EQ(v.fileText, " ");
    EXPECT_EQ(v.productText, " ");
    EXPECT_EQ(v.fileHigh, 0);
    EXPECT_EQ(v.fileLow, 0);
    EXPECT_EQ(v.productHigh, 0);
    EXPECT_EQ(v.productLow, 0);
}

TEST_F(PeFiles, VersionResourceGivesTheFourNumbersAndTexts) {
    FileVersion v = ReadFileVersion(versioned);
    EXPECT_EQ(v.fileHigh, 0x00010002);
    EXPECT_EQ(v.fileLow, 0x00030004);
    EXPECT_EQ(v.fileText, "1.2.3.4");
    EXPECT_EQ(v.productHigh, static_cast<std::int32_t>(0xFFFF0000u));
    EXPECT_EQ(v.productLow, static_cast<std::int32_t>((40000u << 16) | 7u));
    EXPECT_EQ(v.productText, "65535.0.40000.7");
}

TEST_F(PeFiles, ImagesWithoutAVersionResourceAndOtherFilesGiveBlank) {
    ExpectNone(ReadFileVersion(plain));
    ExpectNone(ReadFileVersion(other));
    WriteFile(dir / "text.txt", "MZ but only text, nothing more of a PE header here........................");
    ExpectNone(ReadFileVersion(dir / "text.txt"));
    ExpectNone(ReadFileVersion(dir / "missing.exe"));
    ExpectNone(ReadFileVersion(dir.path()));
    // A link to a versioned image is not followed; a FIFO is not waited on.
    ASSERT_EQ(symlink(versioned.c_str(), (dir / "link.exe").c_str()), 0);
    ExpectNone(ReadFileVersion(dir / "link.exe"));
    ASSERT_EQ(mkfifo((dir / "pipe.exe").c_str(), 0644), 0);
    ExpectNone(ReadFileVersion(dir / "pipe.exe"));
}

TEST_F(PeFiles, TruncatedAndCorruptedImagesNeverCrash) {
    const std::string image = ReadFile(versioned);
    // Every prefix: only images that reach the end of the fixed block can
    // answer, and those that answer give the true numbers.
    for (size_t n = 0; n < image.size(); n += 7) {
        FileVersion v = ParseFileVersion(std::string_view(image).substr(0, n));
        if (v.fileText != " ") {
            EXPECT_EQ(v.fileText, "1.2.3.4");
        }
    }
    std::mt19937 rng(4);
    std::uniform_int_distribution<size_t> pos(0, image.size() - 1);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int round = 0; round < 20000; ++round) {
        std::string mutated = image;
        int flips = 1 + round % 8;
        for (int i = 0; i < flips; ++i) mutated[pos(rng)] = static_cast<char>(byte(rng));
        FileVersion v = ParseFileVersion(mutated);
        (void)v;
    }
    // Directory entries pointing at themselves or far outside the file.
    std::string loop = image;
    for (size_t i = 0; i + 4 <= loop.size(); i += 4)
        if (static_cast<unsigned char>(loop[i + 3]) == 0x80) loop[i] = loop[i + 1] = loop[i + 2] = 0;
    ParseFileVersion(loop);
}

TEST_F(PeFiles, ReadFileInfoGivesTimesAndVersionFromOneOpenAndRefusesSpecialFiles) {
    FileVersion v;
    FileTimes t = ReadFileInfo(versioned, v);
    ASSERT_EQ(t.status, 0);
    EXPECT_EQ(t.lastWrite.ticks(), ReadFileTimes(versioned).lastWrite.ticks());
    EXPECT_EQ(t.size, static_cast<std::int32_t>(ReadFile(versioned).size()));
    EXPECT_EQ(v.fileText, "1.2.3.4");
    EXPECT_EQ(v.productText, "65535.0.40000.7");
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0644), 0);
    ASSERT_EQ(symlink(versioned.c_str(), (dir / "link").c_str()), 0);
    for (std::string special : {"fifo", "link", "missing"}) {
        FileVersion none;
        EXPECT_EQ(ReadFileInfo(dir / special, none).status, 9) << special;
        ExpectNone(none);
    }
    FileVersion d;
    EXPECT_EQ(ReadFileInfo(dir.path(), d).status, 9);
}

TEST(ParseFileVersion, RandomBytesGiveBlank) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int round = 0; round < 5000; ++round) {
        std::string bytes(static_cast<size_t>(round % 700), '\0');
        for (char& c : bytes) c = static_cast<char>(byte(rng));
        if (bytes.size() >= 2) {
            bytes[0] = 'M';
            bytes[1] = 'Z';
        }
        if (bytes.size() >= 0x44) {
            bytes.replace(0x3C, 4, std::string("\x40\0\0\0", 4));
            bytes.replace(0x40, 4, std::string("PE\0\0", 4));
        }
        FileVersion v = ParseFileVersion(bytes);
        EXPECT_EQ(v.fileText == " ", v.fileHigh == 0 && v.fileLow == 0 && v.productText == " ")
            << "a blank text always comes with zero numbers";
    }
}

TEST(VersionText, HalvesAreUnsignedSixteenBitFields) {
    EXPECT_EQ(VersionText(0, 0), "0.0.0.0");
    EXPECT_EQ(VersionText(-1, -1), "65535.65535.65535.65535");
    EXPECT_EQ(VersionText(static_cast<std::int32_t>(0x80010002u), 0x00030004), "32769.2.3.4");
}

}  // namespace
}  // namespace tessel
