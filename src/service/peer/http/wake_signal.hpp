#pragma once
// Wakes the coroutines of one connection that wait for its state to change. Strand-local: every
// waiter and every notify() runs on the connection's strand. A waiter re-checks its condition
// after each wake-up and before it waits again, so a notify() with nobody waiting is never lost.

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/awaitable.hpp>
#include <boost/asio/steady_timer.hpp>

namespace quorvex::http {

class WakeSignal {
public:
    explicit WakeSignal(const boost::asio::any_io_executor& strand);

    // Completes at the next notify() (or when the signal is destroyed).
    boost::asio::awaitable<void> wait();
    // Wakes every current waiter.
    void notify();

private:
    boost::asio::steady_timer timer_;
};

} // namespace quorvex::http
