#pragma once
// The JSON bodies of start and stop, parsed strictly: one object with each declared member
// exactly once as a string and nothing else, or an array of those strings in declaration order.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quorvex::hub {

// The largest body start and stop accept; judged on the declared length, before any byte is read.
inline constexpr std::size_t BODY_LIMIT = 4096;

struct StartParams {
    std::string address;
    std::string session_id;
};

struct StopParams {
    std::string session_id;
};

// Nothing when the body is not exactly such a value (leading and trailing whitespace allowed).
[[nodiscard]] std::optional<StartParams> parse_start_params(std::string_view body);
[[nodiscard]] std::optional<StopParams> parse_stop_params(std::string_view body);

} // namespace quorvex::hub
