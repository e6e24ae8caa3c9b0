#pragma once
// The body of the running service: listen on 127.0.0.1, publish the port, report Running, serve
// the helper API to the owner's account until the stop request, then drain and clean up.

#include "common/error.hpp"
#include "service/peer/blocking_pool.hpp"
#include "service/peer/helper_server_platform.hpp"

#include <boost/asio/awaitable.hpp>

#include <string>

namespace quorvex::peer {

// The service that runs the helper server, as the run loop sees it.
class ServerHost {
public:
    virtual ~ServerHost() = default;
    // Serving has begun: the listener is bound and the port published.
    [[nodiscard]] virtual Result<void> report_running() = 0;
    // The shutdown trigger, awaited once: completes once a stop was requested (and the host has
    // said so to whoever watches it). Cancelling the awaiting operation ends it with
    // operation_aborted.
    virtual boost::asio::awaitable<void> stop_requested() = 0;
};

// Portable: everything system-specific comes through `platform`.
[[nodiscard]] boost::asio::awaitable<Result<void>> run_helper_server(std::string owner_sid, ServerHost& host,
                                                                     HelperServerPlatform& platform);

// The product: the Win32 platform (listener, registry, peer check, router, Core supervisor),
// with blocking work on `blocking`.
[[nodiscard]] boost::asio::awaitable<Result<void>> run_helper_server(std::string owner_sid, ServerHost& host,
                                                                     BlockingPool& blocking);

} // namespace quorvex::peer
