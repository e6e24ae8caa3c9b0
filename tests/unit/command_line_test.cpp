#include "command/helper_command.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quorvex::command {
namespace {

struct SplitCase {
    std::u16string line;
    std::vector<std::u16string> args;
};

TEST(SplitCommandLine, FollowsTheCRuntimeRules) {
    const std::vector<SplitCase> cases{
        {u"helper.exe", {u"helper.exe"}},
        {u"", {u""}},
        {u"\"C:\\Program Files\\Q\\helper.exe\" uninstall", {u"C:\\Program Files\\Q\\helper.exe", u"uninstall"}},
        // In the program name backslashes are literal and quotes only toggle quoting.
        {u"C:\\a\\\"b c\"\\d.exe x", {u"C:\\a\\b c\\d.exe", u"x"}},
        {u"h.exe  \t a\t\tb ", {u"h.exe", u"a", u"b"}},
        {u"h.exe\tx", {u"h.exe", u"x"}},
        {u"h.exe \"a b\" c", {u"h.exe", u"a b", u"c"}},
        {u"h.exe \"\"", {u"h.exe", u""}},
        // 2n backslashes before a quote: n backslashes, the quote toggles quoting.
        {u"h.exe a\\\\\"b c\"", {u"h.exe", u"a\\b c"}},
        {u"h.exe a\\\\\\\\\"b\"", {u"h.exe", u"a\\\\b"}},
        // 2n+1 backslashes before a quote: n backslashes and a literal quote.
        {u"h.exe a\\\"b", {u"h.exe", u"a\"b"}},
        {u"h.exe a\\\\\\\"b c", {u"h.exe", u"a\\\"b", u"c"}},
        // Backslashes not before a quote are literal.
        {u"h.exe a\\\\b\\ c\\", {u"h.exe", u"a\\\\b\\", u"c\\"}},
        // Inside quotes a doubled quote is one literal quote, and quoting goes on.
        {u"h.exe \"a\"\"b c\" d", {u"h.exe", u"a\"b c", u"d"}},
        {u"h.exe \"a\"\"\"", {u"h.exe", u"a\""}},
        // Outside quotes the second quote opens quoting again.
        {u"h.exe a\"\"b c", {u"h.exe", u"ab", u"c"}},
        {u"h.exe \"unterminated arg", {u"h.exe", u"unterminated arg"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(split_command_line(c.line), c.args) << std::string(c.line.begin(), c.line.end());
    }
}

TEST(HelperArguments, DropsTheProgramAndConvertsToUtf8) {
    EXPECT_EQ(helper_arguments(u"\"C:\\x y\\h.exe\" --owner-sid S-1-5-18"),
              (std::vector<std::string>{"--owner-sid", "S-1-5-18"}));
    EXPECT_EQ(helper_arguments(u"h.exe \u00e9\U0001F600"), (std::vector<std::string>{"\xc3\xa9\xf0\x9f\x98\x80"}));
    EXPECT_TRUE(helper_arguments(u"h.exe").empty());
}

TEST(HelperArguments, UnpairedSurrogatesNeverMatchALiteral) {
    // "install" with a lone high surrogate appended, and a SID with a lone low surrogate.
    std::u16string line = u"h.exe install";
    line += char16_t(0xD800);
    line += u" S-1-5-";
    line += char16_t(0xDC00);
    const auto args = helper_arguments(line);
    ASSERT_EQ(args.size(), 2u);
    EXPECT_EQ(args[0], "install\xef\xbf\xbd");
    EXPECT_EQ(args[1], "S-1-5-\xef\xbf\xbd");
}

} // namespace
} // namespace quorvex::command
