#include "service/hub/helper_router.hpp"

#include "service/hub/helper_replies.hpp"
#include "service/hub/request_body.hpp"
#include "service/hub/request_head.hpp"
#include "service/hub/request_refusal.hpp"

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/use_awaitable.hpp>

#include <exception>
#include <expected>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace quorvex::hub {
namespace {

namespace asio = boost::asio;

// The route whose path the target names: one segment after the leading "/", compared exactly,
// with one trailing "/" tolerated; at most one route can match. The named route's own refusal
// is the reply, and "not found" when no route is named. `none` is 0, what a ParsedRoute holds
// unless the router filled it.
enum class Route : unsigned { none, ping, start, stop, logs };

http::ParsedRoute parsed(Route route, std::string argument = {}) {
    return {static_cast<unsigned>(route), std::move(argument)};
}

Route named_route(std::string_view target) {
    auto path = target.substr(0, target.find('?'));
    if (!path.starts_with('/')) {
        return Route::none;
    }
    path.remove_prefix(1);
    if (path.ends_with('/')) {
        path.remove_suffix(1);
    }
    if (path == "ping") {
        return Route::ping;
    }
    if (path == "start") {
        return Route::start;
    }
    if (path == "stop") {
        return Route::stop;
    }
    if (path == "logs") {
        return Route::logs;
    }
    return Route::none;
}

// The checks of a POST route that the head decides, before its body is read.
std::optional<Refusal> json_head_refusal(const http::RequestHead& head) {
    if (head.method != "POST") {
        return Refusal::wrong_method;
    }
    const auto length = declared_body_length(head.headers);
    if (!length) {
        return Refusal::length_required;
    }
    if (*length > BODY_LIMIT) {
        return Refusal::body_too_large;
    }
    if (!accepts_json_content_type(head.headers)) {
        return Refusal::unsupported_media_type;
    }
    return std::nullopt;
}

// The logs reply, built where the caller's decision lives: it is the common request.
http::HeadDecision logs_at_once(const HelperLog& log) {
    http::HeadDecision decision(std::in_place_type<http::Reply>);
    build_logs_reply(std::get<http::Reply>(decision), log.text());
    return decision;
}

template <class Outcome>
asio::awaitable<Outcome> run_operation(std::function<Outcome()> operation) {
    co_return operation();
}

// Runs a Core operation on the blocking pool and resumes on the caller's executor. An
// operation that throws ends without an outcome: the text says why. (Callers build the
// operation as a named local: g++ 12 mishandles non-trivial temporaries inside co_await.)
template <class Outcome>
asio::awaitable<std::expected<Outcome, std::string>> on_blocking_pool(asio::any_io_executor pool,
                                                                      std::function<Outcome()> operation) {
    std::string failure;
    try {
        co_return co_await asio::co_spawn(pool, run_operation<Outcome>(std::move(operation)), asio::use_awaitable);
    } catch (const std::exception& e) {
        failure = e.what();
    } catch (...) {
        failure = "unknown failure";
    }
    co_return std::unexpected(std::move(failure));
}

// A GET /ping whose query is valid.
asio::awaitable<http::Reply> ping_route(std::string core_sha256, CoreOperations& core, asio::any_io_executor pool) {
    std::function<PingOutcome()> operation = [&core, digest = std::move(core_sha256)] {
        return core.ping_core(digest);
    };
    auto outcome = co_await on_blocking_pool(std::move(pool), std::move(operation));
    if (!outcome) {
        co_return ping_task_failed_reply(outcome.error());
    }
    co_return ping_reply(*outcome);
}

// A POST /start whose head passed json_head_refusal.
asio::awaitable<http::Reply> start_route(http::BodyReader& reader, CoreOperations& core, asio::any_io_executor pool) {
    auto body = co_await reader.read_body(BODY_LIMIT);
    if (!body) {
        co_return refusal_reply(Refusal::body_read_failure);
    }
    auto params = parse_start_params(*body);
    if (!params) {
        co_return refusal_reply(Refusal::invalid_json_body);
    }

    std::function<StartOutcome()> operation = [&core, p = std::move(*params)] {
        return core.start_core(p.address, p.session_id);
    };
    auto outcome = co_await on_blocking_pool(std::move(pool), std::move(operation));
    if (!outcome) {
        co_return start_task_failed_reply(outcome.error());
    }
    co_return start_reply(*outcome);
}

// A POST /stop whose head passed json_head_refusal.
asio::awaitable<http::Reply> stop_route(http::BodyReader& reader, CoreOperations& core, asio::any_io_executor pool) {
    auto body = co_await reader.read_body(BODY_LIMIT);
    if (!body) {
        co_return refusal_reply(Refusal::body_read_failure);
    }
    auto params = parse_stop_params(*body);
    if (!params) {
        co_return refusal_reply(Refusal::invalid_json_body);
    }

    std::function<StopOutcome()> operation = [&core, p = std::move(*params)] { return core.stop_core(p.session_id); };
    auto outcome = co_await on_blocking_pool(std::move(pool), std::move(operation));
    if (!outcome) {
        co_return stop_task_failed_reply(outcome.error());
    }
    co_return stop_reply(*outcome);
}

} // namespace

HelperRouter::HelperRouter(CoreOperations& core, HelperLog& log, const boost::asio::any_io_executor& blocking)
    : HelperRouter(core, log, blocking, blocking) {}

HelperRouter::HelperRouter(CoreOperations& core, HelperLog& log, boost::asio::any_io_executor blocking,
                           boost::asio::any_io_executor ping_blocking)
    : core_(core), log_(log), blocking_(std::move(blocking)), ping_blocking_(std::move(ping_blocking)) {}

http::HeadDecision HelperRouter::answer_at_once(const http::RequestHead& head) {
    const auto gate = check_request_gate(head.headers);
    if (std::holds_alternative<InvalidGateHeader>(gate)) {
        return refusal_reply(Refusal::invalid_header);
    }
    if (std::holds_alternative<GateRefusal>(gate)) {
        return refusal_reply(Refusal::gate_refusal);
    }

    const Route route = named_route(head.target);
    switch (route) {
    case Route::none:
        return refusal_reply(Refusal::no_such_route);
    case Route::logs:
        if (head.method != "GET") {
            return refusal_reply(Refusal::wrong_method);
        }
        return logs_at_once(log_);
    case Route::ping: {
        if (head.method != "GET") {
            return refusal_reply(Refusal::wrong_method);
        }
        auto query = read_ping_query(head.target);
        if (!query) {
            return refusal_reply(Refusal::invalid_ping_query);
        }
        return parsed(route, std::move(query->core_sha256));
    }
    case Route::start:
    case Route::stop:
        if (const auto refusal = json_head_refusal(head)) {
            return refusal_reply(*refusal);
        }
        return parsed(route);
    }
    return refusal_reply(Refusal::no_such_route);
}

asio::awaitable<http::Reply> HelperRouter::handle(http::RequestHead, http::ParsedRoute route, http::BodyReader& body) {
    // Named awaitables: g++ 12 can destroy temporaries of a co_await expression twice.
    switch (static_cast<Route>(route.route)) {
    case Route::ping: {
        auto answer = ping_route(std::move(route.argument), core_, ping_blocking_);
        co_return co_await std::move(answer);
    }
    case Route::start: {
        auto answer = start_route(body, core_, blocking_);
        co_return co_await std::move(answer);
    }
    case Route::stop: {
        auto answer = stop_route(body, core_, blocking_);
        co_return co_await std::move(answer);
    }
    case Route::none:
    case Route::logs:
        break;
    }
    co_return refusal_reply(Refusal::no_such_route); // answer_at_once gives no other route
}

} // namespace quorvex::hub
