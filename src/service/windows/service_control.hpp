#pragma once
// The stop: what the control handler does with each control code the Service Control Manager
// sends, and how a stop control reaches the server. The handler runs on the dispatcher's
// thread, outside the runtime; the server awaits a StopSignal on the runtime.

#include "service/windows/service_status.hpp"

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/awaitable.hpp>

#include <cstdint>
#include <functional>
#include <memory>
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

// What the helper server awaits as its shutdown trigger, on the runtime. A trigger is posted onto
// the signal's strand, where it cancels the waits on a channel that nothing is ever sent to: every
// wait on it ends, and a later wait does not begin. Copies share one signal.
class StopSignal {
public:
    StopSignal(const boost::asio::any_io_executor& executor, ServiceStatusReporter& status);

    // Safe from any thread.
    void trigger() const;
    // Completes once triggered (at once if it already was) and the stop-pending report was sent
    // (its failure is ignored). Cancelling the awaiting operation (an awaitable operator, a
    // cancellation slot) ends it with operation_aborted and no report. The StopSignal may be
    // destroyed while this waits.
    [[nodiscard]] boost::asio::awaitable<void> wait() const;

private:
    struct State;
    static boost::asio::awaitable<void> wait_for_trigger(std::shared_ptr<State> state);

    std::shared_ptr<State> state_;
    ServiceStatusReporter* status_;
};

} // namespace quorvex::service
