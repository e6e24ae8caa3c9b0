#pragma once
// What a person should do about each kind of failure: docs/integration.md's table of errors,
// in code, for `doctor` and the tool's failure reports.

#include "client/client_error.hpp"

#include <string_view>

namespace quorvex::client::ctl {

[[nodiscard]] std::string_view advice_for(ClientErrorKind kind);

} // namespace quorvex::client::ctl
