#include "platform/file_times.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>

#include "support/temp_dir.h"

namespace tessel {
namespace {

using test::TempDir;
using test::WriteFile;

constexpr std::int64_t kTicks1970 = 116444736000000000;

TEST(ReadFileTimes, LastWriteIsLocalTicksAtTheZoneOffsetOfTheFilesOwnTimeSplitIntoSignedHalves) {
    struct Case {
        const char* zone;
        std::int64_t unixSeconds;
        long nanoseconds;
        int offset;
        const char* date;
        const char* time;
    };
    const Case cases[] = {
        {"Asia/Tokyo", 1049515509, 123456789, 9 * 3600, "2003年4月5日(土)", "13時5分9秒"},  // low half has its top bit set
        {"Europe/Berlin", 1705320000, 0, 3600, "2024年1月15日(月)", "13時0分0秒"},         // CET
        {"Europe/Berlin", 1721044800, 0, 7200, "2024年7月15日(月)", "14時0分0秒"},         // CEST
    };
    const char* oldZone = std::getenv("TZ");
    const std::string saved = oldZone ? oldZone : "";
    TempDir dir;
    WriteFile(dir / "f", "hello");
    for (const Case& c : cases) {
        setenv("TZ", c.zone, 1);
        tzset();
        const struct timespec times[2] = {{c.unixSeconds, c.nanoseconds}, {c.unixSeconds, c.nanoseconds}};
        ASSERT_EQ(utimensat(AT_FDCWD, (dir / "f").c_str(), times, 0), 0);
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
}

TEST(ReadFileTimes, SizeKeepsTheLow32BitsAndFailuresGiveStatusNine) {
    TempDir dir;
    for (const off_t size : {(1LL << 32) + 7, 0xC0000000LL}) {
        const int fd = open((dir / "sparse").c_str(), O_CREAT | O_WRONLY, 0644);
        ASSERT_EQ(ftruncate(fd, size), 0);
        close(fd);
        const FileTimes t = ReadFileTimes(dir / "sparse");
        EXPECT_EQ(t.size, static_cast<std::int32_t>(static_cast<std::uint32_t>(size)));
        EXPECT_LE(t.creation.ticks(), t.lastWrite.ticks());  // the birth time where kept
    }
    EXPECT_EQ(ReadFileTimes(dir / "missing").status, 9);
}

TEST(FormatFileTime, CalendarEdges) {
    EXPECT_EQ(FormatFileTime(FileTime{0, 0}).date, "1601年1月1日(月)");
    EXPECT_EQ(FormatFileTime(FileTime{0, 0}).time, "0時0分0秒");
    const std::pair<std::int64_t, const char*> dates[] = {
        {951782400, "2000年2月29日(火)"}, {-1, "1969年12月31日(水)"}, {4102444800, "2100年1月1日(金)"}, {0, "1970年1月1日(木)"}};
    for (const auto& [seconds, date] : dates)
        EXPECT_EQ(FormatFileTime(FileTime::FromTicks(kTicks1970 + seconds * 10000000)).date, date);
    EXPECT_EQ(FormatFileTime(FileTime::FromTicks(kTicks1970 + (951782400 + 86399) * 10000000LL)).time, "23時59分59秒");
}

}  // namespace
}  // namespace tessel
