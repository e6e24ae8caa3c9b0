#include "command/helper_command.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quorvex::command {
namespace {

TEST(IsValidSidText, AcceptsOnlyTheStringForm) {
    const std::string seventeen = "S-1-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15-16-17";
    const std::string sixteen = "S-1-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15-16";
    for (const std::string good :
         {"S-1-5-18", "S-1-5-21-7-8-9-500", "S-1-0", "S-1-99999999999999999999999", sixteen.c_str()}) {
        EXPECT_TRUE(is_valid_sid_text(good)) << good;
    }
    for (const std::string bad :
         {"", "S-1-", "S-1-5-", "s-1-5-18", "S-1-5-x", "S-2-5", "S-1-5--18", "S-1--5", "S-1-5-18 ", " S-1-5-18",
          "S-1-+5", "S-1-\xd9\xa3", "S-1-5-\xff", "S-1", seventeen.c_str()}) {
        EXPECT_FALSE(is_valid_sid_text(bad)) << bad;
    }
}

TEST(ParseOwnerPid, AcceptsDecimalThirtyTwoBitNumbersAboveZero) {
    EXPECT_EQ(parse_owner_pid("42"), 42u);
    EXPECT_EQ(parse_owner_pid("+42"), 42u);
    EXPECT_EQ(parse_owner_pid("0042"), 42u);
    EXPECT_EQ(parse_owner_pid("4294967295"), 4294967295u);
    EXPECT_EQ(parse_owner_pid("1"), 1u);
    for (const char* bad : {"0", "+0", "000", "-5", "4294967296", "99999999999999999999", "12a", "", "+", "++1", " 42",
                            "42 ", "0x10", "\xd9\xa3"}) {
        EXPECT_FALSE(parse_owner_pid(bad).has_value()) << bad;
    }
}

struct ChoiceCase {
    std::vector<std::string> args;
    HelperCommand command;
};

TEST(ChooseHelperCommand, RecognisesTheThreeCommands) {
    const std::vector<ChoiceCase> cases{
        {{"--owner-sid", "S-1-5-18"}, RunService{"S-1-5-18"}},
        {{"--owner-sid", "S-1-5-21-7-8-9-500"}, RunService{"S-1-5-21-7-8-9-500"}},
        {{"uninstall"}, Uninstall{}},
        {{"install", "--owner-pid", "42"}, Install{42}},
        {{"install", "--owner-pid", "+42"}, Install{42}},
    };
    for (const auto& c : cases) {
        const auto chosen = choose_helper_command(c.args);
        ASSERT_TRUE(chosen.has_value()) << c.args[0];
        EXPECT_EQ(*chosen, c.command) << c.args[0];
    }
}

struct UsageCase {
    std::vector<std::string> args;
    std::string message;
};

TEST(ChooseHelperCommand, ReportsEachUsageFailureAsOneLine) {
    const std::string no_owner = "the helper service was registered without an owner; reinstall it";
    const std::string not_sid = "--owner-sid is not a SID";
    const std::string not_pid = "--owner-pid is not a process ID";
    const std::string install_usage = "install takes exactly --owner-pid <pid>";
    const std::vector<UsageCase> cases{
        {{}, no_owner},
        {{"--owner-sid", "S-1-5-"}, not_sid},
        {{"--owner-sid", "s-1-5-18"}, not_sid},
        {{"--owner-sid", ""}, not_sid},
        {{"install", "--owner-pid", "0"}, not_pid},
        {{"install", "--owner-pid", "-5"}, not_pid},
        {{"install", "--owner-pid", "4294967296"}, not_pid},
        {{"install", "--owner-pid", "12a"}, not_pid},
        {{"install"}, install_usage},
        {{"install", "--owner-pid"}, install_usage},
        {{"install", "--pid", "42"}, install_usage},
        {{"install", "--owner-pid", "42", "extra"}, install_usage},
        {{"install", "uninstall"}, install_usage},
        {{"Install", "--owner-pid", "42"}, "unknown helper command: Install"},
        {{"uninstall", "now"}, "unknown helper command: uninstall"},
        {{"UNINSTALL"}, "unknown helper command: UNINSTALL"},
        {{"--owner-sid"}, "unknown helper command: --owner-sid"},
        {{"--owner-sid", "S-1-5-18", "extra"}, "unknown helper command: --owner-sid"},
        {{"--owner-pid", "42"}, "unknown helper command: --owner-pid"},
        {{""}, "unknown helper command: "},
        {{"run\xff"}, "unknown helper command: run\xef\xbf\xbd"},
    };
    for (const auto& c : cases) {
        const auto chosen = choose_helper_command(c.args);
        ASSERT_FALSE(chosen.has_value()) << c.message;
        EXPECT_EQ(chosen.error().links(), std::vector<std::string>{c.message});
        EXPECT_FALSE(chosen.error().os_code().has_value());
    }
}

} // namespace
} // namespace quorvex::command
