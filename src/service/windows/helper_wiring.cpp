#include "service/windows/helper_wiring.hpp"

#include "service/hub/helper_router.hpp"

#include <utility>

namespace quorvex::service {

HelperWiring::HelperWiring(HelperPlatforms platforms, HelperLog& log)
    : platforms_(std::move(platforms)), log_(log), supervisor_(*platforms_.core, log_, *platforms_.clock) {}

boost::asio::awaitable<Result<void>> HelperWiring::serve(std::string owner_sid, peer::ServerHost& host,
                                                         HelperRuntime& runtime) {
    // Pings take the pool's urgent lane: they never wait behind starts and stops.
    auto router = std::make_shared<hub::HelperRouter>(supervisor_, log_, runtime.blocking().get_executor(),
                                                      runtime.blocking().urgent_executor());
    auto serving = peer::run_helper_server(std::move(owner_sid), host, *platforms_.server, std::move(router),
                                           [this] { supervisor_.stop_core_on_shutdown(); });
    co_return co_await std::move(serving);
}

} // namespace quorvex::service
