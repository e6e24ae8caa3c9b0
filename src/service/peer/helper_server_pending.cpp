// TEMPORARY: stands in for the helper server run loop until it is merged, so the executable
// links. The service it runs reports starting, then stopped with exit code 1.
#include "service/peer/helper_server.hpp"

namespace quorvex::peer {

boost::asio::awaitable<Result<void>> run_helper_server(std::string, service::StopSignal,
                                                       service::ServiceStatusReporter&) {
    co_return fail(Error::message("the helper server is not built into this executable yet"));
}

} // namespace quorvex::peer
