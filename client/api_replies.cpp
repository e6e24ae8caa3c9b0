#include "client/api_replies.hpp"

#include <boost/beast/http/error.hpp>
#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>
#include <boost/json/value.hpp>
#include <boost/json/src.hpp>

#include <limits>
#include <string>

namespace quorvex::client {
namespace {

namespace json = boost::json;

ClientError unexpected(std::string_view operation, const HttpReply& reply) {
    return {ClientErrorKind::UnexpectedReply,
            Error::message("status " + std::to_string(reply.status) + ": " + reply.body.substr(0, 200))
                .context("unexpected reply to " + std::string(operation))};
}

std::optional<json::object> parse_object(std::string_view body) {
    boost::system::error_code error;
    json::value value = json::parse(body, error);
    if (error || !value.is_object()) {
        return std::nullopt;
    }
    return std::move(value.as_object());
}

const json::string* string_member(const json::object& object, std::string_view name) {
    const json::value* member = object.if_contains(name);
    return member != nullptr ? member->if_string() : nullptr;
}

ClientErrorKind kind_of_code(std::string_view code) {
    if (code == "coreSha256Mismatch") {
        return ClientErrorKind::CoreSha256Mismatch;
    }
    if (code == "coreVerificationFailed") {
        return ClientErrorKind::CoreVerificationFailed;
    }
    if (code == "processLaunchFailed") {
        return ClientErrorKind::ProcessLaunchFailed;
    }
    if (code == "coreStopFailed") {
        return ClientErrorKind::CoreStopFailed;
    }
    if (code == "invalidRequest" || code == "notFound") {
        return ClientErrorKind::InvalidRequest;
    }
    if (code == "internalError") {
        return ClientErrorKind::InternalError;
    }
    return ClientErrorKind::UnexpectedReply;
}

// A JSON error body: {"code":...,"message":...[,"details":{"osError":N}]}. The message is the
// innermost link; a launch failure's OS error number goes with it.
ClientError error_of_reply(std::string_view operation, const HttpReply& reply) {
    const auto object = parse_object(reply.body);
    const json::string* code = object ? string_member(*object, "code") : nullptr;
    const json::string* message = object ? string_member(*object, "message") : nullptr;
    if (code == nullptr || message == nullptr || kind_of_code(*code) == ClientErrorKind::UnexpectedReply) {
        return unexpected(operation, reply);
    }
    std::optional<std::int32_t> os_error;
    if (const json::value* details = object->if_contains("details"); details != nullptr && details->is_object()) {
        if (const json::value* number = details->as_object().if_contains("osError"); number && number->is_int64()) {
            if (const std::int64_t n = number->as_int64();
                n >= std::numeric_limits<std::int32_t>::min() && n <= std::numeric_limits<std::int32_t>::max()) {
                os_error = static_cast<std::int32_t>(n);
            }
        }
    }
    Error cause = os_error ? Error::os(*os_error, std::string(*message)) : Error::message(std::string(*message));
    return {kind_of_code(*code),
            std::move(cause).context("the helper refused to " + std::string(operation) + " (" +
                                     std::to_string(reply.status) + " " + std::string(*code) + ")")};
}

} // namespace

bool is_malformed_reply(const boost::system::error_code& read_error) {
    namespace http = boost::beast::http;
    return read_error.category() == http::make_error_code(http::error::body_limit).category() &&
           read_error != http::error::end_of_stream && read_error != http::error::partial_message;
}

ClientResult<PingReply> ping_result(const HttpReply& reply) {
    constexpr std::string_view operation = "ping";
    if (reply.status == 200 || reply.status == 409) {
        if (reply.protocol != HELPER_PROTOCOL_VERSION) {
            return fail(ClientErrorKind::ProtocolMismatch,
                        Error::message("the helper speaks protocol " + reply.protocol.value_or("(none)") +
                                       ", this client protocol " + std::string(HELPER_PROTOCOL_VERSION)));
        }
    }
    if (reply.status == 200) {
        return PingReply{reply.body, *reply.protocol};
    }
    if (reply.status == 409) {
        // The mismatch is a JSON error; a Core file the helper cannot open is a text body.
        if (const auto object = parse_object(reply.body); object && string_member(*object, "code")) {
            return std::unexpected(error_of_reply(operation, reply));
        }
        return fail(ClientErrorKind::CoreFileUnavailable,
                    Error::message(reply.body).context("the helper cannot open the Core file beside itself"));
    }
    return std::unexpected(error_of_reply(operation, reply));
}

ClientResult<StartReply> start_result(const HttpReply& reply) {
    constexpr std::string_view operation = "start the Core";
    if (reply.status != 200) {
        return std::unexpected(error_of_reply(operation, reply));
    }
    const auto object = parse_object(reply.body);
    const json::string* session = object ? string_member(*object, "sessionId") : nullptr;
    const json::value* pid = object ? object->if_contains("pid") : nullptr;
    if (session == nullptr || pid == nullptr || !pid->is_int64() || pid->as_int64() <= 0 ||
        pid->as_int64() > std::numeric_limits<std::uint32_t>::max()) {
        return std::unexpected(unexpected(operation, reply));
    }
    return StartReply{std::string(*session), static_cast<std::uint32_t>(pid->as_int64())};
}

ClientResult<StopResult> stop_result(const HttpReply& reply) {
    constexpr std::string_view operation = "stop the Core";
    if (reply.status != 200 && reply.status != 409) {
        return std::unexpected(error_of_reply(operation, reply));
    }
    const auto object = parse_object(reply.body);
    if (!object || !object->contains("stopped")) {
        return std::unexpected(error_of_reply(operation, reply));
    }
    const json::value& stopped_member = object->at("stopped");
    if (!stopped_member.is_bool()) {
        return std::unexpected(unexpected(operation, reply));
    }
    const bool stopped = stopped_member.as_bool();
    const json::string* reason = string_member(*object, "reason");
    if (reply.status == 200 && stopped && reason == nullptr) {
        return StopResult::Stopped;
    }
    if (reply.status == 200 && !stopped && reason && *reason == "notRunning") {
        return StopResult::NotRunning;
    }
    if (reply.status == 409 && !stopped && reason && *reason == "sessionMismatch") {
        return StopResult::SessionMismatch;
    }
    return std::unexpected(unexpected(operation, reply));
}

ClientResult<std::string> logs_result(const HttpReply& reply) {
    if (reply.status == 200) {
        return reply.body;
    }
    return std::unexpected(error_of_reply("read the logs", reply));
}

std::string start_body(std::string_view address, std::string_view session_id) {
    return json::serialize(json::object{{"address", address}, {"sessionId", session_id}});
}

std::string stop_body(std::string_view session_id) { return json::serialize(json::object{{"sessionId", session_id}}); }

} // namespace quorvex::client
