#include "service/peer/http/task_group.hpp"

#include <boost/asio/append.hpp>
#include <boost/asio/as_tuple.hpp>
#include <boost/asio/async_result.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/use_awaitable.hpp>

namespace quorvex::http {

TaskGroup::TaskGroup(const boost::asio::any_io_executor& executor) : last_left_(executor) {}

void TaskGroup::cancel_all() {
    const std::scoped_lock guard(mutex_);
    cancelled_ = true;
    for (const auto& member : members_) {
        boost::asio::post(member->strand, [member] { member->signal.emit(boost::asio::cancellation_type::terminal); });
    }
}

void TaskGroup::leave(Members::iterator member) {
    // On the task's strand, where its emits run: a late emit finds the slot empty, never the
    // handler of a task that has ended.
    (*member)->signal.slot().clear();
    const std::scoped_lock guard(mutex_);
    members_.erase(member);
    if (members_.empty()) {
        last_left_.cancel();
    }
}

boost::asio::awaitable<void> TaskGroup::all_ended() {
    // The channel is waited on and cancelled under the lock: the last task cannot leave between
    // the check and the wait.
    const auto woken = boost::asio::as_tuple(boost::asio::use_awaitable);
    auto last_left = boost::asio::async_initiate<decltype(woken), void(boost::system::error_code)>(
        [this](auto handler) {
            const std::scoped_lock guard(mutex_);
            if (!members_.empty()) {
                last_left_.async_receive(std::move(handler));
                return;
            }
            boost::asio::post(last_left_.get_executor(),
                              boost::asio::append(std::move(handler), boost::system::error_code()));
        },
        woken);
    co_await std::move(last_left);
}

std::size_t TaskGroup::size() const {
    const std::scoped_lock guard(mutex_);
    return members_.size();
}

} // namespace quorvex::http
