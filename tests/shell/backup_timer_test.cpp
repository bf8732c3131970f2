#include "shell/backup_timer.h"

#include <gtest/gtest.h>

namespace tessel {
namespace {

constexpr TimeOfDay At(int h, int m) { return h * 3600 + m * 60; }
using Starts = std::vector<TimeOfDay>;

// Drives 20-second ticks from a start time over two days and returns the
// times of day at which a backup started, per day.
std::array<Starts, 2> Drive(TimeOfDay start, const std::array<TimeOfDay, 3>& times) {
    BackupTimerSlots slots;
    std::array<Starts, 2> starts;
    TimeOfDay now = start + 20;
    for (Starts& day : starts) {
        for (; now < 86400; now += 20)
            if (slots.tick(now, times)) day.push_back(now);
        now -= 86400;
    }
    return starts;
}

TEST(BackupTimer, EachSetTimeStartsOneBackupADayAndOneTickAtMostOne) {
    struct Case {
        const char* what;
        TimeOfDay start;
        std::array<TimeOfDay, 3> times;
        Starts firstDay, secondDay;
    };
    const Case cases[] = {
        {"one time", At(8, 0), {At(9, 0), 0, 0}, {At(9, 0)}, {At(9, 0)}},
        {"started after it: the first tick", At(10, 0), {At(9, 0), 0, 0}, {At(10, 0) + 20}, {At(9, 0)}},
        {"two times", At(0, 1), {At(9, 0), At(13, 0), 0}, {At(9, 0), At(13, 0)}, {At(9, 0), At(13, 0)}},
        {"three times", At(0, 1), {At(9, 0), At(13, 0), At(22, 30)}, {At(9, 0), At(13, 0), At(22, 30)},
         {At(9, 0), At(13, 0), At(22, 30)}},
        {"equal times", At(11, 0), {At(12, 0), At(12, 0), 0}, {At(12, 0)}, {At(12, 0)}},
        // After both times: one backup at the first tick, slot 2 is marked
        // done without one of its own.
        {"started after two", At(18, 0), {At(9, 0), At(13, 0), 0}, {At(18, 0) + 20}, {At(9, 0), At(13, 0)}},
        {"only slot 3 set", At(0, 1), {0, 0, At(23, 59)}, {At(23, 59)}, {At(23, 59)}},
        {"no time", At(0, 1), {0, 0, 0}, {}, {}},
    };
    for (const Case& c : cases) {
        auto starts = Drive(c.start, c.times);
        EXPECT_EQ(starts[0], c.firstDay) << c.what;
        EXPECT_EQ(starts[1], c.secondDay) << c.what;
    }
}

}  // namespace
}  // namespace tessel
