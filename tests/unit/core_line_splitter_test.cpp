#include "service/hub/core_output_relay.hpp"

#include <gtest/gtest.h>

namespace quorvex::hub {
namespace {

using Lines = std::vector<std::string>;
constexpr std::size_t CAP = CoreLineSplitter::MAX_LINE_BYTES;

// Feeds the pieces in order, then ends the stream, as the relay does.
Lines split(const std::vector<std::string_view>& pieces) {
    CoreLineSplitter splitter;
    Lines lines;
    const CoreLineSplitter::LineSink sink = [&lines](std::string line) { lines.push_back(std::move(line)); };
    for (std::string_view piece : pieces) {
        if (!splitter.feed(piece, sink)) {
            return lines;
        }
    }
    splitter.finish(sink);
    return lines;
}

struct Stream {
    std::string bytes;
    Lines lines;
};

const std::vector<Stream> STREAMS = {
    {"one\r\ntwo\nthree", {"one", "two", "three"}},
    {"\n\n", {"", ""}},
    {"\r\n", {""}},
    {"a\r\r\n", {"a\r"}},   // one carriage return removed, not two
    {"last\r", {"last\r"}}, // no line feed: kept as it is
    {"mid\rdle\n", {"mid\rdle"}},
    {"", {}},
    {"caf\xc3\xa9 \xf0\x9f\x98\x80\n", {"caf\xc3\xa9 \xf0\x9f\x98\x80"}},
    {"ok\n\xff\nlater\n", {"ok"}}, // the first invalid line ends the stream
    {"ok\nbad \xc3\x28\nlater\n", {"ok"}},
    {"ok\n\xed\xa0\x80\n", {"ok"}},     // a surrogate is not UTF-8
    {"ok\ncut short \xe2\x82", {"ok"}}, // a last line ending inside a character
};

TEST(CoreLineSplitter, SplitsTheSameWhereverTheReadsFall) {
    for (const Stream& s : STREAMS) {
        SCOPED_TRACE(testing::PrintToString(s.bytes));
        const std::string_view bytes = s.bytes;
        EXPECT_EQ(split({bytes}), s.lines);
        for (std::size_t cut = 0; cut <= bytes.size(); ++cut) {
            EXPECT_EQ(split({bytes.substr(0, cut), bytes.substr(cut)}), s.lines) << "cut at " << cut;
        }
        std::vector<std::string_view> single_bytes;
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            single_bytes.push_back(bytes.substr(i, 1));
        }
        EXPECT_EQ(split(single_bytes), s.lines);
    }
}

TEST(CoreLineSplitter, HandsOutNothingAfterAnInvalidLine) {
    CoreLineSplitter splitter;
    Lines lines;
    const CoreLineSplitter::LineSink sink = [&lines](std::string line) { lines.push_back(std::move(line)); };
    EXPECT_FALSE(splitter.feed("a\n\x80\n", sink));
    EXPECT_FALSE(splitter.feed("b\n", sink));
    splitter.finish(sink);
    EXPECT_EQ(lines, (Lines{"a"}));
}

std::string repeat(std::size_t n, char c = 'a') { return std::string(n, c); }

TEST(CoreLineSplitter, BoundsOneLineAtACharacterBoundary) {
    const std::string e_acute = "\xc3\xa9";
    const std::string emoji = "\xf0\x9f\x98\x80";
    const std::vector<Stream> cases = {
        {repeat(CAP) + "\r\n" + "next\n", {repeat(CAP), "next"}}, // exactly at the cap
        {repeat(CAP) + "\rx\n", {repeat(CAP)}},
        {repeat(CAP + 1) + "\n" + "next\n", {repeat(CAP), "next"}},
        {repeat(70000) + "\nnext\n", {repeat(CAP), "next"}},
        {repeat(CAP - 2) + e_acute + "tail\n", {repeat(CAP - 2) + e_acute}}, // ends right at the cap
        {repeat(CAP - 1) + e_acute + "tail\n", {repeat(CAP - 1)}},           // straddles: dropped
        {repeat(CAP - 3) + emoji + "\n", {repeat(CAP - 3)}},
        {repeat(CAP - 1) + emoji + "\n", {repeat(CAP - 1)}},
        {repeat(CAP) + "\xff\xff" + repeat(10) + "\nnext\n", {repeat(CAP), "next"}}, // past the cap: not read
        {repeat(CAP - 1) + "\xc3\x28" + repeat(10) + "\nnext\n", {}},                // invalid across the cap
        {repeat(100) + "\xff" + repeat(70000) + "\nnext\n", {}},                     // invalid within the cap
        {repeat(200000), {repeat(CAP)}},                                             // no line feed at all
        {repeat(200000) + "\n", {repeat(CAP)}},
    };
    for (const Stream& s : cases) {
        SCOPED_TRACE(s.bytes.size());
        const std::string_view bytes = s.bytes;
        EXPECT_EQ(split({bytes}), s.lines);
        // Reads cut around the cap and around the line feed.
        for (std::size_t cut : {CAP - 2, CAP - 1, CAP, CAP + 1, CAP + 2, CAP + 3, CAP + 4, CAP + 5, bytes.size() - 1}) {
            if (cut > bytes.size()) {
                continue;
            }
            EXPECT_EQ(split({bytes.substr(0, cut), bytes.substr(cut)}), s.lines) << "cut at " << cut;
        }
        std::vector<std::string_view> relay_reads;
        for (std::size_t at = 0; at < bytes.size(); at += 8192) {
            relay_reads.push_back(bytes.substr(at, 8192));
        }
        EXPECT_EQ(split(relay_reads), s.lines);
    }
}

TEST(CoreLineSplitter, HoldsNoMoreThanTheCapWhateverTheCoreWrites) {
    CoreLineSplitter splitter;
    Lines lines;
    const CoreLineSplitter::LineSink sink = [&lines](std::string line) { lines.push_back(std::move(line)); };
    const std::string chunk(8192, 'x');
    for (int i = 0; i < 128; ++i) { // 1 MiB without a line feed
        ASSERT_TRUE(splitter.feed(chunk, sink));
        EXPECT_LE(splitter.held_bytes(), CAP + 4);
    }
    ASSERT_TRUE(splitter.feed("\nafter\n", sink));
    EXPECT_EQ(lines, (Lines{std::string(CAP, 'x'), "after"}));
    EXPECT_EQ(splitter.held_bytes(), 0u);
}

} // namespace
} // namespace quorvex::hub
