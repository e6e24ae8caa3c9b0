#include "common/helper_log.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

namespace quorvex {
namespace {

TEST(HelperLog, KeepsTheNewestHundredInOrder) {
    HelperLog log;
    for (int i = 0; i < 150; ++i) {
        log.append("line " + std::to_string(i));
    }
    const auto lines = log.lines();
    ASSERT_EQ(lines.size(), 100u);
    EXPECT_EQ(lines.front(), "line 50");
    EXPECT_EQ(lines.back(), "line 149");
}

TEST(HelperLog, TextJoinsTheRetainedLinesAndFollowsEveryAppend) {
    HelperLog log;
    EXPECT_EQ(*log.text(), "");
    log.append("");
    EXPECT_EQ(*log.text(), "") << "one empty line";
    log.append("two");
    const auto before = log.text();
    EXPECT_EQ(*before, "\ntwo");
    EXPECT_EQ(log.text(), before) << "read twice: the same text, not built again";
    for (int i = 0; i < 100; ++i) {
        log.append("line " + std::to_string(i));
    }
    EXPECT_EQ(*before, "\ntwo") << "a reader's text stays as it was read";
    const std::string text = *log.text();
    EXPECT_TRUE(text.starts_with("line 0\nline 1\n")) << text.substr(0, 20);
    EXPECT_TRUE(text.ends_with("\nline 99"));
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 99);
}

TEST(HelperLog, ConcurrentWritersLoseNothingWithinCapacity) {
    HelperLog log;
    std::vector<std::thread> writers;
    writers.reserve(4);
    for (int t = 0; t < 4; ++t) {
        writers.emplace_back([&log, t] {
            for (int i = 0; i < 25; ++i) {
                log.append(std::to_string(t));
            }
        });
    }
    for (auto& w : writers) {
        w.join();
    }
    EXPECT_EQ(log.lines().size(), 100u);
}

} // namespace
} // namespace quorvex
