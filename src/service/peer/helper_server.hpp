#pragma once
// The body of the running service: listen on 127.0.0.1, publish the port, report Running, serve
// the helper API to the owner's account until the stop signal, then drain and clean up.

#include "common/error.hpp"
#include "service/peer/helper_server_platform.hpp"
#include "service/windows/service_status.hpp"
#include "service/windows/stop_signal.hpp"

#include <boost/asio/awaitable.hpp>

#include <string>

namespace quorvex::peer {

// Portable: everything system-specific comes through `platform`.
[[nodiscard]] boost::asio::awaitable<Result<void>> run_helper_server(std::string owner_sid, service::StopSignal stop,
                                                                     service::ServiceStatusReporter& status,
                                                                     HelperServerPlatform& platform);

// The product: the Win32 platform (listener, registry, peer check, router, Core supervisor).
[[nodiscard]] boost::asio::awaitable<Result<void>> run_helper_server(std::string owner_sid,
                                                                     service::StopSignal stop,
                                                                     service::ServiceStatusReporter& status);

} // namespace quorvex::peer
