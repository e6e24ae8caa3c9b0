#include "client/log_text.hpp"

#include <gtest/gtest.h>

#include <string>

namespace quorvex::client {
namespace {

using namespace std::string_literals;

TEST(LogText, ControlCharactersReachATerminalOnlyAsVisibleEscapes) {
    // What a Core can write to take over a terminal: a colour, a window title ending in BEL, a
    // reset, a lone CR that overwrites the line, NUL, DEL, and the 8-bit CSI (U+009B).
    const std::string hostile = "\x1b[31mred\x1b[0m \x1b]0;title\x07 \x1b"
                                "c A\rB \0 \x7f \xc2\x9b"
                                "2J"s;
    EXPECT_EQ(displayable_log_text(hostile),
              "\\x1b[31mred\\x1b[0m \\x1b]0;title\\x07 \\x1bc A\\x0dB \\x00 \\x7f \\u009b2J");
    // Tabs, line feeds and CR LF pairs are layout; text, other characters and backslashes stay.
    EXPECT_EQ(displayable_log_text("a\tb\r\nc\\d \xc2\xa0 \xe2\x82\xac\n"), "a\tb\r\nc\\d \xc2\xa0 \xe2\x82\xac\n");
    // A CR at the very end has no line feed after it.
    EXPECT_EQ(displayable_log_text("a\r"), "a\\x0d");
    // Bytes outside valid UTF-8 (a lone 0x9b is CSI to an 8-bit terminal) are escaped one by one.
    EXPECT_EQ(displayable_log_text("\x9b"
                                   "2J \xc2 \xe2\x82"),
              "\\x9b2J \\xc2 \\xe2\\x82");
}

TEST(LogText, JsonOutputEscapesDelAndC1Controls) {
    EXPECT_EQ(with_json_controls_escaped("{\"line\":\"a\x7f"
                                         "b\xc2\x80\xc2\x9f\xc2\xa0\\u001b\"}"),
              "{\"line\":\"a\\u007fb\\u0080\\u009f\xc2\xa0\\u001b\"}");
    EXPECT_EQ(with_json_controls_escaped("\"\xe2\x82\xac\""), "\"\xe2\x82\xac\"");
}

TEST(LogText, TheCInterfacesTextKeepsWhatFollowsANul) {
    EXPECT_EQ(log_text_without_nul("nul\0in\0the line\nafter"s), "nul\xef\xbf\xbdin\xef\xbf\xbdthe line\nafter");
    EXPECT_EQ(log_text_without_nul(""), "");
}

} // namespace
} // namespace quorvex::client
