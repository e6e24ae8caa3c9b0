// The account lookup against Wine's real tokens: every Wine process runs as S-1-5-21-0-0-0-1000.

#include "platform/win32/process_account.hpp"

#include <gtest/gtest.h>

namespace quorvex::win32 {
namespace {

TEST(AccountSidOfProcess, NamesTheAccountOfThisProcess) {
    const auto sid = account_sid_of_process(::GetCurrentProcessId());
    ASSERT_TRUE(sid) << sid.error().text();
    EXPECT_EQ(*sid, "S-1-5-21-0-0-0-1000");
}

TEST(AccountSidOfProcess, MissingProcessIsTheOsError) {
    const auto sid = account_sid_of_process(0xFFFFFFF0u);
    ASSERT_FALSE(sid);
    EXPECT_TRUE(sid.error().os_code()) << sid.error().text();
}

} // namespace
} // namespace quorvex::win32
