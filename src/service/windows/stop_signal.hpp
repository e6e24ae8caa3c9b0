#pragma once
// What the helper server awaits as its shutdown trigger, on the runtime. A trigger is posted onto
// the signal's strand, where it cancels the waits on a channel that nothing is ever sent to: every
// wait on it ends, and a later wait does not begin. Copies share one signal. It only signals: the
// stop-pending report is the service host's.

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/awaitable.hpp>

#include <memory>

namespace quorvex::service {

class StopSignal {
public:
    explicit StopSignal(const boost::asio::any_io_executor& executor);

    // Safe from any thread.
    void trigger() const;
    // Completes once triggered (at once if it already was). Cancelling the awaiting operation (an
    // awaitable operator, a cancellation slot) ends it with operation_aborted. The StopSignal may
    // be destroyed while this waits.
    [[nodiscard]] boost::asio::awaitable<void> wait() const;

private:
    struct State;
    static boost::asio::awaitable<void> wait_for_trigger(std::shared_ptr<State> state);

    std::shared_ptr<State> state_;
};

} // namespace quorvex::service
