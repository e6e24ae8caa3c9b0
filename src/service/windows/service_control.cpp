#include "service/windows/service_control.hpp"

#include <boost/asio/associated_cancellation_slot.hpp>
#include <boost/asio/associated_executor.hpp>
#include <boost/asio/async_result.hpp>
#include <boost/asio/error.hpp>
#include <boost/asio/execution/outstanding_work.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/prefer.hpp>
#include <boost/asio/use_awaitable.hpp>

#include <cstdint>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

namespace quorvex::service {

using boost::system::error_code;

// Everything here is touched by the control handler's thread and the runtime's threads alike,
// so it lives behind one mutex. A pending wait is held as a function that posts the waiting
// coroutine's completion to its own executor: the writer never runs runtime code itself.
class StopFlagState {
public:
    using Completion = std::move_only_function<void(error_code)>;

    std::mutex mutex;
    bool stopped = false;
    bool writer_present = true;
    bool reader_present = true;
    std::uint64_t last_waiter_id = 0;
    std::vector<std::pair<std::uint64_t, Completion>> waiters;

    // Completes every pending wait (or only the one with `id`), outside the lock.
    void complete_waiters(error_code ec, std::uint64_t id = 0) {
        std::vector<std::pair<std::uint64_t, Completion>> taken;
        {
            std::lock_guard lock(mutex);
            if (id == 0) {
                taken = std::move(waiters);
                waiters.clear();
            } else {
                for (auto it = waiters.begin(); it != waiters.end(); ++it) {
                    if (it->first != id) continue;
                    taken.push_back(std::move(*it));
                    waiters.erase(it);
                    break;
                }
            }
        }
        for (auto& waiter : taken) waiter.second(ec);
    }
};

namespace {

// Ends one wait with operation_aborted when its awaiting operation is cancelled. A handler
// left in the slot after the wait completed finds no waiter with its id and does nothing.
struct CancelWait {
    std::shared_ptr<StopFlagState> state;
    std::uint64_t id;
    void operator()(boost::asio::cancellation_type) const {
        state->complete_waiters(boost::asio::error::operation_aborted, id);
    }
};

template <class Token>
auto async_wait_for_stop(std::shared_ptr<StopFlagState> state, Token&& token) {
    return boost::asio::async_initiate<Token, void(error_code)>(
        [state = std::move(state)](auto handler) {
            auto slot = boost::asio::get_associated_cancellation_slot(handler);
            // The pending wait keeps its runtime busy, as any pending operation does.
            auto work = boost::asio::prefer(boost::asio::get_associated_executor(handler),
                                            boost::asio::execution::outstanding_work.tracked);
            StopFlagState::Completion complete = [handler = std::move(handler),
                                                  work = std::move(work)](error_code ec) mutable {
                auto executor = std::move(work);
                boost::asio::post(executor, [handler = std::move(handler), ec]() mutable { std::move(handler)(ec); });
            };
            std::unique_lock lock(state->mutex);
            if (state->stopped || !state->writer_present) {
                lock.unlock();
                complete(error_code{});
                return;
            }
            const std::uint64_t id = ++state->last_waiter_id;
            state->waiters.emplace_back(id, std::move(complete));
            lock.unlock();
            if (slot.is_connected()) slot.template emplace<CancelWait>(CancelWait{state, id});
        },
        token);
}

} // namespace

StopFlagWriter::StopFlagWriter(std::shared_ptr<StopFlagState> state) : state_(std::move(state)) {}

StopFlagWriter& StopFlagWriter::operator=(StopFlagWriter&& other) noexcept {
    if (this != &other) {
        StopFlagWriter old(std::move(*this));
        state_ = std::move(other.state_);
    }
    return *this;
}

StopFlagWriter::~StopFlagWriter() {
    if (!state_) return;
    {
        std::lock_guard lock(state_->mutex);
        state_->writer_present = false;
    }
    state_->complete_waiters(error_code{});
}

bool StopFlagWriter::has_reader() const {
    std::lock_guard lock(state_->mutex);
    return state_->reader_present;
}

void StopFlagWriter::request_stop() {
    {
        std::lock_guard lock(state_->mutex);
        state_->stopped = true;
    }
    state_->complete_waiters(error_code{});
}

StopFlagReader::StopFlagReader(std::shared_ptr<StopFlagState> state) : state_(std::move(state)) {}

StopFlagReader& StopFlagReader::operator=(StopFlagReader&& other) noexcept {
    if (this != &other) {
        StopFlagReader old(std::move(*this));
        state_ = std::move(other.state_);
    }
    return *this;
}

StopFlagReader::~StopFlagReader() {
    if (!state_) return;
    std::lock_guard lock(state_->mutex);
    state_->reader_present = false;
}

boost::asio::awaitable<void> StopFlagReader::wait() const {
    return async_wait_for_stop(state_, boost::asio::use_awaitable);
}

StopFlag make_stop_flag() {
    auto state = std::make_shared<StopFlagState>();
    return StopFlag{StopFlagWriter(state), state};
}

std::uint32_t handle_service_control(std::uint32_t control, StopFlagWriter& writer) {
    switch (control) {
    case CONTROL_STOP:
        if (writer.has_reader()) writer.request_stop();
        return CONTROL_HANDLED;
    case CONTROL_INTERROGATE:
        return CONTROL_HANDLED;
    default:
        return CONTROL_NOT_IMPLEMENTED;
    }
}

} // namespace quorvex::service
