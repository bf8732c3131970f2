#include "platform/codepage.h"

#include <cstdint>

#include <iconv.h>

#include <cerrno>
#include <stdexcept>

namespace tessel {
namespace {

// One iconv conversion. With lossy set, unconvertible input is replaced by
// '?' and skipped; otherwise the conversion fails on it.
std::optional<std::string> Convert(const char* to, const char* from, std::string_view in, bool lossy) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error(std::string("iconv cannot convert ") + from + " to " + to);
    std::string out;
    out.resize(in.size() * 2 + 16);
    char* inp = const_cast<char*>(in.data());
    size_t inleft = in.size();
    char* outp = out.data();
    size_t outleft = out.size();
    bool ok = true;
    while (inleft > 0) {
        size_t r = iconv(cd, &inp, &inleft, &outp, &outleft);
        if (r != static_cast<size_t>(-1)) break;
        if (errno == E2BIG) {
            size_t used = static_cast<size_t>(outp - out.data());
            out.resize(out.size() * 2);
            outp = out.data() + used;
            outleft = out.size() - used;
            continue;
        }
        if (!lossy) { ok = false; break; }
        // Skip one input character: a whole UTF-8 sequence where possible.
        size_t skip = 1;
        unsigned char c = static_cast<unsigned char>(*inp);
        if (std::string_view(from) == "UTF-8") {
            size_t want = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
            while (skip < want && skip < inleft && (static_cast<unsigned char>(inp[skip]) & 0xC0) == 0x80) ++skip;
        }
        inp += skip;
        inleft -= skip;
        if (outleft == 0) {
            size_t used = static_cast<size_t>(outp - out.data());
            out.resize(out.size() * 2);
            outp = out.data() + used;
            outleft = out.size() - used;
        }
        *outp++ = '?';
        --outleft;
    }
    iconv_close(cd);
    if (!ok) return std::nullopt;
    out.resize(static_cast<size_t>(outp - out.data()));
    return out;
}

}  // namespace

std::optional<std::string> Utf8ToCp932(std::string_view utf8) {
    if (!IsValidUtf8(utf8)) return std::nullopt;
    return Convert("CP932", "UTF-8", utf8, false);
}

std::string Utf8ToCp932Lossy(std::string_view utf8) { return *Convert("CP932", "UTF-8", utf8, true); }

std::optional<std::string> Cp932ToUtf8(std::string_view cp932) { return Convert("UTF-8", "CP932", cp932, false); }

bool IsValidUtf8(std::string_view s) {
    size_t i = 0;
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        size_t n;
        char32_t cp;
        if (c < 0x80) { ++i; continue; }
        if ((c & 0xE0) == 0xC0) { n = 1; cp = c & 0x1F; }
        else if ((c & 0xF0) == 0xE0) { n = 2; cp = c & 0x0F; }
        else if ((c & 0xF8) == 0xF0) { n = 3; cp = c & 0x07; }
        else return false;
        for (size_t k = 1; k <= n; ++k) {
            if (i + k >= s.size()) return false;
            unsigned char cc = static_cast<unsigned char>(s[i + k]);
            if ((cc & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        if ((n == 1 && cp < 0x80) || (n == 2 && cp < 0x800) || (n == 3 && cp < 0x10000)) return false;
        if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += n + 1;
    }
    return true;
}

bool IsInvisibleControl(std::string_view utf8) {
    std::uint32_t cp = 0;
    const auto b = [&](std::size_t k) { return static_cast<unsigned char>(utf8[k]); };
    if (utf8.size() == 2) cp = ((b(0) & 0x1Fu) << 6) | (b(1) & 0x3Fu);
    else if (utf8.size() == 3) cp = ((b(0) & 0x0Fu) << 12) | ((b(1) & 0x3Fu) << 6) | (b(2) & 0x3Fu);
    else return false;
    return (cp >= 0x80 && cp <= 0x9F) || cp == 0x200E || cp == 0x200F || (cp >= 0x202A && cp <= 0x202E) ||
           (cp >= 0x2066 && cp <= 0x2069);
}

std::string Printable(std::string_view bytes) {
    std::string out;
    for (std::size_t i = 0; i < bytes.size();) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        const std::size_t n = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
        if (c == '\\') {
            out += "\\\\";
            ++i;
        } else if (c >= 0x20 && c != 0x7F && n > 0 && i + n <= bytes.size() && IsValidUtf8(bytes.substr(i, n)) &&
                   !IsInvisibleControl(bytes.substr(i, n))) {
            out.append(bytes.substr(i, n));
            i += n;
        } else {
            static const char kHex[] = "0123456789ABCDEF";
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 15];
            ++i;
        }
    }
    return out;
}

}  // namespace tessel
