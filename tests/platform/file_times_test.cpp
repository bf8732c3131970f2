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

// Sets TZ for the life of the object.
class ZoneGuard {
public:
    explicit ZoneGuard(const char* zone) {
        if (const char* old = std::getenv("TZ")) {
            old_ = old;
            had_ = true;
        }
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ZoneGuard() {
        if (had_) setenv("TZ", old_.c_str(), 1);
        else unsetenv("TZ");
        tzset();
    }

private:
    std::string old_;
    bool had_ = false;
};

void SetModified(const std::string& path, std::int64_t unixSeconds, long nanoseconds = 0) {
    struct timespec times[2] = {{static_cast<time_t>(unixSeconds), nanoseconds},
                                {static_cast<time_t>(unixSeconds), nanoseconds}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
}

constexpr std::int64_t kTicks1970 = 116444736000000000;

TEST(ReadFileTimes, LastWriteIsLocalTicksSplitIntoSignedHalves) {
    ZoneGuard tz("Asia/Tokyo");
    TempDir dir;
    WriteFile(dir / "f", "hello");
    // 2003-04-05 04:05:09 UTC = 13:05:09 in Tokyo.
    SetModified(dir / "f", 1049515509, 123456789);
    FileTimes t = ReadFileTimes(dir / "f");
    ASSERT_EQ(t.status, 0);
    std::int64_t expect = kTicks1970 + (1049515509LL + 9 * 3600) * 10000000 + 1234567;
    EXPECT_EQ(t.lastWrite.ticks(), expect);
    EXPECT_EQ(t.lastWrite.high, static_cast<std::int32_t>(expect >> 32));
    EXPECT_EQ(t.lastWrite.low, static_cast<std::int32_t>(static_cast<std::uint32_t>(expect)));
    EXPECT_LT(t.lastWrite.low, 0) << "this instant has the top bit of the low half set";
    EXPECT_EQ(t.size, 5);
    FileTimeTexts texts = FormatFileTime(t.lastWrite);
    EXPECT_EQ(texts.date, "2003年4月5日(土)");
    EXPECT_EQ(texts.time, "13時5分9秒");
}

TEST(ReadFileTimes, UsesTheZoneOffsetInForceAtTheFilesOwnTime) {
    ZoneGuard tz("Europe/Berlin");
    TempDir dir;
    WriteFile(dir / "winter", "");
    WriteFile(dir / "summer", "");
    SetModified(dir / "winter", 1705320000);  // 2024-01-15 12:00 UTC, CET (+1)
    SetModified(dir / "summer", 1721044800);  // 2024-07-15 12:00 UTC, CEST (+2)
    EXPECT_EQ(ReadFileTimes(dir / "winter").lastWrite.ticks(), kTicks1970 + (1705320000LL + 3600) * 10000000);
    EXPECT_EQ(ReadFileTimes(dir / "summer").lastWrite.ticks(), kTicks1970 + (1721044800LL + 7200) * 10000000);
    EXPECT_EQ(FormatFileTime(ReadFileTimes(dir / "summer").lastWrite).time, "14時0分0秒");
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
