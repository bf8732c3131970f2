#include "platform/codepage.h"

#include <gtest/gtest.h>

namespace tessel {
namespace {

std::string Hex(const std::string& hex) {
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

TEST(Codepage, EveryLeadByteRangeConvertsBothWaysAndHalfACharacterFails) {
    // Lead bytes from both ends of 0x81-0x9F and 0xE0-0xFC, trail bytes
    // below and above 0x7F, a trail byte that is "\" and one that is itself
    // a lead-byte value, and the NEC and IBM extensions.
    const std::pair<std::string, std::string> chars[] = {
        {"　", "8140"}, {"ソ", "835c"}, {"檗", "9f40"}, {"滌", "9ffc"}, {"漾", "e040"},
        {"熙", "eaa4"}, {"纊", "fa5c"}, {"ⅰ", "fa40"}, {"黑", "fc4b"}, {"ｱ", "b1"}};
    for (const auto& [utf8, hex] : chars) {
        const std::string cp932 = Hex(hex);
        EXPECT_EQ(Utf8ToCp932("a" + utf8 + "z"), "a" + cp932 + "z") << hex;
        EXPECT_EQ(Cp932ToUtf8("a" + cp932 + "z"), "a" + utf8 + "z") << hex;
        if (cp932.size() == 2) EXPECT_EQ(Cp932ToUtf8("a" + cp932.substr(0, 1)), std::nullopt) << hex;
    }
    EXPECT_EQ(Cp932ToUtf8(Hex("ed40")), "纊");  // the NEC-selected duplicate reads as the same character
    EXPECT_EQ(Cp932ToUtf8(Hex("8540")), std::nullopt);  // an unassigned lead byte
}

TEST(Codepage, UnrepresentableTextFailsOrIsMarked) {
    EXPECT_FALSE(Utf8ToCp932("Ελληνικά 😀"));
    EXPECT_FALSE(Utf8ToCp932("bad \xff byte"));
    EXPECT_EQ(Utf8ToCp932Lossy("a😀b\xff" "c"), "a?b?c");
    EXPECT_FALSE(IsValidUtf8("\xc3"));
    EXPECT_FALSE(IsValidUtf8("\xed\xa0\x80"));  // a surrogate
    EXPECT_FALSE(IsValidUtf8("\xc0\xaf"));      // an overlong "/"
    EXPECT_TRUE(IsValidUtf8("日本語😀"));
}

}  // namespace
}  // namespace tessel
