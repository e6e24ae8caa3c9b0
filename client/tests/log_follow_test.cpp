#include "client/log_follow.hpp"

#include <gtest/gtest.h>

namespace quorvex::client {
namespace {

using Lines = std::vector<std::string>;

TEST(LogFollow, SplitsTheReplyIntoLines) {
    EXPECT_EQ(log_lines(""), Lines{});
    EXPECT_EQ(log_lines("one"), Lines{"one"});
    EXPECT_EQ(log_lines("one\n\nthree"), (Lines{"one", "", "three"}));
}

TEST(LogFollow, OnlyTheLinesAfterTheOverlapAreNew) {
    EXPECT_EQ(new_log_lines({}, {"a", "b"}), (Lines{"a", "b"}));
    EXPECT_EQ(new_log_lines({"a", "b"}, {"a", "b"}), Lines{});
    EXPECT_EQ(new_log_lines({"a", "b"}, {"a", "b", "c"}), Lines{"c"});
    // The oldest lines dropped out of the kept 100 while new ones came.
    EXPECT_EQ(new_log_lines({"a", "b", "c"}, {"c", "d"}), Lines{"d"});
    // Repeated lines: the longest overlap wins, so a repeated line is not printed twice.
    EXPECT_EQ(new_log_lines({"x", "x"}, {"x", "x", "x"}), Lines{"x"});
    // Nothing in common (the service restarted with an empty log, then wrote): all are new.
    EXPECT_EQ(new_log_lines({"a", "b"}, {"c"}), Lines{"c"});
}

} // namespace
} // namespace quorvex::client
