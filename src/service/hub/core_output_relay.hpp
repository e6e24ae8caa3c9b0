#pragma once
// The relay of one Core: copies its standard error into the log line by line, then says that the
// stream has ended (the supervisor then looks whether that Core has exited).

#include "common/helper_log.hpp"
#include "service/hub/core_platform.hpp"

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace quorvex::hub {

// Splits the Core's standard-error bytes into log lines, whatever the chunking of the reads.
// A line ends at a line feed; the line feed and one carriage return right before it are removed.
// A last line without a line feed is kept as it is. The first line that is not UTF-8 ends the
// stream: neither it nor anything after it is handed out.
//
// One line is bounded: a Core that never sends a line feed must not grow the helper's memory
// without limit. A line longer than MAX_LINE_BYTES keeps its head, cut at a character boundary,
// and the rest of it up to the next line feed is skipped unread.
class CoreLineSplitter {
public:
    static constexpr std::size_t MAX_LINE_BYTES = std::size_t{64} * 1024;
    using LineSink = std::function<void(std::string line)>;

    // Hands every line that the chunk completes to `sink`. False once a line was not UTF-8; the
    // caller stops reading then, and later calls hand out nothing.
    [[nodiscard]] bool feed(std::string_view chunk, const LineSink& sink);
    // End of stream: hands out the unfinished last line, if any byte of it arrived.
    void finish(const LineSink& sink);

    // Bytes held for the unfinished line; never more than MAX_LINE_BYTES plus a few.
    [[nodiscard]] std::size_t held_bytes() const { return line_.size(); }

private:
    // Enough beyond the cap to hold a carriage return and the whole of a character that
    // straddles the cap, so the cut can tell an invalid sequence from one cut short.
    static constexpr std::size_t HELD_LIMIT = MAX_LINE_BYTES + 4;

    void emit(const LineSink& sink);

    std::string line_;
    bool skipping_ = false; // the current line passed the cap: skip it up to its line feed
    bool invalid_ = false;
};

inline constexpr std::size_t RELAY_READ_BYTES = 8192;

// Runs until the stream ends, a read fails or a line is not UTF-8; then closes the pipe and
// calls `ended`. Runs on a thread of its own.
void relay_core_output(std::unique_ptr<CoreOutput> output, HelperLog& log, const std::function<void()>& ended);

} // namespace quorvex::hub
