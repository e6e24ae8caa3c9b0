#include "served_router.hpp"

#include "service/hub/helper_router.hpp"

#include <memory>
#include <thread>
#include <utility>
#include <variant>

namespace quorvex::http::test {

hub::PingOutcome CountingCore::ping_core(std::string) {
    ++pings;
    return hub::PingOk{SERVED_HELPER_PATH};
}

hub::StartOutcome CountingCore::start_core(std::string, std::string session_id) {
    ++starts;
    return hub::Started{std::move(session_id), 4242};
}

hub::StopOutcome CountingCore::stop_core(std::string session_id) {
    ++stops;
    return hub::NotRunning{std::move(session_id)};
}

std::optional<hub::StopOutcome> CountingCore::stop_core_at_once(std::string) { return std::nullopt; }

namespace {

class CountingBody final : public BodyReader {
public:
    CountingBody(BodyReader& body, std::atomic<int>& reads) : body_(body), reads_(reads) {}
    boost::asio::awaitable<Result<std::string>> read_body(std::size_t limit) override {
        ++reads_;
        auto reading = body_.read_body(limit);
        co_return co_await std::move(reading);
    }

private:
    BodyReader& body_;
    std::atomic<int>& reads_;
};

// Runs the router's route over a body that counts its reads; the route lives in this frame.
boost::asio::awaitable<Reply> counted(PendingRoute route, RequestHead head, BodyReader& body, std::atomic<int>& reads) {
    CountingBody counting(body, reads);
    auto handling = std::move(route).run(std::move(head), counting);
    co_return co_await std::move(handling);
}

} // namespace

HeadDecision WatchedRouter::answer_at_once(const RequestHead& head) {
    ++heads;
    HeadDecision decision = router_->answer_at_once(head);
    if (auto* route = std::get_if<PendingRoute>(&decision)) {
        return PendingRoute([route = std::make_unique<PendingRoute>(std::move(*route)),
                             &reads = body_reads](RequestHead head, BodyReader& body) mutable {
            return counted(std::move(*route), std::move(head), body, reads);
        });
    }
    return decision;
}

ServedRouter::ServedRouter(int threads, int backlog)
    : router(std::make_shared<WatchedRouter>(std::make_shared<hub::HelperRouter>(core, log, blocking.get_executor()))),
      server(router, threads, backlog) {}

bool ServedRouter::settles_at(std::size_t count, std::chrono::milliseconds wait) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (server.open_connections() != count) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

} // namespace quorvex::http::test
