#pragma once
// Coroutine tasks that are cancelled together and awaited together, on Asio's per-operation
// cancellation: each task is spawned with a cancellation slot of its own bound to its completion,
// cancel_all() emits terminal cancellation to every task, and all_ended() completes once the last
// task has ended. What a task does when cancelled is its own affair (its cancellation state).
//
// Kept beside Asio, which gives none of it: the list of the slots, a group that refuses new tasks
// once cancelled (a signal reaches only the slots that exist when it is emitted), and the wait
// for the last task.
//
// Thread-safe: every member may be called from any thread of a multi-threaded io_context.

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/awaitable.hpp>
#include <boost/asio/bind_cancellation_slot.hpp>
#include <boost/asio/cancellation_signal.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/consign.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/experimental/channel.hpp>

#include <cstddef>
#include <list>
#include <memory>
#include <mutex>
#include <utility>

namespace quorvex::http {

class TaskGroup : public std::enable_shared_from_this<TaskGroup> {
public:
    // `executor` runs the wait of all_ended().
    explicit TaskGroup(const boost::asio::any_io_executor& executor);

    // Starts `task` on `strand`; once cancel_all() has been called, destroys `task` unstarted
    // instead. `ended(std::exception_ptr)` runs on the strand when the task has ended; the task
    // leaves the group after it.
    template <class Ended>
    void spawn(const boost::asio::any_io_executor& strand, boost::asio::awaitable<void> task, Ended ended) {
        const std::scoped_lock guard(mutex_);
        if (cancelled_) {
            return;
        }
        const auto member = members_.insert(members_.end(), std::make_shared<Member>(strand));
        // The task is spawned from its strand, by a handler posted under the lock: an emit that
        // cancel_all() posts there later runs after co_spawn has installed its handler in the slot.
        try {
            boost::asio::post(strand, [self = shared_from_this(), member, joined = *member, task = std::move(task),
                                       ended = std::move(ended)]() mutable {
                boost::asio::co_spawn(joined->strand, std::move(task),
                                      boost::asio::bind_cancellation_slot(
                                          joined->signal.slot(),
                                          boost::asio::consign(std::move(ended), Leaver(std::move(self), member))));
            });
        } catch (...) {
            members_.erase(member);
            throw;
        }
    }

    // Emits terminal cancellation to every task, each on its own strand, and refuses new tasks.
    // Any number of times.
    void cancel_all();

    // Completes once no task is left (at once when none is).
    boost::asio::awaitable<void> all_ended();

    // Tasks that have not ended yet.
    [[nodiscard]] std::size_t size() const;

private:
    struct Member {
        explicit Member(boost::asio::any_io_executor strand) : strand(std::move(strand)) {}
        boost::asio::any_io_executor strand;
        // Emitted on the strand only: a signal is not thread-safe.
        boost::asio::cancellation_signal signal;
    };
    using Members = std::list<std::shared_ptr<Member>>;

    // Takes a task out of the group when its completion handler is destroyed, after it ran.
    class Leaver {
    public:
        Leaver(std::shared_ptr<TaskGroup> group, Members::iterator member)
            : group_(std::move(group)), member_(member) {}
        Leaver(Leaver&& other) noexcept : group_(std::move(other.group_)), member_(other.member_) {}
        Leaver(const Leaver&) = delete;
        Leaver& operator=(const Leaver&) = delete;
        Leaver& operator=(Leaver&&) = delete;
        // NOLINTNEXTLINE(bugprone-exception-escape): only a broken mutex or timer throws; terminate then
        ~Leaver() {
            if (group_) {
                group_->leave(member_);
            }
        }

    private:
        std::shared_ptr<TaskGroup> group_;
        Members::iterator member_;
    };

    void leave(Members::iterator member);

    mutable std::mutex mutex_;
    Members members_;
    bool cancelled_ = false;
    // Never sent to: the last task to leave cancels its waits, which ends the wait of all_ended().
    // Not a timer: the first timer of a Windows io_context starts a thread that stays for good.
    boost::asio::experimental::channel<void(boost::system::error_code)> last_left_;
};

} // namespace quorvex::http
