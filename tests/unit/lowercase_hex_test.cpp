#include "common/lowercase_hex.hpp"

#include <gtest/gtest.h>

#include <array>

namespace quorvex {
namespace {

TEST(LowercaseHex, TwoDigitsPerByteAndEightPerWordMostSignificantFirst) {
    const std::array<std::uint8_t, 4> bytes{0x00, 0x0f, 0xa5, 0xff};
    EXPECT_EQ(lowercase_hex(bytes), "000fa5ff");
    EXPECT_EQ(lowercase_hex(std::span<const std::uint8_t>()), "");
    EXPECT_EQ(lowercase_hex(std::uint32_t{0x0000'0a5f}), "00000a5f");
    EXPECT_EQ(lowercase_hex(std::uint32_t{0xc000'0005}), "c0000005");
}

TEST(LowercaseHex, FormAdmitsOnlyDigitsAndLowercaseAToF) {
    EXPECT_TRUE(is_lowercase_hex("0123456789abcdef"));
    EXPECT_TRUE(is_lowercase_hex(""));
    for (const std::string_view wrong : {"0A", "g", "12 ", "-1", "0x1f"}) {
        EXPECT_FALSE(is_lowercase_hex(wrong)) << wrong;
    }
    EXPECT_FALSE(is_lowercase_hex(std::string_view("ab\0c", 4)));
}

} // namespace
} // namespace quorvex
