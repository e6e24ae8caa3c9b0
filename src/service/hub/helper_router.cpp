#include "service/hub/helper_router.hpp"

#include "service/hub/core_routes.hpp"
#include "service/hub/helper_replies.hpp"
#include "service/hub/request_body.hpp"
#include "service/hub/request_head.hpp"
#include "service/hub/request_refusal.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace quorvex::hub {
namespace {

namespace asio = boost::asio;

// The route whose path the target names: one segment after the leading "/", compared exactly,
// with one trailing "/" tolerated; at most one route can match. The named route's own refusal
// is the reply, and "not found" when no route is named.
enum class Route { none, ping, start, stop, logs };

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
        return ping_core_route(std::move(query->core_sha256), core_, ping_blocking_);
    }
    case Route::start:
    case Route::stop:
        if (const auto refusal = json_head_refusal(head)) {
            return refusal_reply(*refusal);
        }
        return route == Route::start ? start_core_route(core_, blocking_) : stop_core_route(core_, blocking_);
    }
    return refusal_reply(Refusal::no_such_route);
}

} // namespace quorvex::hub
