#pragma once
// The check on every request before any route: no browser origin, and a "host" that names this
// machine or the helper service. It looks at nothing but those two headers.

#include "service/hub/request_handler.hpp"

#include <array>
#include <string_view>
#include <variant>
#include <vector>

namespace quorvex::hub {

// Host names that count as local, compared ASCII case-insensitively. No IPv6 form on purpose.
inline constexpr std::array<std::string_view, 3> LOCAL_HOST_NAMES = {"127.0.0.1", "localhost",
                                                                     "QuorvexHelperService"};

struct GatePass {};
// A browser origin or a non-local host.
struct GateRefusal {};
// "origin" or "host" holds a byte that is not visible ASCII.
struct InvalidGateHeader {};
using GateOutcome = std::variant<GatePass, GateRefusal, InvalidGateHeader>;

[[nodiscard]] GateOutcome check_request_gate(const http::Headers& headers);

} // namespace quorvex::hub
