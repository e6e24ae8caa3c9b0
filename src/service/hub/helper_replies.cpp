#include "service/hub/helper_replies.hpp"

#include "common/utf.hpp"

#include <boost/json/object.hpp>
#include <boost/json/serialize.hpp>
// Boost.JSON's compiled part, built once for the whole program (the strict bodies parse with it too).
#include <boost/json/src.hpp>

#include <variant>

namespace quorvex::hub {
namespace {

namespace json = boost::json;

constexpr http::ReplyHeader JSON_TYPE{"Content-Type", "application/json"};
constexpr http::ReplyHeader TEXT_TYPE{"Content-Type", "text/plain; charset=utf-8"};

// JSON strings must be valid UTF-8, whatever an OS text or a client echo holds.
json::string json_text(std::string_view text) { return json::string(utf8_lossy(text)); }

http::Reply typed_reply(unsigned status, http::ReplyHeader content_type, std::string body) {
    return {.status = status, .headers = {content_type}, .body = std::move(body)};
}

http::Reply json_reply(unsigned status, const json::object& body) {
    return typed_reply(status, JSON_TYPE, json::serialize(body));
}

http::Reply stop_body_reply(unsigned status, std::string_view session_id, bool stopped,
                            std::optional<std::string_view> reason) {
    json::object body;
    body["sessionId"] = json_text(session_id);
    body["stopped"] = stopped;
    if (reason) {
        body["reason"] = json_text(*reason);
    }
    return json_reply(status, body);
}

template <class... Fs>
struct Overloaded : Fs... {
    using Fs::operator()...;
};
template <class... Fs>
Overloaded(Fs...) -> Overloaded<Fs...>;

} // namespace

http::Reply error_reply(const HelperError& error) {
    json::object body;
    body["code"] = json_text(error.code);
    body["message"] = json_text(error.message);
    if (error.os_error) {
        json::object details;
        details["osError"] = static_cast<std::int64_t>(*error.os_error);
        body["details"] = std::move(details);
    }
    return json_reply(error.status, body);
}

http::Reply invalid_request(unsigned status, std::string message) {
    return error_reply({status, "invalidRequest", std::move(message), {}});
}

http::Reply text_reply(unsigned status, std::string body) { return typed_reply(status, TEXT_TYPE, std::move(body)); }

http::Reply with_protocol_header(http::Reply reply) {
    reply.headers.push_back({HELPER_PROTOCOL_HEADER, HELPER_PROTOCOL_VERSION});
    return reply;
}

http::Reply with_connection_close(http::Reply reply) {
    reply.headers.push_back({"connection", "close"});
    return reply;
}

http::Reply ping_reply(const PingOutcome& outcome) {
    return with_protocol_header(
        std::visit(Overloaded{
                       [](const PingDigestMismatch&) {
                           return error_reply({409, "coreSha256Mismatch", "Core SHA256 mismatch", {}});
                       },
                       [](const PingFailed& failed) { return text_reply(409, failed.text); },
                       [](const PingOk& ok) { return text_reply(200, ok.helper_path); },
                   },
                   outcome));
}

http::Reply start_reply(const StartOutcome& outcome) {
    return std::visit(Overloaded{
                          [](const InvalidAddress&) { return invalid_request(400, "invalid Core address"); },
                          [](const InvalidSessionId&) { return invalid_request(400, "invalid Core session ID"); },
                          [](const ReleaseFailed& failed) {
                              return error_reply({500, "coreStopFailed", failed.text, {}});
                          },
                          [](const VerificationFailed& failed) {
                              return error_reply({409, "coreVerificationFailed", failed.text, {}});
                          },
                          [](const LaunchFailed& failed) {
                              return error_reply({500, "processLaunchFailed", failed.text, failed.os_error});
                          },
                          [](const ConfinementFailed& failed) {
                              return error_reply({500, "internalError", "Core confinement failed: " + failed.text, {}});
                          },
                          [](const Started& started) {
                              json::object body;
                              body["sessionId"] = json_text(started.session_id);
                              body["pid"] = static_cast<std::uint64_t>(started.pid);
                              return json_reply(200, body);
                          },
                      },
                      outcome);
}

http::Reply stop_reply(const StopOutcome& outcome) {
    return std::visit(
        Overloaded{
            [](const InvalidSessionId&) { return invalid_request(400, "invalid Core session ID"); },
            [](const NotRunning& not_running) {
                return stop_body_reply(200, not_running.session_id, false, "notRunning");
            },
            [](const SessionMismatch& mismatch) {
                return stop_body_reply(409, mismatch.session_id, false, "sessionMismatch");
            },
            [](const StopFailed& failed) {
                return error_reply({500, "coreStopFailed", failed.text, {}});
            },
            [](const Stopped& stopped) { return stop_body_reply(200, stopped.session_id, true, std::nullopt); },
        },
        outcome);
}

http::Reply ping_task_failed_reply(std::string_view text) {
    return with_protocol_header(text_reply(409, "Helper ping task failed: " + std::string(text)));
}

http::Reply start_task_failed_reply(std::string_view text) {
    return error_reply({500, "internalError", "Core start task failed: " + std::string(text), {}});
}

http::Reply stop_task_failed_reply(std::string_view text) {
    return error_reply({500, "internalError", "Core stop task failed: " + std::string(text), {}});
}

void build_logs_reply(http::Reply& reply, std::shared_ptr<const std::string> joined_lines) {
    reply.status = 200;
    reply.headers = {TEXT_TYPE, {"Cache-Control", "no-store"}};
    reply.body = http::ReplyBody(std::move(joined_lines));
}

} // namespace quorvex::hub
