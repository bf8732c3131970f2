// The retention policy's calendar: days, ISO weeks, months and years, their
// boundaries, gaps between backups, one run per period, reasons.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "retention/retention_policy.h"

namespace tessel::test {
namespace {

struct Case {
    const char* what;
    RetentionPolicy policy;
    std::vector<const char*> starts;  // run 1, 2, ... as "yyyy-mm-dd hh:mm:ss" ("" unknown)
    std::map<std::int64_t, std::string> kept;  // run -> its reasons, joined by ","
};

std::string Joined(const RunVerdict& v) {
    std::string out;
    for (KeepReason r : v.reasons) out += (out.empty() ? "" : ",") + std::string(ReasonCode(r));
    return out;
}

TEST(RetentionPolicy, CalendarTable) {
    const std::vector<Case> cases = {
        {"last run of each of the last two days; the latest always",
         {0, 2, 0, 0, 0},
         {"2024-03-01 09:00:00", "2024-03-01 18:00:00", "2024-03-02 09:00:00", "2024-03-02 23:59:59", "2024-03-03 00:00:00"},
         {{5, "latest,daily"}, {4, "daily"}}},
        {"ISO weeks: Monday 30 December 2024 is in week 1 of 2025, Sunday 29 December in week 52 of 2024",
         {0, 0, 2, 0, 0},
         {"2024-12-29 10:00:00", "2024-12-30 10:00:00", "2025-01-05 10:00:00", "2025-01-06 10:00:00"},
         {{4, "latest,weekly"}, {3, "weekly"}}},
        {"months at the year's turn: the last second of December and the first of January are different months",
         {0, 0, 0, 3, 0},
         {"2023-11-30 10:00:00", "2023-12-31 23:59:59", "2024-01-01 00:00:00", "2024-01-31 08:00:00"},
         {{4, "latest,monthly"}, {2, "monthly"}, {1, "monthly"}}},
        {"a pause uses up no slot: months without runs are not counted",
         {0, 0, 0, 2, 0},
         {"2023-01-10 10:00:00", "2023-01-20 10:00:00", "2023-06-01 10:00:00", "2023-06-02 10:00:00"},
         {{4, "latest,monthly"}, {2, "monthly"}}},
        {"years, one run each",
         {0, 0, 0, 0, 3},
         {"2019-05-05 05:05:05", "2020-02-29 12:00:00", "2021-12-31 23:00:00", "2022-01-01 01:00:00", "2023-07-07 07:07:07"},
         {{5, "latest,yearly"}, {4, "yearly"}, {3, "yearly"}}},
        {"rules add up; a run kept by several says so",
         {2, 1, 0, 0, 0},
         {"2024-03-01 09:00:00", "2024-03-02 09:00:00", "2024-03-02 10:00:00", "2024-03-02 11:00:00"},
         {{4, "latest,last,daily"}, {3, "last"}}},
        {"a run of unknown time is kept; it uses no slot",
         {1, 0, 0, 0, 0},
         {"2024-03-01 09:00:00", "", "2024-03-02 09:00:00", "2024-03-03 09:00:00"},
         {{2, "no-time"}, {4, "latest,last"}}},
        {"the clock went back: the latest number is kept, the newest time takes the slot",
         {1, 0, 0, 0, 0},
         {"2024-03-01 09:00:00", "2024-03-05 09:00:00", "2024-03-02 09:00:00"},
         {{3, "latest"}, {2, "last"}}},
        {"equal times: the higher number counts as newer",
         {0, 1, 0, 0, 0},
         {"2024-03-01 09:00:00", "2024-03-01 09:00:00"},
         {{2, "latest,daily"}}},
    };
    for (const Case& c : cases) {
        std::vector<RunToSort> runs;
        for (std::size_t i = 0; i < c.starts.size(); ++i) {
            const std::string s = c.starts[i];
            runs.push_back({static_cast<std::int64_t>(i + 1),
                            s.empty() ? std::nullopt : ParseRunClock(s.substr(0, 10), s.substr(11))});
        }
        const std::vector<RunVerdict> verdicts = ApplyRetentionPolicy(runs, c.policy);
        std::map<std::int64_t, std::string> kept;
        for (const RunVerdict& v : verdicts)
            if (v.kept()) kept[v.run] = Joined(v);
        EXPECT_EQ(verdicts.size(), runs.size()) << c.what;
        EXPECT_EQ(kept, c.kept) << c.what;
    }
}

TEST(RetentionPolicy, IsoWeeksAndRecordedTimes) {
    const struct {
        int y, m, d, key;
    } weeks[] = {{2020, 12, 31, 202053}, {2021, 1, 3, 202053}, {2021, 1, 4, 202101}, {2008, 12, 29, 200901}};
    for (const auto& w : weeks) EXPECT_EQ(IsoWeekKey(w.y, w.m, w.d), w.key) << w.y << "-" << w.m << "-" << w.d;

    EXPECT_EQ(ParseRunClock("2024-03-09", "13:05:09"), (RunClock{2024, 3, 9, 13, 5, 9}));
    EXPECT_EQ(ParseRunClock("2004/3/9", "9:05"), (RunClock{2004, 3, 9, 9, 5, 0}));
    EXPECT_EQ(ParseRunClock("2024-02-29", ""), (RunClock{2024, 2, 29, 0, 0, 0}));
    for (auto [day, time] : std::vector<std::pair<const char*, const char*>>{
             {"2023-02-29", "10:00:00"}, {"", "10:00:00"}, {"2024-13-01", ""}, {"2024-03-09", "24:00:00"},
             {"2024-03-09", "10:00:00:00"}, {"24-03-09", ""}, {"2024-03-09x", ""}})
        EXPECT_FALSE(ParseRunClock(day, time)) << day << " " << time;
}

}  // namespace
}  // namespace tessel::test
