#include "common/helper_log.hpp"

namespace quorvex {

void HelperLog::append(std::string line) {
    std::lock_guard lock(mutex_);
    lines_.push_back(std::move(line));
    while (lines_.size() > CAPACITY) {
        lines_.pop_front();
    }
    joined_stale_ = true;
}

std::vector<std::string> HelperLog::lines() const {
    std::lock_guard lock(mutex_);
    return {lines_.begin(), lines_.end()};
}

std::shared_ptr<const std::string> HelperLog::text() const {
    std::lock_guard lock(mutex_);
    if (joined_stale_) {
        std::size_t size = lines_.size();
        for (const auto& line : lines_) {
            size += line.size();
        }
        auto joined = std::make_shared<std::string>();
        joined->reserve(size);
        for (std::size_t i = 0; i < lines_.size(); ++i) {
            if (i > 0) {
                *joined += '\n';
            }
            *joined += lines_[i];
        }
        joined_ = std::move(joined);
        joined_stale_ = false;
    }
    return joined_;
}

HelperLog& helper_log() {
    static auto* log = new HelperLog;
    return *log;
}

} // namespace quorvex
