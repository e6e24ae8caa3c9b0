#include "command/failure_report.hpp"

#include <string>

namespace quorvex::command {

void report_failure(const Error& error, std::ostream& out) {
    const auto& links = error.links();
    std::string block = "Error: " + links.front() + "\n";
    if (links.size() > 1) {
        block += "\nCaused by:\n";
        if (links.size() == 2) {
            block += "    " + links[1] + "\n";
        } else {
            for (std::size_t i = 1; i < links.size(); ++i) {
                std::string index = std::to_string(i - 1);
                if (index.size() < 5) index.insert(0, 5 - index.size(), ' ');
                block += index + ": " + links[i] + "\n";
            }
        }
    }
    // One write, so the block is not interleaved with anything else on the stream.
    out << block << std::flush;
}

int finish_command(const Result<void>& outcome, std::ostream& out) {
    if (outcome) return EXIT_STATUS_SUCCESS;
    report_failure(outcome.error(), out);
    return EXIT_STATUS_FAILURE;
}

} // namespace quorvex::command
