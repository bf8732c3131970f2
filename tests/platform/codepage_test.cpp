#include "platform/codepage.h"

#include <gtest/gtest.h>

namespace tessel {
namespace {

TEST(Codepage, EveryLeadByteRangeConvertsBothWaysAndHalfACharacterFails) {
    // Both lead-byte ranges' ends, trail bytes "\\" and lead-like, NEC and IBM extensions.
    const std::pair<std::string, std::string> chars[] = {
        {"　", "\x81\x40"}, {"ソ", "\x83\x5c"}, {"檗", "\x9f\x40"}, {"滌", "\x9f\xfc"}, {"漾", "\xe0\x40"},
        {"熙", "\xea\xa4"}, {"纊", "\xfa\x5c"}, {"ⅰ", "\xfa\x40"}, {"黑", "\xfc\x4b"}, {"ｱ", "\xb1"}};
    for (const auto& [utf8, cp932] : chars) {
        EXPECT_EQ(Utf8ToCp932("a" + utf8 + "z"), "a" + cp932 + "z") << utf8;
        EXPECT_EQ(Cp932ToUtf8("a" + cp932 + "z"), "a" + utf8 + "z") << utf8;
        if (cp932.size() == 2) EXPECT_EQ(Cp932ToUtf8("a" + cp932.substr(0, 1)), std::nullopt) << utf8;
    }
    EXPECT_EQ(Cp932ToUtf8("\xed\x40"), "纊");  // the NEC-selected duplicate reads as the same character
    EXPECT_EQ(Cp932ToUtf8("\x85\x40"), std::nullopt);  // an unassigned lead byte
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
