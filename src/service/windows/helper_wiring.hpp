#pragma once
// Who builds what. The service main builds one HelperWiring and keeps it for the rest of the
// process; it holds the operating system's side of the Core and of the run loop, and the Core
// supervisor over them and the log. Each run of the server builds the router over the supervisor,
// the log and the runtime's blocking pool, and hands it to run_helper_server with the Core's stop
// at shutdown.

#include "common/clock.hpp"
#include "common/error.hpp"
#include "common/helper_log.hpp"
#include "service/hub/core_platform.hpp"
#include "service/hub/core_supervisor.hpp"
#include "service/peer/helper_server.hpp"
#include "service/peer/helper_server_platform.hpp"
#include "service/windows/helper_runtime.hpp"

#include <boost/asio/awaitable.hpp>

#include <memory>
#include <string>

namespace quorvex::service {

// The operating system's side: the Win32 adapters in the product, scripted fakes in tests.
struct HelperPlatforms {
    std::unique_ptr<hub::CorePlatform> core;
    std::unique_ptr<peer::HelperServerPlatform> server;
    std::unique_ptr<Clock> clock;
};

class HelperWiring {
public:
    // Each Core's relay runs on a detached thread that uses the supervisor and `log`: in the
    // product both must never be destroyed.
    HelperWiring(HelperPlatforms platforms, HelperLog& log);
    HelperWiring(const HelperWiring&) = delete;
    HelperWiring& operator=(const HelperWiring&) = delete;

    // The helper server on `runtime`, as the service host runs it.
    [[nodiscard]] boost::asio::awaitable<Result<void>> serve(std::string owner_sid, peer::ServerHost& host,
                                                             HelperRuntime& runtime);

private:
    HelperPlatforms platforms_;
    HelperLog& log_;
    hub::CoreSupervisor supervisor_;
};

} // namespace quorvex::service
