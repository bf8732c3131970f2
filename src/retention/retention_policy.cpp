#include "retention/retention_policy.h"

#include <algorithm>
#include <functional>

#include "platform/file_times.h"

namespace tessel {
namespace {

std::optional<int> Digits(std::string_view s, std::size_t minLen, std::size_t maxLen) {
    if (s.size() < minLen || s.size() > maxLen) return std::nullopt;
    int v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + (c - '0');
    }
    return v;
}

bool LeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && LeapYear(y) ? 29 : days[m - 1];
}


// Splits "a<sep>b<sep>c" into at most three parts.
std::vector<std::string_view> Split(std::string_view s, char sep) {
    std::vector<std::string_view> parts;
    std::size_t from = 0;
    while (parts.size() < 4) {
        const std::size_t at = s.find(sep, from);
        parts.push_back(s.substr(from, at == std::string_view::npos ? std::string_view::npos : at - from));
        if (at == std::string_view::npos) break;
        from = at + 1;
    }
    return parts;
}

}  // namespace

std::optional<RunClock> ParseRunClock(std::string_view day, std::string_view time) {
    while (!day.empty() && day.back() == ' ') day.remove_suffix(1);
    while (!time.empty() && time.back() == ' ') time.remove_suffix(1);
    std::vector<std::string_view> d = Split(day, day.find('/') != std::string_view::npos ? '/' : '-');
    if (d.size() != 3) return std::nullopt;
    const auto y = Digits(d[0], 4, 4), m = Digits(d[1], 1, 2), dd = Digits(d[2], 1, 2);
    if (!y || !m || !dd || *m < 1 || *m > 12 || *dd < 1 || *dd > DaysInMonth(*y, *m)) return std::nullopt;
    RunClock c{*y, *m, *dd, 0, 0, 0};
    if (time.empty()) return c;
    std::vector<std::string_view> t = Split(time, ':');
    if (t.size() < 2 || t.size() > 3) return std::nullopt;
    const auto h = Digits(t[0], 1, 2), mi = Digits(t[1], 2, 2);
    const auto s = t.size() == 3 ? Digits(t[2], 2, 2) : std::optional<int>(0);
    if (!h || !mi || !s || *h > 23 || *mi > 59 || *s > 59) return std::nullopt;
    c.hour = *h;
    c.minute = *mi;
    c.second = *s;
    return c;
}

int IsoWeekKey(int year, int month, int day) {
    const std::int64_t days = DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
    // 1970-01-01 was a Thursday; Monday is weekday 0.
    const int weekday = static_cast<int>(((days + 3) % 7 + 7) % 7);
    // The week belongs to the year of its Thursday.
    const std::int64_t thursday = days - weekday + 3;
    int isoYear = year;
    if (thursday < DaysFromCivil(year, 1u, 1u)) isoYear = year - 1;
    else if (thursday >= DaysFromCivil(year + 1, 1u, 1u)) isoYear = year + 1;
    const int week = static_cast<int>((thursday - DaysFromCivil(isoYear, 1u, 1u)) / 7) + 1;
    return isoYear * 100 + week;
}

std::vector<RunVerdict> ApplyRetentionPolicy(const std::vector<RunToSort>& runs, const RetentionPolicy& policy) {
    std::vector<const RunToSort*> order;
    for (const RunToSort& r : runs) order.push_back(&r);
    // Newest first; runs of unknown time first of all (they are kept anyway).
    std::stable_sort(order.begin(), order.end(), [](const RunToSort* a, const RunToSort* b) {
        if (a->started.has_value() != b->started.has_value()) return !a->started.has_value();
        if (a->started && *a->started != *b->started) return *a->started > *b->started;
        return a->run > b->run;
    });
    std::int64_t latest = INT64_MIN;
    for (const RunToSort& r : runs) latest = std::max(latest, r.run);

    struct Bucket {
        KeepReason reason;
        int left;
        std::function<std::int64_t(const RunClock&)> key;
        std::optional<std::int64_t> last;
    };
    std::vector<Bucket> buckets = {
        {KeepReason::kDaily, policy.daily, [](const RunClock& c) { return c.year * 10000LL + c.month * 100 + c.day; }, {}},
        {KeepReason::kWeekly, policy.weekly, [](const RunClock& c) { return IsoWeekKey(c.year, c.month, c.day); }, {}},
        {KeepReason::kMonthly, policy.monthly, [](const RunClock& c) { return c.year * 100LL + c.month; }, {}},
        {KeepReason::kYearly, policy.yearly, [](const RunClock& c) { return c.year; }, {}},
    };
    std::vector<RunVerdict> out;
    int lastLeft = policy.last;
    for (const RunToSort* r : order) {
        RunVerdict v{r->run, {}};
        if (r->run == latest) v.reasons.push_back(KeepReason::kLatest);
        if (!r->started) {
            v.reasons.push_back(KeepReason::kNoTime);
            out.push_back(std::move(v));
            continue;
        }
        if (lastLeft > 0) {
            v.reasons.push_back(KeepReason::kLast);
            --lastLeft;
        }
        // The newest run of a period is its last run; it is kept while the
        // rule has slots left, and each period with a run uses one.
        for (Bucket& b : buckets) {
            if (b.left <= 0) continue;
            const std::int64_t key = b.key(*r->started);
            if (b.last == key) continue;
            b.last = key;
            v.reasons.push_back(b.reason);
            --b.left;
        }
        out.push_back(std::move(v));
    }
    return out;
}

std::string_view ReasonCode(KeepReason reason) {
    switch (reason) {
    case KeepReason::kLatest: return "latest";
    case KeepReason::kLast: return "last";
    case KeepReason::kDaily: return "daily";
    case KeepReason::kWeekly: return "weekly";
    case KeepReason::kMonthly: return "monthly";
    case KeepReason::kYearly: return "yearly";
    case KeepReason::kNoTime: return "no-time";
    }
    return "";
}

std::string_view ReasonText(KeepReason reason) {
    switch (reason) {
    case KeepReason::kLatest: return "最新";
    case KeepReason::kLast: return "直近";
    case KeepReason::kDaily: return "日";
    case KeepReason::kWeekly: return "週";
    case KeepReason::kMonthly: return "月";
    case KeepReason::kYearly: return "年";
    case KeepReason::kNoTime: return "日時不明";
    }
    return "";
}

}  // namespace tessel
