#include "shell/backup_timer.h"

#include <gtest/gtest.h>

namespace tessel {
namespace {

constexpr TimeOfDay At(int h, int m) { return h * 3600 + m * 60; }

// Drives 20-second ticks from a start time over the given number of days
// and returns the times of day at which a backup started, per day.
std::vector<std::vector<TimeOfDay>> Drive(TimeOfDay start, const std::array<TimeOfDay, 3>& times, int days) {
    BackupTimerSlots slots;
    std::vector<std::vector<TimeOfDay>> starts(days);
    TimeOfDay now = start + 20;
    for (int day = 0; day < days; ++day) {
        for (; now < 86400; now += 20)
            if (slots.tick(now, times)) starts[day].push_back(now);
        now -= 86400;
    }
    return starts;
}

TEST(BackupTimer, OneSetTimeStartsOneBackupADay) {
    auto starts = Drive(At(8, 0), {At(9, 0), 0, 0}, 2);
    EXPECT_EQ(starts[0], std::vector<TimeOfDay>{At(9, 0)});
    EXPECT_EQ(starts[1], std::vector<TimeOfDay>{At(9, 0)});
}

TEST(BackupTimer, StartAfterTheSetTimeBacksUpAtTheFirstTick) {
    auto starts = Drive(At(10, 0), {At(9, 0), 0, 0}, 2);
    EXPECT_EQ(starts[0], std::vector<TimeOfDay>{At(10, 0) + 20});
    EXPECT_EQ(starts[1], std::vector<TimeOfDay>{At(9, 0)});
}

TEST(BackupTimer, TwoAndThreeSetTimes) {
    auto two = Drive(At(0, 1), {At(9, 0), At(13, 0), 0}, 2);
    EXPECT_EQ(two[0], (std::vector<TimeOfDay>{At(9, 0), At(13, 0)}));
    EXPECT_EQ(two[1], (std::vector<TimeOfDay>{At(9, 0), At(13, 0)}));
    auto three = Drive(At(0, 1), {At(9, 0), At(13, 0), At(22, 30)}, 2);
    EXPECT_EQ(three[1], (std::vector<TimeOfDay>{At(9, 0), At(13, 0), At(22, 30)}));
}

TEST(BackupTimer, EqualTimesAndLateStartGiveOneBackupPerTick) {
    auto equal = Drive(At(11, 0), {At(12, 0), At(12, 0), 0}, 2);
    EXPECT_EQ(equal[0], std::vector<TimeOfDay>{At(12, 0)});
    EXPECT_EQ(equal[1], std::vector<TimeOfDay>{At(12, 0)});
    // Started at 18:00 after both times: one backup at the first tick, and
    // slot 2 is marked done without one of its own.
    auto late = Drive(At(18, 0), {At(9, 0), At(13, 0), 0}, 2);
    EXPECT_EQ(late[0], std::vector<TimeOfDay>{At(18, 0) + 20});
    EXPECT_EQ(late[1], (std::vector<TimeOfDay>{At(9, 0), At(13, 0)}));
}

TEST(BackupTimer, NoSetTimeNoBackup) {
    auto none = Drive(At(0, 1), {0, 0, 0}, 2);
    EXPECT_TRUE(none[0].empty());
    EXPECT_TRUE(none[1].empty());
}

}  // namespace
}  // namespace tessel
