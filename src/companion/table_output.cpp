#include "companion/table_output.h"

#include <cerrno>
#include <cstring>

#include "core/status.h"
#include "platform/codepage.h"

namespace tessel {

TableOutput::TableOutput(std::FILE* out, bool json, std::vector<std::string> columns)
    : out_(out), json_(json), columns_(std::move(columns)) {
    if (json_) {
        std::fputs("[", out_);
    } else {
        for (size_t i = 0; i < columns_.size(); ++i) std::fprintf(out_, "%s%s", i ? "\t" : "", columns_[i].c_str());
        std::fputs("\n", out_);
    }
}

TableOutput::~TableOutput() {
    if (json_) std::fputs(first_ ? "]\n" : "\n]\n", out_);
    std::fflush(out_);
}

void TableOutput::row(const std::vector<std::optional<std::string>>& cells) {
    if (json_) {
        std::fputs(first_ ? "\n  {" : ",\n  {", out_);
        for (size_t i = 0; i < columns_.size() && i < cells.size(); ++i) {
            std::fprintf(out_, "%s%s: ", i ? ", " : "", JsonString(columns_[i]).c_str());
            if (!cells[i]) {
                std::fputs("null", out_);
            } else if (i < numeric_.size() && numeric_[i]) {
                std::fputs(cells[i]->c_str(), out_);
            } else {
                std::fputs(JsonString(*cells[i]).c_str(), out_);
                if (!IsValidUtf8(*cells[i]))
                    std::fprintf(out_, ", %s: \"%s\"", JsonString(columns_[i] + "_hex").c_str(), HexBytes(*cells[i]).c_str());
            }
        }
        std::fputs("}", out_);
    } else {
        for (size_t i = 0; i < cells.size(); ++i)
            std::fprintf(out_, "%s%s", i ? "\t" : "", cells[i] ? TsvCell(*cells[i]).c_str() : "");
        std::fputs("\n", out_);
    }
    first_ = false;
    CheckOutput(out_);
}

void TableOutput::Single(std::FILE* out, bool json, const std::string& name, const std::string& text) {
    if (!json) {
        std::fprintf(out, "%s\t%s\n", name.c_str(), TsvCell(text).c_str());
    } else {
        std::fprintf(out, "{%s: %s", JsonString(name).c_str(), JsonString(text).c_str());
        if (!IsValidUtf8(text)) std::fprintf(out, ", %s: \"%s\"", JsonString(name + "_hex").c_str(), HexBytes(text).c_str());
        std::fputs(", \"ok\": true}\n", out);
    }
    CheckOutput(out);
}

std::string HexBytes(const std::string& s) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(s.size() * 2);
    for (unsigned char c : s) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

void CheckOutput(std::FILE* out) {
    if (std::ferror(out)) throw Error(std::string("出力を書き込めません: ") + std::strerror(errno ? errno : EIO));
}

std::string JsonString(const std::string& s) {
    std::string in = IsValidUtf8(s) ? s : std::string();
    if (in.empty() && !s.empty()) {
        // Replace each byte that does not start a valid sequence.
        for (size_t i = 0; i < s.size();) {
            size_t len = 1;
            unsigned char c = static_cast<unsigned char>(s[i]);
            if (c >= 0xC0) len = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
            if (c >= 0x80 && (i + len > s.size() || !IsValidUtf8(s.substr(i, len)))) {
                in += "\xEF\xBF\xBD";
                ++i;
                continue;
            }
            in.append(s, i, len);
            i += len;
        }
    }
    std::string out = "\"";
    for (char ch : in) {
        unsigned char c = static_cast<unsigned char>(ch);
        switch (ch) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += ch;
            }
        }
    }
    return out + "\"";
}

std::string TsvCell(const std::string& s) {
    std::string out;
    for (char ch : s) {
        switch (ch) {
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\\': out += "\\\\"; break;
        default: out += ch;
        }
    }
    return out;
}

}  // namespace tessel
