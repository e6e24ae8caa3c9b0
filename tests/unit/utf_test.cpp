#include "common/utf.hpp"

#include <gtest/gtest.h>

namespace quorvex {
namespace {

TEST(Utf8, ValidityFollowsTheStandardTable) {
    EXPECT_TRUE(is_valid_utf8(""));
    EXPECT_TRUE(is_valid_utf8("plain \xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"));
    EXPECT_FALSE(is_valid_utf8("\xC0\xAF"));         // overlong
    EXPECT_FALSE(is_valid_utf8("\xED\xA0\x80"));     // surrogate
    EXPECT_FALSE(is_valid_utf8("\xF4\x90\x80\x80")); // above U+10FFFF
    EXPECT_FALSE(is_valid_utf8("\xE2\x82"));         // truncated
    EXPECT_FALSE(is_valid_utf8("\x80"));
}

TEST(Utf8, LossyReplacesEachMaximalSubpartOnce) {
    EXPECT_EQ(utf8_lossy("a\xE2\x82z"), "a\xEF\xBF\xBDz");
    EXPECT_EQ(utf8_lossy("\xFF\xFE"), "\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(utf8_lossy("ok \xC3\xA9"), "ok \xC3\xA9");
}

// After E0, ED, F0 and F4 the second byte's range is narrower: a byte outside it ends the subpart
// at the lead, a byte inside it belongs to the subpart.
TEST(Utf8, LossyNarrowsTheSecondByteAfterSomeLeads) {
    const std::string r = "\xEF\xBF\xBD";
    EXPECT_EQ(utf8_lossy("\xE0\x9F"), r + r);    // overlong
    EXPECT_EQ(utf8_lossy("\xE0\xA0z"), r + "z"); // truncated, but a valid start
    EXPECT_EQ(utf8_lossy("\xED\xA0"), r + r);    // surrogate
    EXPECT_EQ(utf8_lossy("\xED\x9Fz"), r + "z");
    EXPECT_EQ(utf8_lossy("\xEE\x80z"), r + "z"); // E1..EC and EE..EF take the full range
    EXPECT_EQ(utf8_lossy("\xF0\x8F"), r + r);    // overlong
    EXPECT_EQ(utf8_lossy("\xF0\x90\x80z"), r + "z");
    EXPECT_EQ(utf8_lossy("\xF4\x90"), r + r); // above U+10FFFF
    EXPECT_EQ(utf8_lossy("\xF4\x8F\xBFz"), r + "z");
    EXPECT_EQ(utf8_lossy("\xF5\x80"), r + r); // never a lead
}

TEST(Utf16, StrictRefusesUnpairedSurrogatesLossyReplacesThem) {
    const std::u16string pair = u"x\U0001F600y";
    EXPECT_EQ(utf16_to_utf8(pair), "x\xF0\x9F\x98\x80y");
    const std::u16string lone{u'a', char16_t(0xD800), u'b'};
    EXPECT_FALSE(utf16_to_utf8(lone));
    EXPECT_EQ(utf16_to_utf8_lossy(lone), "a\xEF\xBF\xBD"
                                         "b");
    EXPECT_EQ(utf8_to_utf16("x\xF0\x9F\x98\x80\xC3\xA9"), u"x\U0001F600\u00E9");
}

} // namespace
} // namespace quorvex
