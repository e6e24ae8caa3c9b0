#pragma once
// The real HelperRouter behind the real transport on a loopback port, with Core operations that
// answer at once and count their calls, and a watch on what reaches the router. What the
// hostile-input and load tests serve.

#include "common/helper_log.hpp"
#include "loopback_server.hpp"
#include "service/hub/core_outcomes.hpp"
#include "service/peer/http/request_handler.hpp"

#include <boost/asio/thread_pool.hpp>

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>

namespace quorvex::http::test {

inline const std::string SERVED_HELPER_PATH = "C:\\Program Files\\Quorvex\\QuorvexHelper.exe";

class CountingCore final : public hub::CoreOperations {
public:
    hub::PingOutcome ping_core(std::string core_sha256) override;
    hub::StartOutcome start_core(std::string address, std::string session_id) override;
    hub::StopOutcome stop_core(std::string session_id) override;
    // Leaves every stop to the blocking pool, as a busy supervisor does.
    std::optional<hub::StopOutcome> stop_core_at_once(std::string session_id) override;

    std::atomic<int> pings{0};
    std::atomic<int> starts{0};
    std::atomic<int> stops{0};
};

// Passes every request on and counts the heads that reached it and the body reads it asked for.
class WatchedRouter final : public RequestHandler {
public:
    explicit WatchedRouter(std::shared_ptr<RequestHandler> router) : router_(std::move(router)) {}
    // Counts the head (the transport asks this first for every request) and, through the route
    // it passes on, the body reads.
    HeadDecision answer_at_once(const RequestHead& head) override;

    std::atomic<int> heads{0};
    std::atomic<int> body_reads{0};

private:
    std::shared_ptr<RequestHandler> router_;
};

struct ServedRouter {
    explicit ServedRouter(int threads = 2, int backlog = boost::asio::socket_base::max_listen_connections);

    // Waits until exactly `count` connections are open; false if that did not happen within `wait`.
    bool settles_at(std::size_t count, std::chrono::milliseconds wait = std::chrono::milliseconds(5000));

    HelperLog log;
    CountingCore core;
    boost::asio::thread_pool blocking{2};
    std::shared_ptr<WatchedRouter> router;
    LoopbackServer server; // last: drained before anything it uses goes away
};

} // namespace quorvex::http::test
