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

// All six fields on one line; a file without a version gives kNone.
std::string Fields(const FileVersion& v) {
    return v.fileText + " " + std::to_string(v.fileHigh) + " " + std::to_string(v.fileLow) + " / " + v.productText + " " +
           std::to_string(v.productHigh) + " " + std::to_string(v.productLow);
}
const std::string kNone = "  0 0 /   0 0";
const std::string kTruth = "1.2.3.4 65538 196612 / 65535.0.40000.7 -65536 -1673527289";

class PeFiles : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::HaveMingw()) GTEST_SKIP() << "mingw-w64 binutils are not installed";
        versioned = BuildPe(dir, "versioned", test::kVersionedRc);
        image = ReadFile(versioned);
    }
    TempDir dir;
    std::string versioned, image;
};

TEST_F(PeFiles, VersionResourceGivesTheFourNumbersAndTextsAndEverythingElseNone) {
    EXPECT_EQ(Fields(ReadFileVersion(versioned)), kTruth);
    // The halves are unsigned 16-bit fields, whatever the sign of the half.
    EXPECT_EQ(Fields(ParseFileVersion(test::WithVersion(image, 0x80010002u, 0x00030004u, 0xFFFFFFFFu, 0xFFFFFFFFu))),
              "32769.2.3.4 -2147418110 196612 / 65535.65535.65535.65535 -1 -1");
    FileVersion v;
    const FileTimes t = ReadFileInfo(versioned, v);
    ASSERT_EQ(t.status, 0);
    EXPECT_EQ(t.lastWrite.ticks(), ReadFileTimes(versioned).lastWrite.ticks());
    EXPECT_EQ(t.size, static_cast<std::int32_t>(image.size()));
    EXPECT_EQ(Fields(v), kTruth);

    // A link to a versioned image is not followed; a FIFO is not waited on.
    WriteFile(dir / "text.txt", "MZ but only text, nothing more of a PE header here........................");
    ASSERT_EQ(symlink(versioned.c_str(), (dir / "link.exe").c_str()), 0);
    ASSERT_EQ(mkfifo((dir / "pipe.exe").c_str(), 0644), 0);
    for (const std::string& path : {BuildPe(dir, "plain", ""), BuildPe(dir, "other", "7 RCDATA\nBEGIN\n  \"data\"\nEND\n"),
                                    dir / "text.txt", dir / "missing.exe", dir.path(), dir / "link.exe", dir / "pipe.exe"}) {
        EXPECT_EQ(Fields(ReadFileVersion(path)), kNone) << path;
        if (path.ends_with(".txt") || path.find("/plain") != std::string::npos || path.find("/other") != std::string::npos) continue;
        FileVersion none;
        EXPECT_EQ(ReadFileInfo(path, none).status, 9) << path;
        EXPECT_EQ(Fields(none), kNone) << path;
    }
}

TEST_F(PeFiles, TruncatedAndCorruptedImagesGiveTheTrueVersionOrNone) {
    auto trueOrNone = [](const FileVersion& v) { return Fields(v) == kTruth || Fields(v) == kNone; };
    for (size_t n = 0; n < image.size(); n += 7)
        EXPECT_TRUE(trueOrNone(ParseFileVersion(std::string_view(image).substr(0, n)))) << "prefix of " << n;
    // Random bytes changed anywhere but in the four numbers themselves.
    const size_t numbers = image.find(std::string("\xBD\x04\xEF\xFE", 4)) + 8;
    std::mt19937 rng(4);
    std::uniform_int_distribution<size_t> pos(0, image.size() - 1);
    std::uniform_int_distribution<int> byte(0, 255);
    int none = 0;
    for (int round = 0; round < 2000; ++round) {
        std::string mutated = image;
        for (int i = 0; i <= round % 8; ++i) {
            size_t at = pos(rng);
            if (at < numbers || at >= numbers + 16) mutated[at] = static_cast<char>(byte(rng));
        }
        FileVersion v = ParseFileVersion(mutated);
        ASSERT_TRUE(trueOrNone(v)) << "round " << round << ": " << Fields(v);
        none += Fields(v) == kNone;
    }
    EXPECT_GT(none, 0) << "some mutation must have broken the resource";
    // Directory entries pointing at themselves.
    std::string loop = image;
    for (size_t i = 0; i + 4 <= loop.size(); i += 4)
        if (static_cast<unsigned char>(loop[i + 3]) == 0x80) loop[i] = loop[i + 1] = loop[i + 2] = 0;
    EXPECT_TRUE(trueOrNone(ParseFileVersion(loop)));
}

}  // namespace
}  // namespace tessel
