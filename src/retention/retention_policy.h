#pragma once
// Which backup runs a retention policy keeps: the last N runs, and the last
// run of each of the last N days, ISO weeks, months and years. Periods are
// counted over the runs that exist, so a period without runs uses up no
// slot and a pause in backups never removes the only run of a period. Run
// times are the wall-clock times the catalog records (local time of the
// machine that ran the backup), taken as they are. A pure function: runs
// with their times in, every run with the reasons it is kept out.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessel {

struct RetentionPolicy {
    int last = 0;
    int daily = 0;
    int weekly = 0;
    int monthly = 0;
    int yearly = 0;
    // No rule is set: such a policy removes nothing and is refused.
    bool empty() const { return last <= 0 && daily <= 0 && weekly <= 0 && monthly <= 0 && yearly <= 0; }
    bool operator==(const RetentionPolicy&) const = default;
};

// A local wall-clock time as the catalog records it.
struct RunClock {
    int year = 0, month = 0, day = 0;  // month 1-12, day 1-31
    int hour = 0, minute = 0, second = 0;
    auto operator<=>(const RunClock&) const = default;
};

// BKPNAME.DAY1 ("yyyy-mm-dd", or "yyyy/mm/dd" as older catalogs wrote it)
// and TIME1 ("hh:mm:ss" or "h:mm"; missing means midnight). nullopt when
// the date is missing or is no valid calendar date.
std::optional<RunClock> ParseRunClock(std::string_view day, std::string_view time);

struct RunToSort {
    std::int64_t run = 0;
    std::optional<RunClock> started;  // unknown: the run is always kept
};

enum class KeepReason { kLatest, kLast, kDaily, kWeekly, kMonthly, kYearly, kNoTime };

struct RunVerdict {
    std::int64_t run = 0;
    std::vector<KeepReason> reasons;  // empty: the run is removed
    bool kept() const { return !reasons.empty(); }
};

// Every run once, newest first (by start time, then by number). A run is
// kept by any rule that keeps it; the run with the highest number is
// always kept (kLatest), and so is a run whose time is unknown (kNoTime).
std::vector<RunVerdict> ApplyRetentionPolicy(const std::vector<RunToSort>& runs, const RetentionPolicy& policy);

// The period keys (exposed for tests): the ISO 8601 week-numbering year
// and week of a date, as year * 100 + week.
int IsoWeekKey(int year, int month, int day);

// "latest", "last", "daily", ... for JSON; the Japanese word for lists.
std::string_view ReasonCode(KeepReason reason);
std::string_view ReasonText(KeepReason reason);

}  // namespace tessel
