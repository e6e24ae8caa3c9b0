#include "service/hub/core_routes.hpp"

#include "service/hub/helper_replies.hpp"
#include "service/hub/request_body.hpp"
#include "service/hub/request_refusal.hpp"

#include <boost/asio/async_result.hpp>
#include <boost/asio/dispatch.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/use_awaitable.hpp>

#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace quorvex::hub {
namespace {

namespace asio = boost::asio;

// What the reply of an operation that threw says.
Error failure_of(const std::exception_ptr& thrown) {
    try {
        std::rethrow_exception(thrown);
    } catch (const std::exception& e) {
        return Error::message(e.what());
    } catch (...) {
        return Error::message("unknown failure");
    }
}

// Runs a Core operation where it is called, an exception turned into a failure.
template <class Operation>
auto outcome_of(Operation& operation) -> Result<decltype(operation())> {
    try {
        return operation();
    } catch (...) {
        return fail(failure_of(std::current_exception()));
    }
}

// Runs a Core operation on the blocking pool and resumes on the caller's executor. An
// operation that throws ends without an outcome: the text says why. The outcome goes from the
// pool thread straight to the caller's executor: co_spawn would first post it once more onto the
// pool, which wakes (or starts) a second pool thread on the way of every reply.
template <class Outcome>
asio::awaitable<Result<Outcome>> on_blocking_pool(asio::any_io_executor pool, std::function<Outcome()> operation) {
    const auto hand_over = [](auto handler, const asio::any_io_executor& on, std::function<Outcome()> run) {
        // The caller's executor counts the operation as its work until the outcome is back.
        auto caller = asio::prefer(asio::get_associated_executor(handler), asio::execution::outstanding_work.tracked);
        asio::post(on, [handler = std::move(handler), caller = std::move(caller), run = std::move(run)]() mutable {
            asio::dispatch(caller, [handler = std::move(handler), outcome = outcome_of(run)]() mutable {
                std::move(handler)(std::move(outcome));
            });
        });
    };
    try {
        co_return co_await asio::async_initiate<const asio::use_awaitable_t<>, void(Result<Outcome>)>(
            hand_over, asio::use_awaitable, std::move(pool), std::move(operation));
    } catch (...) {
        co_return fail(failure_of(std::current_exception()));
    }
}

// A GET /ping whose query is valid.
asio::awaitable<http::Reply> ping_route(std::string core_sha256, CoreOperations& core, asio::any_io_executor pool) {
    std::function<PingOutcome()> operation = [&core, digest = std::move(core_sha256)] {
        return core.ping_core(digest);
    };
    auto running = on_blocking_pool(std::move(pool), std::move(operation));
    auto outcome = co_await std::move(running);
    if (!outcome) {
        co_return ping_task_failed_reply(outcome.error().text());
    }
    co_return ping_reply(*outcome);
}

// What a POST route with a JSON body needs besides the body: its parser, its Core operation and
// its replies.
struct StartRoute {
    static std::optional<StartParams> parse(std::string_view body) { return parse_start_params(body); }
    static StartOutcome run(CoreOperations& core, const StartParams& params) {
        return core.start_core(params.address, params.session_id);
    }
    static http::Reply reply(const StartOutcome& outcome) { return start_reply(outcome); }
    static http::Reply task_failed(std::string_view text) { return start_task_failed_reply(text); }
    // Verifying the Core file alone takes too long for a connection's thread.
    static std::optional<StartOutcome> run_at_once(CoreOperations&, const StartParams&) { return std::nullopt; }
};

struct StopRoute {
    static std::optional<StopParams> parse(std::string_view body) { return parse_stop_params(body); }
    static StopOutcome run(CoreOperations& core, const StopParams& params) { return core.stop_core(params.session_id); }
    static http::Reply reply(const StopOutcome& outcome) { return stop_reply(outcome); }
    static http::Reply task_failed(std::string_view text) { return stop_task_failed_reply(text); }
    // A Core ends within a millisecond of its termination: two trips between threads would
    // cost more than the stop itself.
    static std::optional<StopOutcome> run_at_once(CoreOperations& core, const StopParams& params) {
        return core.stop_core_at_once(params.session_id);
    }
};

// A POST route whose head passed json_head_refusal: reads at most BODY_LIMIT bytes, parses them
// strictly, and runs the Core operation at once where it can, on the blocking pool otherwise.
template <class JsonRoute>
asio::awaitable<http::Reply> json_route(http::BodyReader& reader, CoreOperations& core, asio::any_io_executor pool) {
    auto body = co_await reader.read_body(BODY_LIMIT);
    if (!body) {
        co_return refusal_reply(Refusal::body_read_failure);
    }
    auto params = JsonRoute::parse(*body);
    if (!params) {
        co_return refusal_reply(Refusal::invalid_json_body);
    }

    auto run_at_once = [&] { return JsonRoute::run_at_once(core, *params); };
    const auto answered = outcome_of(run_at_once);
    if (!answered) {
        co_return JsonRoute::task_failed(answered.error().text());
    }
    if (*answered) {
        co_return JsonRoute::reply(**answered);
    }

    using Outcome = decltype(JsonRoute::run(core, *params));
    std::function<Outcome()> operation = [&core, p = std::move(*params)] { return JsonRoute::run(core, p); };
    auto running = on_blocking_pool(std::move(pool), std::move(operation));
    auto outcome = co_await std::move(running);
    if (!outcome) {
        co_return JsonRoute::task_failed(outcome.error().text());
    }
    co_return JsonRoute::reply(*outcome);
}

// The pending route of a JSON route: the head is read, the body is not.
template <class JsonRoute>
http::PendingRoute pending_json_route(CoreOperations& core, const asio::any_io_executor& pool) {
    return http::PendingRoute([&core, &pool](const http::RequestHead&, http::BodyReader& body) {
        return json_route<JsonRoute>(body, core, pool);
    });
}

} // namespace

http::PendingRoute ping_core_route(std::string core_sha256, CoreOperations& core, const asio::any_io_executor& pool) {
    return http::PendingRoute(
        [&core, &pool, digest = std::move(core_sha256)](const http::RequestHead&, http::BodyReader&) mutable {
            return ping_route(std::move(digest), core, pool);
        });
}

http::PendingRoute start_core_route(CoreOperations& core, const asio::any_io_executor& pool) {
    return pending_json_route<StartRoute>(core, pool);
}

http::PendingRoute stop_core_route(CoreOperations& core, const asio::any_io_executor& pool) {
    return pending_json_route<StopRoute>(core, pool);
}

} // namespace quorvex::hub
