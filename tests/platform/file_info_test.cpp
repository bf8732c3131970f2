// What the backup records of a file: its times as local ticks at the zone
// offset of the moment, its size, and the version resource of a PE image.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>

#include "platform/file_times.h"
#include "platform/file_version.h"
#include "support/pe_image.h"

namespace tessel {
namespace {

using test::BuildPe;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

constexpr std::int64_t kTicks1970 = 116444736000000000;

// Last-write times are local ticks at the zone offset in force at the file's
// own time, split into signed halves; the size keeps its low 32 bits.
TEST(ReadFileTimes, LocalTicksAtTheOffsetOfTheFilesOwnTimeLow32BitSizesAndCalendarEdges) {
    const struct {
        const char* zone;
        std::int64_t unixSeconds;
        long nanoseconds;
        int offset;
        const char *date, *time;
    } cases[] = {
        {"Asia/Tokyo", 1049515509, 123456789, 9 * 3600, "2003年4月5日(土)", "13時5分9秒"},  // low half has its top bit set
        {"Europe/Berlin", 1705320000, 0, 3600, "2024年1月15日(月)", "13時0分0秒"},         // CET
        {"Europe/Berlin", 1721044800, 0, 7200, "2024年7月15日(月)", "14時0分0秒"},         // CEST
    };
    const char* oldZone = std::getenv("TZ");
    const std::string saved = oldZone ? oldZone : "";
    TempDir dir;
    WriteFile(dir / "f", "hello");
    for (const auto& c : cases) {
        setenv("TZ", c.zone, 1);
        tzset();
        test::SetMtime(dir / "f", c.unixSeconds, c.nanoseconds);
        const FileTimes t = ReadFileTimes(dir / "f");
        ASSERT_EQ(t.status, 0);
        const std::int64_t expect = kTicks1970 + (c.unixSeconds + c.offset) * 10000000 + c.nanoseconds / 100;
        EXPECT_EQ(t.lastWrite.high, static_cast<std::int32_t>(expect >> 32)) << c.date;
        EXPECT_EQ(t.lastWrite.low, static_cast<std::int32_t>(static_cast<std::uint32_t>(expect))) << c.date;
        EXPECT_EQ(t.size, 5);
        EXPECT_EQ(FormatFileTime(t.lastWrite).date, c.date);
        EXPECT_EQ(FormatFileTime(t.lastWrite).time, c.time);
    }
    oldZone ? setenv("TZ", saved.c_str(), 1) : unsetenv("TZ");
    tzset();
    for (const off_t size : {(1LL << 32) + 7, 0xC0000000LL}) {
        ASSERT_EQ(truncate((dir / "f").c_str(), size), 0);
        const FileTimes t = ReadFileTimes(dir / "f");
        EXPECT_EQ(t.size, static_cast<std::int32_t>(static_cast<std::uint32_t>(size)));
        EXPECT_LE(t.creation.ticks(), t.lastWrite.ticks());  // the birth time where kept
    }
    EXPECT_EQ(ReadFileTimes(dir / "missing").status, 9);
    EXPECT_EQ(FormatFileTime(FileTime{0, 0}).date + FormatFileTime(FileTime{0, 0}).time, "1601年1月1日(月)0時0分0秒");
    const std::pair<std::int64_t, const char*> dates[] = {{951782400 + 86399, "2000年2月29日(火)23時59分59秒"},
                                                         {-1, "1969年12月31日(水)23時59分59秒"},
                                                         {4102444800, "2100年1月1日(金)0時0分0秒"}};
    for (const auto& [seconds, text] : dates) {
        const FileTimeTexts f = FormatFileTime(FileTime::FromTicks(kTicks1970 + seconds * 10000000));
        EXPECT_EQ(f.date + f.time, text);
    }
}

// All six fields on one line; a file without a version gives kNone.
std::string Fields(const FileVersion& v) {
    return v.fileText + " " + std::to_string(v.fileHigh) + " " + std::to_string(v.fileLow) + " / " + v.productText + " " +
           std::to_string(v.productHigh) + " " + std::to_string(v.productLow);
}
const std::string kNone = "  0 0 /   0 0";
const std::string kTruth = "1.2.3.4 65538 196612 / 65535.0.40000.7 -65536 -1673527289";

// A truncated or corrupted image gives the true version or none, never
// other numbers (arbitrary bytes are the file version fuzz target's).
TEST(ReadFileVersion, TheFourNumbersAndTextsOfTheResourceEverythingElseNoneAndDamageNeverOtherNumbers) {
    if (!test::HaveMingw()) GTEST_SKIP() << "mingw-w64 binutils are not installed";
    TempDir dir;
    const std::string versioned = BuildPe(dir, "versioned", test::kVersionedRc), image = ReadFile(versioned);
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

    auto trueOrNone = [](const FileVersion& v) { return Fields(v) == kTruth || Fields(v) == kNone; };
    for (size_t n = 0; n < image.size(); n += 7)
        EXPECT_TRUE(trueOrNone(ParseFileVersion(std::string_view(image).substr(0, n)))) << "prefix of " << n;
    // Directory entries pointing at themselves.
    std::string loop = image;
    for (size_t i = 0; i + 4 <= loop.size(); i += 4)
        if (static_cast<unsigned char>(loop[i + 3]) == 0x80) loop[i] = loop[i + 1] = loop[i + 2] = 0;
    EXPECT_TRUE(trueOrNone(ParseFileVersion(loop)));
}

}  // namespace
}  // namespace tessel
