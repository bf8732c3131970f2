#pragma once
// Rows written as tab-separated text (one header line, then one line per
// row) or as a JSON array of objects. A text cell that is not valid UTF-8
// (a file name in another encoding) is written in JSON with U+FFFD for
// each bad byte, followed by the field <column>_hex with its exact bytes.
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace tessel {

class TableOutput {
public:
    TableOutput(std::FILE* out, bool json, std::vector<std::string> columns);
    ~TableOutput();
    // One row; nullopt is an empty cell (null in JSON). Numbers given as
    // text are written as JSON numbers when the column is numeric.
    void row(const std::vector<std::optional<std::string>>& cells);
    void numeric(std::vector<bool> numericColumns) { numeric_ = std::move(numericColumns); }
    // One named text as a result: "name<TAB>text", or a JSON object with the
    // text (and its bytes when it is not UTF-8) and "ok": true.
    static void Single(std::FILE* out, bool json, const std::string& name, const std::string& text);

private:
    std::FILE* out_;
    bool json_;
    std::vector<std::string> columns_;
    std::vector<bool> numeric_;
    bool first_ = true;
};

// A JSON string literal; bytes that are not UTF-8 become U+FFFD.
std::string JsonString(const std::string& s);
// The bytes of a text as lower-case hexadecimal digits, two per byte.
std::string HexBytes(const std::string& s);
// Throws Error when writing to out has failed (a full disk, a closed pipe
// that does not end the process), so that the command stops and says so.
void CheckOutput(std::FILE* out);
// A tab-separated cell: tab, line breaks and backslash are escaped.
std::string TsvCell(const std::string& s);

}  // namespace tessel
