#pragma once
// The routes that run a Core operation, each pending until the transport runs it with the
// request's body. They live apart from the router's head checks, which every request runs, so
// that their coroutine and hand-off code does not weigh on how those are compiled.

#include "service/hub/core_outcomes.hpp"
#include "service/peer/http/pending_route.hpp"

#include <boost/asio/any_io_executor.hpp>

#include <string>

namespace quorvex::hub {

// A GET /ping whose query is valid: the Core operation runs on `pool`. `core` and `pool` must
// outlive the route.
[[nodiscard]] http::PendingRoute ping_core_route(std::string core_sha256, CoreOperations& core,
                                                 const boost::asio::any_io_executor& pool);
// A POST /start or /stop whose head passed the router's checks: reads at most BODY_LIMIT bytes,
// parses them strictly, and runs the Core operation (a stop at once where it can) on `pool`.
[[nodiscard]] http::PendingRoute start_core_route(CoreOperations& core, const boost::asio::any_io_executor& pool);
[[nodiscard]] http::PendingRoute stop_core_route(CoreOperations& core, const boost::asio::any_io_executor& pool);

} // namespace quorvex::hub
