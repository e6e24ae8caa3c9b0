#include "common/helper_log.hpp"

namespace quorvex {

void HelperLog::append(std::string line) {
    std::lock_guard lock(mutex_);
    lines_.push_back(std::move(line));
    while (lines_.size() > CAPACITY) lines_.pop_front();
}

std::vector<std::string> HelperLog::lines() const {
    std::lock_guard lock(mutex_);
    return {lines_.begin(), lines_.end()};
}

HelperLog& helper_log() {
    static auto* log = new HelperLog;
    return *log;
}

} // namespace quorvex
