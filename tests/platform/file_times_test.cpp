#include "platform/file_times.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <optional>

#include "support/temp_dir.h"

namespace tessel {
namespace {

using test::TempDir;
using test::WriteFile;

// Sets TZ for the life of the object.
struct ZoneGuard {
    explicit ZoneGuard(const char* zone) : old(std::getenv("TZ") ? std::optional<std::string>(std::getenv("TZ")) : std::nullopt) {
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ZoneGuard() {
        old ? setenv("TZ", old->c_str(), 1) : unsetenv("TZ");
        tzset();
    }
    std::optional<std::string> old;
};

void SetModified(const std::string& path, std::int64_t unixSeconds, long nanoseconds = 0) {
    struct timespec times[2] = {{static_cast<time_t>(unixSeconds), nanoseconds},
                                {static_cast<time_t>(unixSeconds), nanoseconds}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
}

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
    TempDir dir;
    WriteFile(dir / "f", "hello");
    for (const Case& c : cases) {
        ZoneGuard tz(c.zone);
        SetModified(dir / "f", c.unixSeconds, c.nanoseconds);
        FileTimes t = ReadFileTimes(dir / "f");
        ASSERT_EQ(t.status, 0);
        std::int64_t expect = kTicks1970 + (c.unixSeconds + c.offset) * 10000000 + c.nanoseconds / 100;
        EXPECT_EQ(t.lastWrite.high, static_cast<std::int32_t>(expect >> 32)) << c.date;
        EXPECT_EQ(t.lastWrite.low, static_cast<std::int32_t>(static_cast<std::uint32_t>(expect))) << c.date;
        EXPECT_EQ(t.size, 5);
        EXPECT_EQ(FormatFileTime(t.lastWrite).date, c.date);
        EXPECT_EQ(FormatFileTime(t.lastWrite).time, c.time);
    }
}

TEST(ReadFileTimes, SizeKeepsTheLow32BitsAndFailuresGiveStatusNine) {
    TempDir dir;
    int fd = open((dir / "sparse").c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, (1LL << 32) + 7), 0);
    close(fd);
    EXPECT_EQ(ReadFileTimes(dir / "sparse").size, 7);
    fd = open((dir / "big").c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_EQ(ftruncate(fd, 0xC0000000LL), 0);
    close(fd);
    EXPECT_EQ(ReadFileTimes(dir / "big").size, static_cast<std::int32_t>(0xC0000000u));
    EXPECT_EQ(ReadFileTimes(dir / "missing").status, 9);
    FileTimes ok = ReadFileTimes(dir / "sparse");
    EXPECT_EQ(ok.status, 0);
    // Creation is the birth time where kept, never later than the last write here.
    EXPECT_LE(ok.creation.ticks(), ok.lastWrite.ticks());
}

TEST(FormatFileTime, CalendarEdges) {
    auto at = [](std::int64_t localSecondsSince1970) {
        return FormatFileTime(FileTime::FromTicks(kTicks1970 + localSecondsSince1970 * 10000000));
    };
    EXPECT_EQ(FormatFileTime(FileTime{0, 0}).date, "1601年1月1日(月)");
    EXPECT_EQ(FormatFileTime(FileTime{0, 0}).time, "0時0分0秒");
    EXPECT_EQ(at(951782400).date, "2000年2月29日(火)");
    EXPECT_EQ(at(951782400 + 86399).time, "23時59分59秒");
    EXPECT_EQ(at(-1).date, "1969年12月31日(水)");
    EXPECT_EQ(at(4102444800).date, "2100年1月1日(金)");
    EXPECT_EQ(at(0).date, "1970年1月1日(木)");
}

}  // namespace
}  // namespace tessel
