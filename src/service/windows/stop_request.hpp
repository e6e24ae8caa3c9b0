#pragma once
// The stop control: what the control handler does with each control code the Service Control
// Manager sends, and the request it records. The handler runs on the dispatcher's thread,
// outside the runtime; the request tells the runtime's StopSignal while the server runs.

#include <cstdint>
#include <functional>
#include <mutex>

namespace quorvex::service {

// Control codes and handler results, with names that stay clear of the windows.h macros.
inline constexpr std::uint32_t CONTROL_STOP = 1;              // SERVICE_CONTROL_STOP
inline constexpr std::uint32_t CONTROL_INTERROGATE = 4;       // SERVICE_CONTROL_INTERROGATE
inline constexpr std::uint32_t CONTROL_HANDLED = 0;           // NO_ERROR
inline constexpr std::uint32_t CONTROL_NOT_IMPLEMENTED = 120; // ERROR_CALL_NOT_IMPLEMENTED

// The part of the stop that Asio cannot hold: the SCM may send a stop before the runtime exists
// (the handler is registered, and start-pending reported, before the runtime is built) and after
// the server is gone. So whether a stop came, and whom to tell while somebody listens, live here
// for the life of the process, behind a lock.
class StopRequest {
public:
    // From the control handler: records the stop and tells the listener, if there is one.
    void request();
    // From now on a stop is told to `listener`, which must return at once (it posts onto the
    // runtime); a stop already recorded is told at once.
    void listen(std::function<void()> listener);
    // Nobody listens any more: a later stop is only recorded. Once this returns, the listener
    // neither runs nor will run.
    void stop_listening();

private:
    std::mutex mutex_;
    bool requested_ = false;
    std::function<void()> listener_;
};

// Stop is recorded and told to whoever listens; interrogate needs nothing (the SCM keeps the
// last report); every other control is refused. Never sends a report itself.
[[nodiscard]] std::uint32_t handle_service_control(std::uint32_t control, StopRequest& stop);

} // namespace quorvex::service
