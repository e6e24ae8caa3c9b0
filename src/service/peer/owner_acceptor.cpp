#include "service/peer/owner_acceptor.hpp"

#include "common/helper_log.hpp"
#include "service/peer/http/deadline_thread.hpp"

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/cancellation_type.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>

#include <string>
#include <utility>
#include <vector>

namespace quorvex::peer {

void OwnerAcceptor::take_waiting_connections(std::vector<boost::asio::ip::tcp::socket>& batch) {
    // The listener stays non-blocking (as it was opened): a synchronous accept returns at once
    // when the queue is empty, and asynchronous accepts are not affected.
    boost::system::error_code error;
    listener_.non_blocking(true, error);
    while (!error && batch.size() < MAX_CHECK_BATCH) {
        auto connection = listener_.accept(error);
        if (!error) {
            batch.push_back(std::move(connection));
        }
    }
    // A failure other than an empty queue shows again at the next asynchronous accept.
}

OwnerAcceptor::OwnerAcceptor(boost::asio::ip::tcp::acceptor listener, std::string owner_sid,
                             ConnectionOwnerCheck& owner_check)
    : listener_(std::move(listener)), owner_sid_(std::move(owner_sid)), owner_check_(owner_check) {}

boost::asio::awaitable<void> OwnerAcceptor::run(Handoff handoff) {
    using boost::asio::as_tuple;
    using boost::asio::use_awaitable;
    // The caller's cancellation, read as Beast's listeners read it: an accept that completed in
    // the same turn as the cancellation still reports success.
    const auto cancellation = co_await boost::asio::this_coro::cancellation_state;
    const auto cancelled = [&] { return cancellation.cancelled() != boost::asio::cancellation_type::none; };
    bool back_off = false;
    while (!cancelled()) {
        if (back_off) {
            // Not an Asio timer: on Windows its thread would stay for the life of the process.
            co_await http::pause(http::process_deadline_thread(), ACCEPT_BACKOFF);
            back_off = false;
            continue;
        }
        auto [error, connection] = co_await listener_.async_accept(as_tuple(use_awaitable));
        if (cancelled()) {
            break;
        }
        if (error) {
            if (error == boost::asio::error::operation_aborted) {
                break;
            }
            append_log("Helper could not accept a connection: " + error.message());
            back_off = true;
            continue;
        }
        std::vector<boost::asio::ip::tcp::socket> batch;
        batch.push_back(std::move(connection));
        take_waiting_connections(batch);
        const std::vector<PeerVerdict> verdicts = owner_check_.peer_verdicts(batch, owner_sid_);
        for (std::size_t i = 0; i < batch.size(); ++i) {
            const PeerVerdict verdict = i < verdicts.size() ? verdicts[i] : PeerVerdict::foreign_account;
            if (verdict == PeerVerdict::admitted) {
                handoff(std::move(batch[i]));
                continue;
            }
            const auto kind = static_cast<std::size_t>(verdict);
            if (!refusals_logged_.test(kind)) {
                refusals_logged_.set(kind);
                append_log(std::string(refusal_line(verdict)));
            }
            boost::system::error_code ignored;
            batch[i].close(ignored);
        }
    }
}

} // namespace quorvex::peer
