#pragma once
// The helper API behind the transport: the gate, then the routes ping, start, stop and logs,
// then one error reply for whatever every route refused. It knows nothing of HTTP/1.1 or
// HTTP/2 and keeps no state between requests.

#include "common/helper_log.hpp"
#include "service/hub/core_outcomes.hpp"
#include "service/peer/http/request_handler.hpp"

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/awaitable.hpp>

namespace quorvex::hub {

class HelperRouter final : public http::RequestHandler {
public:
    // `core` and `log` are the process-wide supervisor and log; `blocking` runs the Core
    // operations, which block, so that they never stall a connection's executor; `ping_blocking`
    // runs pings, which must not wait behind starts and stops (the same executor by default).
    // All must outlive every request in flight.
    HelperRouter(CoreOperations& core, HelperLog& log, const boost::asio::any_io_executor& blocking);
    HelperRouter(CoreOperations& core, HelperLog& log, boost::asio::any_io_executor blocking,
                 boost::asio::any_io_executor ping_blocking);

    // Gate refusals, the logs, unknown paths and every refusal the head decides; otherwise the
    // route that reads the body (start, stop) or takes the ping query's digest. The route never
    // fails: every refusal and every failed operation is a reply. It uses this router, which
    // must outlive it.
    http::HeadDecision answer_at_once(const http::RequestHead& head) override;

private:
    CoreOperations& core_;
    HelperLog& log_;
    boost::asio::any_io_executor blocking_;
    boost::asio::any_io_executor ping_blocking_;
};

} // namespace quorvex::hub
