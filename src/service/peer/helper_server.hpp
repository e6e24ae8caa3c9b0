#pragma once
// The body of the running service: listen on 127.0.0.1, publish the port, report Running, serve
// the helper API to the owner's account until the stop request, then drain and clean up.

#include "common/error.hpp"
#include "service/peer/http/request_handler.hpp"
#include "service/peer/helper_server_platform.hpp"

#include <boost/asio/awaitable.hpp>

#include <functional>
#include <memory>
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

// Portable: everything system-specific comes through `platform`. Every connection serves its
// requests through `router`; `stop_core` ends the managed Core once serving has ended and the
// port is unpublished.
[[nodiscard]] boost::asio::awaitable<Result<void>> run_helper_server(std::string owner_sid, ServerHost& host,
                                                                     HelperServerPlatform& platform,
                                                                     std::shared_ptr<http::RequestHandler> router,
                                                                     std::function<void()> stop_core);

} // namespace quorvex::peer
