#include "service/hub/core_start_params.hpp"

#include <algorithm>

namespace quorvex::hub {
namespace {

bool is_lower_hex_digits(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

} // namespace

bool validate_core_address(std::string_view address) {
    if (!address.starts_with(CORE_PIPE_PREFIX) || address.size() != CORE_PIPE_PREFIX.size() + CORE_ID_DIGITS)
        return false;
    return is_lower_hex_digits(address.substr(CORE_PIPE_PREFIX.size()));
}

bool validate_session_id(std::string_view session_id) {
    return session_id.size() == CORE_ID_DIGITS && is_lower_hex_digits(session_id);
}

} // namespace quorvex::hub
