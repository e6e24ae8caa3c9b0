// The router fed a request head and body, with scripted Core operations and a body reader that
// counts its reads. Every request gets one reply with a known status; the body is read only by
// start and stop, at most once, and only after the gate passed and the declared length, which
// must be within BODY_LIMIT, and the media type were checked; JSON replies are JSON.
//
// Input: "METHOD TARGET" on the first line, then "name:value" lines up to an empty line, then
// the body.

#include "common/ascii_case.hpp"
#include "common/helper_log.hpp"
#include "common/utf.hpp"
#include "service/hub/helper_router.hpp"
#include "service/hub/request_body.hpp"
#include "service/hub/request_head.hpp"

#include "fuzz_check.hpp"

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/json.hpp>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

using namespace quorvex;
namespace asio = boost::asio;

namespace {

// Outcomes picked from the arguments, so the input reaches every reply; "!" makes the
// operation throw.
class ScriptedCore final : public hub::CoreOperations {
public:
    int calls = 0;
    hub::PingOutcome ping_core(std::string digest) override {
        note(digest);
        switch (digest.size() % 3) {
        case 0:
            return hub::PingOk{"C:\\Program Files\\Quorvex\\QuorvexHelper.exe"};
        case 1:
            return hub::PingDigestMismatch{};
        default:
            return hub::PingFailed{digest};
        }
    }
    hub::StartOutcome start_core(std::string address, std::string session_id) override {
        note(address + session_id);
        switch (address.size() % 7) {
        case 0:
            return hub::InvalidAddress{};
        case 1:
            return hub::InvalidSessionId{};
        case 2:
            return hub::ReleaseFailed{address};
        case 3:
            return hub::VerificationFailed{address};
        case 4:
            return hub::LaunchFailed{address, session_id.empty() ? std::nullopt : std::optional<std::int32_t>(-5)};
        case 5:
            return hub::ConfinementFailed{session_id};
        default:
            return hub::Started{session_id, 4242};
        }
    }
    hub::StopOutcome stop_core(std::string session_id) override {
        note(session_id);
        switch (session_id.size() % 5) {
        case 0:
            return hub::InvalidSessionId{};
        case 1:
            return hub::NotRunning{session_id};
        case 2:
            return hub::SessionMismatch{session_id};
        case 3:
            return hub::StopFailed{session_id};
        default:
            return hub::Stopped{session_id};
        }
    }
    // Every other stop is left to the blocking pool, as a busy supervisor leaves it.
    std::optional<hub::StopOutcome> stop_core_at_once(std::string session_id) override {
        if (session_id.size() % 2 == 0) {
            return std::nullopt;
        }
        return stop_core(std::move(session_id));
    }

private:
    void note(const std::string& argument) {
        ++calls;
        if (argument.find('!') != std::string::npos) {
            throw std::runtime_error(argument);
        }
    }
};

class CountingBody final : public http::BodyReader {
public:
    explicit CountingBody(std::string body) : body_(std::move(body)) {}
    asio::awaitable<Result<std::string>> read_body(std::size_t limit) override {
        ++reads;
        last_limit = limit;
        if (body_.size() > limit) {
            co_return fail(Error::message("the request body exceeds the limit"));
        }
        co_return body_;
    }
    int reads = 0;
    std::size_t last_limit = 0;

private:
    std::string body_;
};

std::string_view next_line(std::string_view& text) {
    const auto lf = text.find('\n');
    const auto line = text.substr(0, lf);
    text.remove_prefix(lf == std::string_view::npos ? text.size() : lf + 1);
    return line;
}

bool path_is(std::string_view target, std::string_view route) {
    const auto path = target.substr(0, target.find('?'));
    return path == route || path == std::string(route) + "/";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    http::RequestHead head;
    const auto request_line = next_line(text);
    const auto blank = request_line.find(' ');
    head.method = request_line.substr(0, blank);
    head.target = blank == std::string_view::npos ? "" : request_line.substr(blank + 1);
    for (auto line = next_line(text); !line.empty(); line = next_line(text)) {
        const auto colon = line.find(':');
        head.headers.push_back({std::string(line.substr(0, colon)),
                                colon == std::string_view::npos ? "" : std::string(line.substr(colon + 1))});
    }
    const auto headers = head.headers;
    const auto method = head.method;
    const auto target = head.target;

    ScriptedCore core;
    HelperLog log;
    log.append("a line of the log");
    CountingBody body{std::string(text)};
    asio::io_context io;
    hub::HelperRouter router(core, log, io.get_executor());
    std::optional<http::Reply> reply;
    http::HeadDecision decision = router.answer_at_once(head);
    if (auto* at_once = std::get_if<http::Reply>(&decision)) {
        reply = std::move(*at_once);
    } else {
        asio::co_spawn(io, std::get<http::PendingRoute>(std::move(decision)).run(std::move(head), body),
                       [&](std::exception_ptr e, http::Reply r) {
                           FUZZ_CHECK(!e); // the router never throws
                           reply = std::move(r);
                       });
        io.run();
    }
    FUZZ_CHECK(reply);

    const bool gate_passed = std::holds_alternative<hub::GatePass>(hub::check_request_gate(headers));
    if (body.reads > 0) {
        FUZZ_CHECK(body.reads == 1);
        FUZZ_CHECK(body.last_limit == hub::BODY_LIMIT);
        FUZZ_CHECK(gate_passed && method == "POST" && (path_is(target, "/start") || path_is(target, "/stop")));
        const auto length = hub::declared_body_length(headers);
        FUZZ_CHECK(length && *length <= hub::BODY_LIMIT);
        FUZZ_CHECK(hub::accepts_json_content_type(headers));
    }
    if (core.calls > 0) {
        FUZZ_CHECK(core.calls == 1);
        FUZZ_CHECK(gate_passed);
        FUZZ_CHECK(method == "GET" ? path_is(target, "/ping") : body.reads == 1);
    }

    FUZZ_CHECK(reply->status >= 200 && reply->status <= 599);
    const auto content_type = std::find_if(reply->headers.begin(), reply->headers.end(), [](const auto& header) {
        return equals_ascii_nocase(header.name(), "content-type");
    });
    FUZZ_CHECK(content_type != reply->headers.end());
    if (content_type->value() == "application/json") {
        boost::json::error_code ec;
        const auto value = boost::json::parse(reply->body.view(), ec);
        FUZZ_CHECK(!ec && (value.is_object() || value.is_array()));
    } else {
        FUZZ_CHECK(is_valid_utf8(reply->body.view()));
    }
    return 0;
}
