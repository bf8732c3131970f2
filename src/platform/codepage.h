#pragma once
// Conversion between UTF-8 (the text of the program) and code page 932
// (Shift-JIS as Windows extends it), the code page of the text files the
// program reads and writes.
#include <optional>
#include <string>
#include <string_view>

namespace tessel {

// UTF-8 to code page 932. Characters that code page 932 cannot hold make the
// conversion fail (nullopt); nothing is replaced silently.
std::optional<std::string> Utf8ToCp932(std::string_view utf8);

// Like Utf8ToCp932, but characters that cannot be converted (and bytes that
// are not UTF-8) become "?", for texts where a lossy result beats none.
std::string Utf8ToCp932Lossy(std::string_view utf8);

// Code page 932 to UTF-8; nullopt when the bytes are not valid code page 932.
std::optional<std::string> Cp932ToUtf8(std::string_view cp932);

// True for the first byte of a double-byte code page 932 character
// (0x81-0x9F and 0xE0-0xFC).
constexpr bool IsCp932LeadByte(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

// True when the bytes are well-formed UTF-8.
bool IsValidUtf8(std::string_view bytes);

// Whether one UTF-8 character (its bytes) is a control that acts on a
// terminal or on the direction of text: C1 (U+0080-U+009F) and the
// bidirectional marks, embeddings, overrides and isolates.
bool IsInvisibleControl(std::string_view utf8);

// A name as one line of text can show it whole: control bytes (C1 and
// bidirectional controls too), a backslash and bytes that are not part of
// UTF-8 become \xNN (a backslash \\), so that a NUL or an escape
// sequence is seen, never acted on or cut.
std::string Printable(std::string_view bytes);

}  // namespace tessel
