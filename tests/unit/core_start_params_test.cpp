#include "service/hub/core_exit_code.hpp"
#include "service/hub/core_start_params.hpp"
#include "service/hub/expected_core_sha256.hpp"

#include <gtest/gtest.h>

namespace quorvex::hub {
namespace {

const std::string DIGITS = "0123456789abcdef0123456789abcdef";

TEST(CoreStartParams, AddressIsThePipePrefixAnd32LowercaseDigits) {
    const std::string prefix(CORE_PIPE_PREFIX);
    ASSERT_EQ(prefix.size(), 21u);
    struct Case {
        std::string address;
        bool accepted;
    };
    const std::vector<Case> cases = {
        {prefix + DIGITS, true},
        {prefix + "0123456789abcdef0123456789abcdeA", false}, // 53 bytes, one upper-case digit
        {prefix + DIGITS.substr(1), false},                   // 31 digits
        {prefix + DIGITS + "0", false},                       // 33 digits
        {"\\\\.\\PIPE\\QuorvexCore_" + DIGITS, false},
        {"\\\\.\\pipe\\quorvexcore_" + DIGITS, false},
        {"//./pipe/QuorvexCore_" + DIGITS, false},
        {prefix + "0123456789abcdef0123456789abcdeg", false},
        {prefix + "0123456789abcdef 123456789abcdef", false},
        {prefix, false},
        {prefix.substr(0, 20), false},
        {"", false},
        {std::string("\\\\.\\pipe\\QuorvexCore_0123456789abcdef\0" "123456789abcdef", 53), false},
    };
    for (const Case& c : cases) EXPECT_EQ(validate_core_address(c.address), c.accepted) << c.address;
}

TEST(CoreStartParams, SessionIdIs32LowercaseDigits) {
    EXPECT_TRUE(validate_session_id(DIGITS));
    EXPECT_FALSE(validate_session_id("0123456789ABCDEF0123456789ABCDEF"));
    EXPECT_FALSE(validate_session_id(DIGITS.substr(1)));
    EXPECT_FALSE(validate_session_id(DIGITS + "0"));
    EXPECT_FALSE(validate_session_id("0123456789abcdef0123456789abcdeg"));
    EXPECT_FALSE(validate_session_id(""));
}

TEST(CoreExitCode, DecimalUnlessBit31IsSet) {
    EXPECT_EQ(core_exit_code_text(0), "exit code: 0");
    EXPECT_EQ(core_exit_code_text(1), "exit code: 1");
    EXPECT_EQ(core_exit_code_text(0x7FFFFFFF), "exit code: 2147483647");
    EXPECT_EQ(core_exit_code_text(0x80000000), "exit code: 0x80000000");
    EXPECT_EQ(core_exit_code_text(3221225477u), "exit code: 0xc0000005");
    EXPECT_EQ(core_exit_code_text(0xFFFFFFFF), "exit code: 0xffffffff");
}

TEST(ExpectedCoreSha256, Is64LowercaseHexDigits) {
    ASSERT_EQ(EXPECTED_CORE_SHA256.size(), 64u);
    for (char c : EXPECTED_CORE_SHA256) EXPECT_TRUE((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')) << c;
}

} // namespace
} // namespace quorvex::hub
