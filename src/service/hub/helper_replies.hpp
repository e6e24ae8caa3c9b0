#pragma once
// The wire form of every helper reply: status, headers and byte-exact bodies. JSON bodies are
// compact with members in a fixed order; text bodies are UTF-8.

#include "common/helper_contract.hpp"
#include "service/hub/core_outcomes.hpp"
#include "service/peer/http/request_handler.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvex::hub {

// An error that becomes a JSON error reply. Only a launch failure carries an OS error number.
struct HelperError {
    unsigned status = 500;
    std::string code;
    std::string message;
    std::optional<std::int32_t> os_error;
};

// {"code":...,"message":...[,"details":{"osError":N}]} as application/json.
[[nodiscard]] http::Reply error_reply(const HelperError& error);
// The error reply of a request the helper will not serve as sent: code "invalidRequest".
[[nodiscard]] http::Reply invalid_request(unsigned status, std::string message);
// A text/plain; charset=utf-8 reply.
[[nodiscard]] http::Reply text_reply(unsigned status, std::string body);
// Adds the protocol header that every reply of the ping endpoint carries.
[[nodiscard]] http::Reply with_protocol_header(http::Reply reply);
// Adds "connection: close".
[[nodiscard]] http::Reply with_connection_close(http::Reply reply);

[[nodiscard]] http::Reply ping_reply(const PingOutcome& outcome);
[[nodiscard]] http::Reply start_reply(const StartOutcome& outcome);
[[nodiscard]] http::Reply stop_reply(const StopOutcome& outcome);

// A blocking task that ended without an outcome; `text` says why.
[[nodiscard]] http::Reply ping_task_failed_reply(std::string_view text);
[[nodiscard]] http::Reply start_task_failed_reply(std::string_view text);
[[nodiscard]] http::Reply stop_task_failed_reply(std::string_view text);

// The retained lines as HelperLog::text() joins them, built in place in `reply`, which is
// default-constructed.
void build_logs_reply(http::Reply& reply, std::shared_ptr<const std::string> joined_lines);

} // namespace quorvex::hub
