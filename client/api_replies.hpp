#pragma once
// The helper API's replies turned into results: each documented reply becomes a value or a
// typed error; anything else is an unexpected reply. docs/api.md is the contract.

#include "client/client_error.hpp"
#include "common/helper_contract.hpp"

#include <boost/system/error_code.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quorvex::client {

// One reply as received: status, the protocol header if present, the body.
struct HttpReply {
    unsigned status = 0;
    std::optional<std::string> protocol;
    std::string body;
};

struct PingReply {
    std::string helper_path;
    std::string protocol;
};

struct StartReply {
    std::string session_id;
    std::uint32_t pid = 0;
};

enum class StopResult { Stopped, NotRunning, SessionMismatch };

// Whether reading a reply failed on the bytes themselves (a body over the limit, framing that
// is no HTTP), not on the connection (ended before or within the reply, reset, timed out).
[[nodiscard]] bool is_malformed_reply(const boost::system::error_code& read_error);

[[nodiscard]] ClientResult<PingReply> ping_result(const HttpReply& reply);
[[nodiscard]] ClientResult<StartReply> start_result(const HttpReply& reply);
// sessionMismatch is a result, not an error: another session's Core runs.
[[nodiscard]] ClientResult<StopResult> stop_result(const HttpReply& reply);
[[nodiscard]] ClientResult<std::string> logs_result(const HttpReply& reply);

// The request bodies, as the helper parses them.
[[nodiscard]] std::string start_body(std::string_view address, std::string_view session_id);
[[nodiscard]] std::string stop_body(std::string_view session_id);

} // namespace quorvex::client
