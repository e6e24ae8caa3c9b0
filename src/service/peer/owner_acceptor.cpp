#include "service/peer/owner_acceptor.hpp"

#include "common/helper_log.hpp"

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>

#include <optional>

namespace quorvex::peer {
namespace {

std::atomic<bool> REFUSAL_LOGGED{false};

} // namespace

bool refusal_already_logged() { return REFUSAL_LOGGED.load(); }

OwnerAcceptor::OwnerAcceptor(boost::asio::ip::tcp::acceptor listener, std::string owner_sid,
                             HelperServerPlatform& platform)
    : listener_(std::move(listener)), owner_sid_(std::move(owner_sid)), platform_(platform) {}

boost::asio::awaitable<void> OwnerAcceptor::run(const std::atomic<bool>& stopping, Handoff handoff) {
    using boost::asio::as_tuple;
    using boost::asio::use_awaitable;
    std::optional<boost::asio::steady_timer> backoff;
    while (!stopping) {
        if (backoff) {
            co_await backoff->async_wait(as_tuple(use_awaitable));
            backoff.reset();
            continue;
        }
        auto [error, connection] = co_await listener_.async_accept(as_tuple(use_awaitable));
        if (stopping) break;
        if (error) {
            if (error == boost::asio::error::operation_aborted) break;
            append_log("Helper could not accept a connection: " + error.message());
            backoff.emplace(co_await boost::asio::this_coro::executor, ACCEPT_BACKOFF);
            continue;
        }
        if (!platform_.is_owner_connection(connection, owner_sid_)) {
            if (!REFUSAL_LOGGED.exchange(true))
                append_log("Helper refused a connection from an account other than its owner");
            boost::system::error_code ignored;
            connection.close(ignored);
            continue;
        }
        handoff(std::move(connection));
    }
}

} // namespace quorvex::peer
