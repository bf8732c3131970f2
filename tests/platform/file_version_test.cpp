#include "platform/file_version.h"
#include "platform/file_times.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <random>

#include "support/pe_image.h"

namespace tessel {
namespace {

using test::BuildPe;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

constexpr const char* kOtherResourceRc = "7 RCDATA\nBEGIN\n  \"just data\"\nEND\n";

class PeFiles : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::HaveMingw()) GTEST_SKIP() << "mingw-w64 binutils are not installed";
        versioned = BuildPe(dir, "versioned", test::kVersionedRc);
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
    // The halves are unsigned 16-bit fields, whatever the sign of the half.
    v = ParseFileVersion(test::WithVersion(ReadFile(versioned), 0x80010002u, 0x00030004u, 0xFFFFFFFFu, 0xFFFFFFFFu));
    EXPECT_EQ(v.fileText, "32769.2.3.4");
    EXPECT_EQ(v.fileHigh, static_cast<std::int32_t>(0x80010002u));
    EXPECT_EQ(v.productText, "65535.65535.65535.65535");
    EXPECT_EQ(v.productLow, -1);
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

TEST_F(PeFiles, TruncatedAndCorruptedImagesGiveTheTrueVersionOrNone) {
    const std::string image = ReadFile(versioned);
    const FileVersion truth = ReadFileVersion(versioned);
    auto trueOrNone = [&](const FileVersion& v) {
        return (v.fileText == " " && v.productText == " " && v.fileHigh == 0 && v.fileLow == 0 && v.productHigh == 0 &&
                v.productLow == 0) ||
               (v.fileText == truth.fileText && v.productText == truth.productText && v.fileHigh == truth.fileHigh &&
                v.fileLow == truth.fileLow && v.productHigh == truth.productHigh && v.productLow == truth.productLow);
    };
    for (size_t n = 0; n < image.size(); n += 7)
        EXPECT_TRUE(trueOrNone(ParseFileVersion(std::string_view(image).substr(0, n)))) << "prefix of " << n;
    // Random bytes changed anywhere but in the four numbers themselves.
    const size_t numbers = image.find(std::string("\xBD\x04\xEF\xFE", 4)) + 8;
    std::mt19937 rng(4);
    std::uniform_int_distribution<size_t> pos(0, image.size() - 1);
    std::uniform_int_distribution<int> byte(0, 255);
    int blank = 0;
    for (int round = 0; round < 2000; ++round) {
        std::string mutated = image;
        for (int i = 0; i <= round % 8; ++i) {
            size_t at = pos(rng);
            if (at < numbers || at >= numbers + 16) mutated[at] = static_cast<char>(byte(rng));
        }
        FileVersion v = ParseFileVersion(mutated);
        ASSERT_TRUE(trueOrNone(v)) << "round " << round << ": " << v.fileText << " / " << v.productText;
        blank += v.fileText == " ";
    }
    EXPECT_GT(blank, 0) << "some mutation must have broken the resource";
    // Directory entries pointing at themselves.
    std::string loop = image;
    for (size_t i = 0; i + 4 <= loop.size(); i += 4)
        if (static_cast<unsigned char>(loop[i + 3]) == 0x80) loop[i] = loop[i + 1] = loop[i + 2] = 0;
    EXPECT_TRUE(trueOrNone(ParseFileVersion(loop)));
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

}  // namespace
}  // namespace tessel
