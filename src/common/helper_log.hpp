#pragma once
// The helper's own log: plain lines, newest last, at most 100 kept. The only reader is the logs
// endpoint; nothing is written to a console, file or event log while the service runs.

#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace quorvex {

class HelperLog {
public:
    static constexpr std::size_t CAPACITY = 100;

    void append(std::string line);
    // A copy of the retained lines, oldest first, taken under the lock.
    [[nodiscard]] std::vector<std::string> lines() const;
    // The retained lines joined by single line feeds, with no line feed after the last. The
    // logs endpoint reads it often: readers share one immutable text, built anew only after an
    // append, and a reader still sending an older one keeps it alive.
    [[nodiscard]] std::shared_ptr<const std::string> text() const;

private:
    mutable std::mutex mutex_;
    std::deque<std::string> lines_;
    mutable std::shared_ptr<const std::string> joined_ = std::make_shared<const std::string>();
    mutable bool joined_stale_ = false;
};

// The process-wide log, created on first use and never destroyed, so detached relay threads
// never touch a dead object. The router and the supervisor take the log as a parameter, since
// their tests read what they write; the transport, the accept loop, the blocking pool and the
// runtime write their rare failure lines here, through append_log(): the process has one log,
// and threading it through every connection and pool thread would buy no test anything.
[[nodiscard]] HelperLog& helper_log();

inline void append_log(std::string line) { helper_log().append(std::move(line)); }

} // namespace quorvex
