#include "platform/codepage.h"

#include <gtest/gtest.h>

namespace tessel {
namespace {

TEST(Codepage, RoundTripsJapaneseAndHalfWidthKana) {
    std::string text = "Tesselﾊﾞｯｸｱｯﾌﾟ管理　①～";
    auto sjis = Utf8ToCp932(text);
    ASSERT_TRUE(sjis);
    EXPECT_EQ(sjis->substr(0, 6), "Tessel");
    EXPECT_EQ(static_cast<unsigned char>((*sjis)[6]), 0xCA);  // ﾊ is one byte
    EXPECT_EQ(Cp932ToUtf8(*sjis), text);
}

TEST(Codepage, UnrepresentableTextFailsOrIsMarked) {
    EXPECT_FALSE(Utf8ToCp932("Ελληνικά 😀"));
    EXPECT_FALSE(Utf8ToCp932("bad \xff byte"));
    EXPECT_EQ(Utf8ToCp932Lossy("a😀b"), "a?b");
    EXPECT_FALSE(IsValidUtf8("\xc3"));
    EXPECT_FALSE(IsValidUtf8("\xed\xa0\x80"));  // a surrogate
    EXPECT_TRUE(IsValidUtf8("日本語"));
}

}  // namespace
}  // namespace tessel
