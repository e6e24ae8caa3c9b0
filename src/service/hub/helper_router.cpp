#include "service/hub/helper_router.hpp"

#include "service/hub/body_headers.hpp"
#include "service/hub/helper_replies.hpp"
#include "service/hub/ping_query.hpp"
#include "service/hub/request_body.hpp"
#include "service/hub/request_gate.hpp"
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

// A route either answers or leaves a refusal behind for the next route and for recovery.
using RouteResult = std::variant<http::Reply, Refusal>;

// One segment after the leading "/", compared exactly; one trailing "/" is tolerated.
bool path_names(std::string_view target, std::string_view segment) {
    const auto path = target.substr(0, target.find('?'));
    if (!path.starts_with('/')) return false;
    const auto rest = path.substr(1);
    if (!rest.starts_with(segment)) return false;
    const auto tail = rest.substr(segment.size());
    return tail.empty() || tail == "/";
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

asio::awaitable<RouteResult> ping_route(const http::RequestHead& head, CoreOperations& core,
                                        asio::any_io_executor pool) {
    if (!path_names(head.target, "ping")) co_return Refusal::no_such_route;
    if (head.method != "GET") co_return Refusal::wrong_method;
    auto query = read_ping_query(head.target);
    if (!query) co_return Refusal::invalid_ping_query;

    std::function<PingOutcome()> operation = [&core, digest = std::move(query->core_sha256)] {
        return core.ping_core(digest);
    };
    auto outcome = co_await on_blocking_pool(std::move(pool), std::move(operation));
    if (!outcome) co_return ping_task_failed_reply(outcome.error());
    co_return ping_reply(*outcome);
}

// The checks of a POST route up to and including reading the body; yields the body text.
asio::awaitable<std::variant<std::string, Refusal>> read_json_body(const http::RequestHead& head,
                                                                   std::string_view segment,
                                                                   http::BodyReader& reader) {
    if (!path_names(head.target, segment)) co_return Refusal::no_such_route;
    if (head.method != "POST") co_return Refusal::wrong_method;
    const auto length = declared_body_length(head.headers);
    if (!length) co_return Refusal::length_required;
    if (*length > BODY_LIMIT) co_return Refusal::body_too_large;
    if (!accepts_json_content_type(head.headers)) co_return Refusal::unsupported_media_type;
    auto body = co_await reader.read_body(BODY_LIMIT);
    if (!body) co_return Refusal::body_read_failure;
    co_return std::move(*body);
}

asio::awaitable<RouteResult> start_route(const http::RequestHead& head, http::BodyReader& reader,
                                         CoreOperations& core, asio::any_io_executor pool) {
    auto body = co_await read_json_body(head, "start", reader);
    if (const auto* refusal = std::get_if<Refusal>(&body)) co_return *refusal;
    auto params = parse_start_params(std::get<std::string>(body));
    if (!params) co_return Refusal::invalid_json_body;

    std::function<StartOutcome()> operation = [&core, p = std::move(*params)] {
        return core.start_core(p.address, p.session_id);
    };
    auto outcome = co_await on_blocking_pool(std::move(pool), std::move(operation));
    if (!outcome) co_return start_task_failed_reply(outcome.error());
    co_return start_reply(*outcome);
}

asio::awaitable<RouteResult> stop_route(const http::RequestHead& head, http::BodyReader& reader,
                                        CoreOperations& core, asio::any_io_executor pool) {
    auto body = co_await read_json_body(head, "stop", reader);
    if (const auto* refusal = std::get_if<Refusal>(&body)) co_return *refusal;
    auto params = parse_stop_params(std::get<std::string>(body));
    if (!params) co_return Refusal::invalid_json_body;

    std::function<StopOutcome()> operation = [&core, p = std::move(*params)] { return core.stop_core(p.session_id); };
    auto outcome = co_await on_blocking_pool(std::move(pool), std::move(operation));
    if (!outcome) co_return stop_task_failed_reply(outcome.error());
    co_return stop_reply(*outcome);
}

RouteResult logs_route(const http::RequestHead& head, const HelperLog& log) {
    if (!path_names(head.target, "logs")) return Refusal::no_such_route;
    if (head.method != "GET") return Refusal::wrong_method;
    return logs_reply(log.lines());
}

} // namespace

HelperRouter::HelperRouter(CoreOperations& core, HelperLog& log, boost::asio::any_io_executor blocking)
    : core_(core), log_(log), blocking_(std::move(blocking)) {}

asio::awaitable<http::Reply> HelperRouter::handle(http::RequestHead head, http::BodyReader& body) {
    const auto gate = check_request_gate(head.headers);
    if (std::holds_alternative<InvalidGateHeader>(gate)) co_return refusal_reply(Refusal::invalid_header);
    if (std::holds_alternative<GateRefusal>(gate)) co_return refusal_reply(Refusal::gate_refusal);

    Refusals refusals;
    auto ping = co_await ping_route(head, core_, blocking_);
    if (auto* reply = std::get_if<http::Reply>(&ping)) co_return std::move(*reply);
    refusals.add(std::get<Refusal>(ping));

    auto start = co_await start_route(head, body, core_, blocking_);
    if (auto* reply = std::get_if<http::Reply>(&start)) co_return std::move(*reply);
    refusals.add(std::get<Refusal>(start));

    auto stop = co_await stop_route(head, body, core_, blocking_);
    if (auto* reply = std::get_if<http::Reply>(&stop)) co_return std::move(*reply);
    refusals.add(std::get<Refusal>(stop));

    auto logs = logs_route(head, log_);
    if (auto* reply = std::get_if<http::Reply>(&logs)) co_return std::move(*reply);
    refusals.add(std::get<Refusal>(logs));

    co_return refusals.recover();
}

} // namespace quorvex::hub
