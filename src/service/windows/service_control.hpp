#pragma once
// What the service does with each control code the Service Control Manager sends: the logic of
// helper_control_handler, apart from the Win32 callback that carries it.

#include "service/windows/stop_signal.hpp"

#include <cstdint>

namespace quorvex::service {

// Control codes and handler results, with names that stay clear of the windows.h macros.
inline constexpr std::uint32_t CONTROL_STOP = 1;        // SERVICE_CONTROL_STOP
inline constexpr std::uint32_t CONTROL_INTERROGATE = 4; // SERVICE_CONTROL_INTERROGATE
inline constexpr std::uint32_t CONTROL_HANDLED = 0;     // NO_ERROR
inline constexpr std::uint32_t CONTROL_NOT_IMPLEMENTED = 120; // ERROR_CALL_NOT_IMPLEMENTED

// Stop sets the flag while a StopSignal still waits for it; interrogate needs nothing (the SCM
// keeps the last report); every other control is refused. Never sends a report itself.
[[nodiscard]] std::uint32_t handle_service_control(std::uint32_t control, StopFlagWriter& writer);

} // namespace quorvex::service
