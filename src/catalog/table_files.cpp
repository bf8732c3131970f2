#include "catalog/table_files.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <numeric>

#include "platform/codepage.h"

#include "platform/file_times.h"

namespace tessel {
namespace {

constexpr std::size_t kPath = 255;
constexpr std::size_t kShort = 50;

// Automation day numbers of 0100-01-01 and 9999-12-31, the range of dates
// an automation date can stand for.
constexpr double kFirstDay = -657434.0;
constexpr double kLastDay = 2958465.0;
// The automation day number of 1970-01-01.
constexpr std::int64_t kUnixEpochDay = 25569;


void CivilFromDays(std::int64_t z, int& y, unsigned& m, unsigned& d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    d = static_cast<unsigned>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<unsigned>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yoe + era * 400 + (m <= 2));
}

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

unsigned DaysInMonth(int y, unsigned m) {
    static const unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

// Reads exactly `count` decimal digits at `at`.
bool Digits(std::string_view s, std::size_t at, std::size_t count, int& out) {
    if (at + count > s.size()) return false;
    out = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
        out = out * 10 + (s[i] - '0');
    }
    return true;
}

// Splits an automation date into its day number and the seconds of its time
// of day. The day is the whole part (for dates before 1899-12-30 too: -1.25
// is 1899-12-29 06:00); the time is the unsigned fraction, rounded to the
// second, a rounding up to midnight carrying into the next day.
bool SplitAutomation(double value, std::int64_t& day, std::int64_t& seconds) {
    if (!std::isfinite(value) || value < kFirstDay - 1 || value > kLastDay + 1) return false;
    double whole = std::trunc(value);
    day = static_cast<std::int64_t>(whole);
    seconds = std::llround(std::fabs(value - whole) * 86400.0);
    if (seconds >= 86400) {
        seconds -= 86400;
        day += value < 0 ? -1 : 1;
    }
    return day >= kFirstDay && day <= kLastDay;
}

TableLayout Make(std::string_view table, std::vector<TableField> fields) { return TableLayout{table, std::move(fields)}; }

}  // namespace

std::size_t TableLayout::recordSize() const {
    return std::accumulate(fields.begin(), fields.end(), std::size_t{0},
                           [](std::size_t sum, const TableField& f) { return sum + f.width; });
}

const TableLayout& AutodefLayout() {
    static const TableLayout l = Make("AUTODEF", {{"BKPNO", FieldKind::Int32, 4},
                                                  {"DIRNO", FieldKind::Int32, 4},
                                                  {"BIKOU", FieldKind::Text, kShort}});
    return l;
}

const TableLayout& BkpdirLayout() {
    static const TableLayout l = Make("BKPDIR", {{"DIRNO", FieldKind::Int32, 4},
                                                 {"DIR", FieldKind::Text, kPath},
                                                 {"BKPDIR", FieldKind::Text, kPath},
                                                 {"KBN", FieldKind::Text, kShort},
                                                 {"BIKOU", FieldKind::Text, kShort},
                                                 {"ABKP", FieldKind::Text, kShort},
                                                 {"CHK1", FieldKind::Text, kShort},
                                                 {"CHK2", FieldKind::Text, kShort}});
    return l;
}

const TableLayout& BkpnameLayout() {
    static const TableLayout l = Make("BKPNAME", {{"BKPNO", FieldKind::Int32, 4},
                                                  {"DAY1", FieldKind::Day, 8},
                                                  {"TIME1", FieldKind::Time, 8},
                                                  {"BKPNAME", FieldKind::Text, kShort},
                                                  {"KBN", FieldKind::Text, kShort}});
    return l;
}

const TableLayout& FilekanriLayout() {
    static const TableLayout l = Make("FILEKANRI", {{"BKPNO", FieldKind::Int32, 4},
                                                    {"DIRNO", FieldKind::Int32, 4},
                                                    {"LVL", FieldKind::Int32, 4},
                                                    {"DIR", FieldKind::Text, kPath},
                                                    {"FILENM", FieldKind::Text, kPath},
                                                    {"FCRDATE", FieldKind::Int32, 4},
                                                    {"FCRTIME", FieldKind::Int32, 4},
                                                    {"FCRDAYD", FieldKind::Text, kShort},
                                                    {"FCRTIMED", FieldKind::Text, kShort},
                                                    {"FUPDATE", FieldKind::Int32, 4},
                                                    {"FUPTIME", FieldKind::Int32, 4},
                                                    {"FUPDAYD", FieldKind::Text, kShort},
                                                    {"FUPTIMED", FieldKind::Text, kShort},
                                                    {"FSIZE", FieldKind::Int32, 4},
                                                    {"FVERNO", FieldKind::Text, kShort},
                                                    {"FMVER", FieldKind::Int32, 4},
                                                    {"FLVER", FieldKind::Int32, 4},
                                                    {"PVERNO", FieldKind::Text, kShort},
                                                    {"PMVER", FieldKind::Int32, 4},
                                                    {"PLVER", FieldKind::Int32, 4},
                                                    {"KBN1", FieldKind::Text, kShort},
                                                    {"KBN2", FieldKind::Text, kShort},
                                                    {"CHK1", FieldKind::Text, kShort},
                                                    {"CHK2", FieldKind::Text, kShort},
                                                    {"ano", FieldKind::Int32, 4}});
    return l;
}

const TableLayout& KbndefLayout() {
    static const TableLayout l = Make("KBNDEF", {{"KBN", FieldKind::Int32, 4},
                                                 {"ID", FieldKind::Text, kShort},
                                                 {"NAIYOU", FieldKind::Text, kShort}});
    return l;
}

const TableLayout& SubdirLayout() {
    static const TableLayout l = Make("SUBDIR", {{"CHK", FieldKind::Text, kShort},
                                                 {"FULLNAME", FieldKind::Text, kPath},
                                                 {"SUBDIR", FieldKind::Text, kPath}});
    return l;
}

void PutInt32(std::string& record, std::size_t offset, std::int32_t value) {
    auto u = static_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i) record[offset + i] = static_cast<char>((u >> (8 * i)) & 0xFF);
}

std::int32_t GetInt32(std::string_view record, std::size_t offset) {
    std::uint32_t u = 0;
    for (int i = 0; i < 4; ++i) u |= static_cast<std::uint32_t>(static_cast<unsigned char>(record[offset + i])) << (8 * i);
    return static_cast<std::int32_t>(u);
}

void PutDouble(std::string& record, std::size_t offset, double value) {
    std::uint64_t u;
    std::memcpy(&u, &value, sizeof u);
    for (int i = 0; i < 8; ++i) record[offset + i] = static_cast<char>((u >> (8 * i)) & 0xFF);
}

double GetDouble(std::string_view record, std::size_t offset) {
    std::uint64_t u = 0;
    for (int i = 0; i < 8; ++i) u |= static_cast<std::uint64_t>(static_cast<unsigned char>(record[offset + i])) << (8 * i);
    double value;
    std::memcpy(&value, &u, sizeof value);
    return value;
}

std::string FitText(std::string_view cp932, std::size_t width) {
    std::size_t keep = 0;
    while (keep < cp932.size() && keep < width) {
        std::size_t len = IsCp932LeadByte(static_cast<unsigned char>(cp932[keep])) ? 2 : 1;
        if (keep + len > width) break;  // the character would be split: drop it
        keep += len;
    }
    std::string field(cp932.substr(0, std::min(keep, cp932.size())));
    field.resize(width, ' ');
    return field;
}

std::string TrimTrailing(std::string_view text) {
    std::size_t end = text.size();
    while (end > 0 && (text[end - 1] == ' ' || text[end - 1] == '\0')) --end;
    if (end == 0) return std::string(text);  // empty, or only blanks and NULs: unchanged
    return std::string(text.substr(0, end));
}

bool IsNoDate(double value) {
    std::uint64_t u;
    std::memcpy(&u, &value, sizeof u);
    return u == kNoDateBits;
}

double NoDate() {
    double value;
    std::memcpy(&value, &kNoDateBits, sizeof value);
    return value;
}

std::optional<double> DayToAutomation(std::string_view day) {
    int y, m, d;
    if (day.size() != 10 || day[4] != '-' || day[7] != '-') return std::nullopt;
    if (!Digits(day, 0, 4, y) || !Digits(day, 5, 2, m) || !Digits(day, 8, 2, d)) return std::nullopt;
    if (y < 100 || m < 1 || m > 12 || d < 1 || static_cast<unsigned>(d) > DaysInMonth(y, static_cast<unsigned>(m)))
        return std::nullopt;
    return static_cast<double>(DaysFromCivil(y, static_cast<unsigned>(m), static_cast<unsigned>(d)) + kUnixEpochDay);
}

std::optional<double> TimeToAutomation(std::string_view time) {
    int h, m, s;
    if (time.size() != 8 || time[2] != ':' || time[5] != ':') return std::nullopt;
    if (!Digits(time, 0, 2, h) || !Digits(time, 3, 2, m) || !Digits(time, 6, 2, s)) return std::nullopt;
    if (h > 23 || m > 59 || s > 59) return std::nullopt;
    return (h * 3600 + m * 60 + s) / 86400.0;
}

std::optional<std::string> AutomationToDay(double value) {
    std::int64_t day, seconds;
    if (!SplitAutomation(value, day, seconds)) return std::nullopt;
    int y;
    unsigned m, d;
    CivilFromDays(day - kUnixEpochDay, y, m, d);
    char out[16];
    std::snprintf(out, sizeof out, "%04d-%02u-%02u", y, m, d);
    return std::string(out);
}

std::optional<std::string> AutomationToTime(double value) {
    std::int64_t day, seconds;
    if (!SplitAutomation(value, day, seconds)) return std::nullopt;
    char out[16];
    std::snprintf(out, sizeof out, "%02d:%02d:%02d", static_cast<int>(seconds / 3600), static_cast<int>(seconds / 60 % 60),
                  static_cast<int>(seconds % 60));
    return std::string(out);
}

}  // namespace tessel
