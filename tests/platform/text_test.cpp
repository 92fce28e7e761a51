#include "platform/text.h"

#include <gtest/gtest.h>

namespace {

TEST(Utf8, DecodesAndRoundTripsThroughUtf16) {
    const std::string korean = "당신을 사랑합니다.";
    EXPECT_EQ(platform::Utf8ToUtf16(korean).size(), 10u);
    EXPECT_EQ(platform::Utf16ToUtf8(platform::Utf8ToUtf16(korean)), korean);
    const std::string emoji = "\xF0\x9F\x98\x80"; // U+1F600 needs a surrogate pair
    EXPECT_EQ(platform::Utf8ToUtf16(emoji).size(), 2u);
    EXPECT_EQ(platform::Utf16ToUtf8(platform::Utf8ToUtf16(emoji)), emoji);
}

TEST(Utf8, InvalidSequencesBecomeReplacementCharacters) {
    // Truncated lead, stray continuation, overlong encoding, encoded surrogate.
    for (const std::string bad : {"\xE2\x82", "\x80", "\xC0\xAF", "\xED\xA0\x80"}) {
        size_t position = 0;
        EXPECT_EQ(platform::DecodeUtf8(bad, position), U'\uFFFD') << bad.size();
        EXPECT_EQ(position, 1u);
    }
    EXPECT_EQ(platform::Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}

TEST(LowerCase, LowersCodePointsAndKeepsUndecodableBytes) {
    EXPECT_EQ(platform::ToLowerText("IMG_0001.JPG"), "img_0001.jpg");
    EXPECT_EQ(platform::ToLowerText("ÄÖÜ.PNG"), "äöü.png");
    EXPECT_EQ(platform::ToLowerText("사진.JPEG"), "사진.jpeg");
    EXPECT_EQ(platform::ToLowerText("A\xFF" "B"), "a\xFF" "b");
    EXPECT_TRUE(platform::EqualsIgnoreCase("-SEL", "-sel"));
}

TEST(LogicalCompare, DigitRunsCompareByValue) {
    EXPECT_LT(platform::LogicalCompare("img2.jpg", "img10.jpg"), 0);
    EXPECT_GT(platform::LogicalCompare("img10.jpg", "img2.jpg"), 0);
    EXPECT_LT(platform::LogicalCompare("a.jpg", "B.jpg"), 0);
    EXPECT_EQ(platform::LogicalCompare("Photo.JPG", "photo.jpg"), 0);
    EXPECT_LT(platform::LogicalCompare("01.jpg", "1.jpg"), 0) << "equal values: more zeros first";
    EXPECT_LT(platform::LogicalCompare("abc", "abcd"), 0);
    // Runs far beyond 64 bits compare by length, then digit by digit, without overflow.
    EXPECT_LT(platform::LogicalCompare("x99999999999999999999999", "x100000000000000000000000"), 0);
    EXPECT_GT(platform::LogicalCompare("x123456789012345678901", "x123456789012345678900"), 0);
}

} // namespace
