#include "service/windows/service_manager.hpp"

#include <array>

namespace quorvex::service {

std::optional<std::string_view> service_state_name(std::uint32_t state) {
    static constexpr std::array<std::string_view, 7> NAMES{"Stopped",         "StartPending", "StopPending", "Running",
                                                           "ContinuePending", "PausePending", "Paused"};
    if (state < 1 || state > NAMES.size()) return std::nullopt;
    return NAMES[state - 1];
}

Result<std::uint32_t> checked_service_state(Result<std::uint32_t> state) {
    if (state && !service_state_name(*state))
        return fail(Error::message("unknown service state " + std::to_string(*state)));
    return state;
}

Error scm_call_failure(Error cause, std::string step) {
    // A message of our own (an unknown state) is shown as it is; only system errors get the link.
    if (!cause.os_code()) return std::move(cause).context(std::move(step));
    return std::move(cause).context("IO error in winapi call").context(std::move(step));
}

} // namespace quorvex::service
