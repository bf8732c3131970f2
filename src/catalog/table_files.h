#pragma once
// Table files: the fixed-size binary records that carry the rows of one
// catalog table from an old catalog into a fresh one during an upgrade.
//
// A table file is a plain sequence of records of one size, without header
// or trailer. Fields follow each other without padding:
//   int32  4 bytes, little-endian two's complement;
//   date   8 bytes, little-endian IEEE 754 double holding an automation date
//          (days since 1899-12-30, the fraction being the time of day);
//   text N exactly N bytes of code page 932, padded with blanks (0x20).
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessel {

enum class FieldKind {
    Int32,
    Day,   // date field; the catalog keeps the date as text "yyyy-mm-dd"
    Time,  // date field; the catalog keeps the time of day as text "hh:mm:ss"
    Text,
};

struct TableField {
    std::string_view column;
    FieldKind kind;
    std::size_t width;  // bytes in the record
};

struct TableLayout {
    std::string_view table;
    std::vector<TableField> fields;
    std::size_t recordSize() const;
    std::string fileName() const { return std::string(table) + ".DAT"; }
};

const TableLayout& AutodefLayout();    // 58 bytes
const TableLayout& BkpdirLayout();     // 764 bytes
const TableLayout& BkpnameLayout();    // 120 bytes
const TableLayout& FilekanriLayout();  // 1062 bytes
const TableLayout& KbndefLayout();     // 104 bytes
const TableLayout& SubdirLayout();     // 560 bytes

// Schema versions ("1.02", "1.03", "1.04", possibly empty) compare as plain
// text, byte by byte: the empty text is below "1.02", and "1.10" is below "1.2".
inline bool VersionAbove(std::string_view version, std::string_view than) { return version > than; }
inline bool VersionBelow(std::string_view version, std::string_view than) { return version < than; }

void PutInt32(std::string& record, std::size_t offset, std::int32_t value);
std::int32_t GetInt32(std::string_view record, std::size_t offset);
void PutDouble(std::string& record, std::size_t offset, double value);
double GetDouble(std::string_view record, std::size_t offset);

// Fits code page 932 bytes into a field of the given width: cut at the
// width, then padded with blanks. A double-byte character that the cut
// would split is dropped whole (its place is padded), so that a field never
// ends in half a character and always decodes again.
std::string FitText(std::string_view cp932, std::size_t width);

// The text without its trailing run of blanks and NULs. An empty text stays
// empty, and a text made only of blanks and NULs comes back unchanged at its
// full length (an all-blank field is never turned into an empty text).
std::string TrimTrailing(std::string_view text);

// A missing date or time has no automation date; it travels as this one
// NaN bit pattern, which no real date uses, and comes back as a missing value.
inline constexpr std::uint64_t kNoDateBits = 0x7FF8000000000000ULL;
bool IsNoDate(double value);
double NoDate();

// "yyyy-mm-dd" to whole days since 1899-12-30; nullopt when the text is not
// a valid date of years 100 to 9999.
std::optional<double> DayToAutomation(std::string_view day);
// "hh:mm:ss" to the fraction of a day; nullopt when the text is not a time.
std::optional<double> TimeToAutomation(std::string_view time);
// The date part of an automation date as "yyyy-mm-dd"; nullopt when the
// value is not a finite date of years 100 to 9999.
std::optional<std::string> AutomationToDay(double value);
// The time-of-day part of an automation date as "hh:mm:ss", to the nearest
// second; nullopt when the value is not a finite date of years 100 to 9999.
std::optional<std::string> AutomationToTime(double value);

}  // namespace tessel
