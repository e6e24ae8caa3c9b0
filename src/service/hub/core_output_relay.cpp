#include "service/hub/core_output_relay.hpp"

#include "service/hub/core_line_splitter.hpp"
#include "service/hub/core_supervisor.hpp"

#include <vector>

namespace quorvex::hub {

void relay_core_output(std::string session_id, std::unique_ptr<CoreOutput> output, HelperLog& log,
                       CoreSupervisor& supervisor) {
    {
        std::vector<char> buffer(RELAY_READ_BYTES);
        CoreLineSplitter splitter;
        const CoreLineSplitter::LineSink append = [&log](std::string line) { log.append(std::move(line)); };
        for (;;) {
            const Result<std::size_t> got = output->read(buffer);
            if (!got) break; // the unfinished line is dropped with the failed read
            if (*got == 0) {
                splitter.finish(append);
                break;
            }
            if (!splitter.feed({buffer.data(), *got}, append)) break;
        }
        // Closed before the watch: a Core that goes on writing now gets a broken pipe.
        output.reset();
    }
    supervisor.watch_core_exit(std::move(session_id));
}

} // namespace quorvex::hub
