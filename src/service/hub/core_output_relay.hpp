#pragma once
// The relay of one Core: copies its standard error into the log line by line, then asks the
// supervisor whether that Core has exited.

#include "common/helper_log.hpp"
#include "service/hub/core_platform.hpp"

#include <cstddef>
#include <memory>
#include <string>

namespace quorvex::hub {

class CoreSupervisor;

inline constexpr std::size_t RELAY_READ_BYTES = 8192;

// Runs until the stream ends, a read fails or a line is not UTF-8; then closes the pipe and
// calls watch_core_exit with the session ID. Runs on a thread of its own.
void relay_core_output(std::string session_id, std::unique_ptr<CoreOutput> output, HelperLog& log,
                       CoreSupervisor& supervisor);

} // namespace quorvex::hub
