#include "service/hub/core_output_relay.hpp"

#include "common/utf.hpp"

#include <vector>

namespace quorvex::hub {

bool CoreLineSplitter::feed(std::string_view chunk, const LineSink& sink) {
    while (!invalid_ && !chunk.empty()) {
        const std::size_t lf = chunk.find('\n');
        const bool ends_line = lf != std::string_view::npos;
        const std::string_view part = chunk.substr(0, lf);
        chunk.remove_prefix(ends_line ? lf + 1 : chunk.size());

        if (!skipping_) {
            line_.append(part.substr(0, HELD_LIMIT - line_.size()));
            if (line_.size() == HELD_LIMIT) {
                // Over the cap whatever follows: hand out the head now, skip the rest.
                emit(sink);
                skipping_ = true;
            } else if (ends_line) {
                if (line_.ends_with('\r')) {
                    line_.pop_back();
                }
                emit(sink);
            }
        }
        if (ends_line) {
            skipping_ = false;
        }
    }
    return !invalid_;
}

void CoreLineSplitter::finish(const LineSink& sink) {
    if (!invalid_ && !skipping_ && !line_.empty()) {
        emit(sink);
    }
    skipping_ = false;
}

void CoreLineSplitter::emit(const LineSink& sink) {
    std::string_view text = line_;
    std::size_t keep = text.size();
    if (text.size() > MAX_LINE_BYTES) {
        // Every character that starts before the cap is judged; one that does not end within
        // it is dropped with the rest.
        keep = 0;
        while (keep < MAX_LINE_BYTES) {
            const std::size_t n = utf8_sequence_length(text.substr(keep));
            if (n == 0) {
                invalid_ = true;
                break;
            }
            if (keep + n > MAX_LINE_BYTES) {
                break;
            }
            keep += n;
        }
    } else {
        invalid_ = !is_valid_utf8(text);
    }
    if (!invalid_) {
        line_.resize(keep);
        sink(std::move(line_));
    }
    line_.clear();
}

void relay_core_output(std::unique_ptr<CoreOutput> output, HelperLog& log, const std::function<void()>& ended) {
    {
        std::vector<char> buffer(RELAY_READ_BYTES);
        CoreLineSplitter splitter;
        const CoreLineSplitter::LineSink append = [&log](std::string line) { log.append(std::move(line)); };
        for (;;) {
            const Result<std::size_t> got = output->read(buffer);
            if (!got) {
                break; // the unfinished line is dropped with the failed read
            }
            if (*got == 0) {
                splitter.finish(append);
                break;
            }
            if (!splitter.feed({buffer.data(), *got}, append)) {
                break;
            }
        }
        // Closed before `ended`: a Core that goes on writing now gets a broken pipe.
        output.reset();
    }
    ended();
}

} // namespace quorvex::hub
