#include "service/windows/stop_signal.hpp"

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/error.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/experimental/channel.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/system/system_error.hpp>

#include <utility>

namespace quorvex::service {

struct StopSignal::State {
    explicit State(const boost::asio::any_io_executor& executor)
        : strand(boost::asio::make_strand(executor)), wake(strand) {}

    boost::asio::strand<boost::asio::any_io_executor> strand;
    // Never sent to: a trigger cancels its waits. Not a timer: the first timer of a Windows
    // io_context starts a thread that stays for good, and an idle service holds no more threads
    // than it needs.
    boost::asio::experimental::channel<void(boost::system::error_code)> wake;
    bool triggered = false; // on the strand only
};

StopSignal::StopSignal(const boost::asio::any_io_executor& executor) : state_(std::make_shared<State>(executor)) {}

void StopSignal::trigger() const {
    boost::asio::post(state_->strand, [state = state_] {
        state->triggered = true;
        state->wake.cancel();
    });
}

// Runs on the strand, where triggers land: the flag and the channel need no lock.
boost::asio::awaitable<void> StopSignal::wait_for_trigger(std::shared_ptr<State> state) {
    if (!state->triggered) {
        co_await state->wake.async_receive(boost::asio::as_tuple(boost::asio::use_awaitable));
    }
    // The wait also ends when the awaiting operation is cancelled: that is no stop.
    if (!state->triggered) {
        throw boost::system::system_error(boost::asio::error::operation_aborted);
    }
}

boost::asio::awaitable<void> StopSignal::wait() const {
    // Copied first, so that the wait does not depend on this object once it has begun.
    const std::shared_ptr<State> state = state_;
    // The cancellation of this wait reaches the strand's through co_spawn.
    auto triggered = boost::asio::co_spawn(state->strand, wait_for_trigger(state), boost::asio::use_awaitable);
    co_await std::move(triggered);
}

} // namespace quorvex::service
