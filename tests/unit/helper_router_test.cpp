#include "service/hub/helper_router.hpp"
#include "service/hub/request_refusal.hpp"

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/thread_pool.hpp>

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace quorvex::hub {
namespace {

namespace asio = boost::asio;
using Headers = std::vector<std::pair<std::string, std::string>>;

const std::string ADDRESS = R"(\\.\pipe\QuorvexCore_0123456789abcdef0123456789abcdef)";
const std::string ADDRESS_JSON = R"(\\\\.\\pipe\\QuorvexCore_0123456789abcdef0123456789abcdef)";
const std::string SESSION = "fedcba9876543210fedcba9876543210";
const std::string START_BODY = R"({"address":")" + ADDRESS_JSON + R"(","sessionId":")" + SESSION + R"("})";
const std::string STOP_BODY = R"({"sessionId":")" + SESSION + R"("})";

const Headers JSON_HEADERS = {{"Content-Type", "application/json"}};
const Headers TEXT_HEADERS = {{"Content-Type", "text/plain; charset=utf-8"}};
const Headers PING_JSON_HEADERS = {{"Content-Type", "application/json"}, {"x-quorvex-helper-protocol", "8"}};
const Headers PING_TEXT_HEADERS = {{"Content-Type", "text/plain; charset=utf-8"}, {"x-quorvex-helper-protocol", "8"}};
const Headers CLOSE_HEADERS = {{"Content-Type", "application/json"}, {"connection", "close"}};

// Scripted Core operations: each call records its arguments and thread, then gives the next
// outcome, or throws when none is scripted.
class FakeCore final : public CoreOperations {
public:
    std::optional<PingOutcome> ping;
    std::optional<StartOutcome> start;
    std::optional<StopOutcome> stop;
    // What a stop at once gives: nothing leaves it to stop_core; "!" makes it throw.
    std::optional<StopOutcome> stop_at_once;
    bool stop_at_once_throws = false;
    std::vector<std::string> calls;
    std::thread::id thread;

    PingOutcome ping_core(std::string core_sha256) override {
        record("ping " + core_sha256);
        if (!ping) {
            throw std::runtime_error("ping exploded");
        }
        return *ping;
    }
    StartOutcome start_core(std::string address, std::string session_id) override {
        record("start " + address + " " + session_id);
        if (!start) {
            throw std::runtime_error("start exploded");
        }
        return *start;
    }
    StopOutcome stop_core(std::string session_id) override {
        record("stop " + session_id);
        if (!stop) {
            throw std::runtime_error("stop exploded");
        }
        return *stop;
    }
    std::optional<StopOutcome> stop_core_at_once(std::string session_id) override {
        record("stop at once " + session_id);
        if (stop_at_once_throws) {
            throw std::runtime_error("stop at once exploded");
        }
        return stop_at_once;
    }

private:
    void record(std::string call) {
        calls.push_back(std::move(call));
        thread = std::this_thread::get_id();
    }
};

class FakeBody final : public http::BodyReader {
public:
    explicit FakeBody(Result<std::string> body) : body_(std::move(body)) {}
    asio::awaitable<Result<std::string>> read_body(std::size_t limit) override {
        ++reads;
        last_limit = limit;
        co_return body_;
    }
    int reads = 0;
    std::size_t last_limit = 0;

private:
    Result<std::string> body_;
};

// Notes the thread the caller resumes on: it must be the connection's, not the blocking pool's.
asio::awaitable<http::Reply> handle_noting_thread(http::PendingRoute route, http::RequestHead head,
                                                  http::BodyReader& reader, std::thread::id& resumed_on) {
    auto handling = std::move(route).run(std::move(head), reader);
    auto reply = co_await std::move(handling);
    resumed_on = std::this_thread::get_id();
    co_return reply;
}

// The blocking pool's executor, counting what is handed to it.
class CountingPoolExecutor {
public:
    CountingPoolExecutor(asio::thread_pool& pool, std::atomic<int>& handed) : pool_(&pool), handed_(&handed) {}

    template <class Function>
    void execute(Function&& function) const {
        ++*handed_;
        pool_->get_executor().execute(std::forward<Function>(function));
    }
    [[nodiscard]] asio::execution_context& query(asio::execution::context_t) const noexcept { return *pool_; }
    static constexpr asio::execution::blocking_t::never_t query(asio::execution::blocking_t) noexcept { return {}; }
    [[nodiscard]] CountingPoolExecutor require(asio::execution::blocking_t::never_t) const noexcept { return *this; }
    friend bool operator==(const CountingPoolExecutor&, const CountingPoolExecutor&) noexcept = default;

private:
    asio::thread_pool* pool_;
    std::atomic<int>* handed_;
};

struct Served {
    unsigned status = 0;
    Headers headers;
    std::string body;
};

class HelperRouterTest : public ::testing::Test {
protected:
    Served serve(std::string method, std::string target, http::Headers headers = {},
                 std::optional<Result<std::string>> body = std::nullopt) {
        FakeBody reader(body ? std::move(*body) : Result<std::string>(""));
        auto reply = run(http::RequestHead{std::move(method), std::move(target), std::move(headers)}, reader);
        body_reads = reader.reads;
        if (answered_at_once) {
            EXPECT_EQ(body_reads, 0) << "a reply given at once reads no body";
        }
        body_limit = reader.last_limit;
        return reply;
    }

    Served post(std::string target, std::string body, http::Headers extra = {}) {
        extra.insert(extra.begin(), {"content-length", std::to_string(body.size())});
        return serve("POST", std::move(target), std::move(extra), std::move(body));
    }

    Served run(http::RequestHead head, http::BodyReader& reader) {
        http::HeadDecision decision = router.answer_at_once(head);
        answered_at_once = std::holds_alternative<http::Reply>(decision);
        std::optional<http::Reply> reply;
        if (answered_at_once) {
            reply = std::get<http::Reply>(std::move(decision));
        } else {
            asio::io_context io;
            std::thread::id resumed_on;
            asio::co_spawn(io,
                           handle_noting_thread(std::get<http::PendingRoute>(std::move(decision)), std::move(head),
                                                reader, resumed_on),
                           [&](const std::exception_ptr& e, http::Reply r) {
                               ASSERT_FALSE(e) << "the handler threw";
                               reply = std::move(r);
                           });
            io.run();
            EXPECT_TRUE(reply);
            EXPECT_EQ(resumed_on, std::this_thread::get_id());
        }
        Served served;
        if (!reply) {
            return served;
        }
        served.status = reply->status;
        for (const auto& h : reply->headers) {
            served.headers.emplace_back(h.name(), h.value());
        }
        served.body = reply->body.view();
        return served;
    }

    asio::thread_pool pool{1};
    std::atomic<int> handed_to_pool{0};
    FakeCore core;
    HelperLog log;
    HelperRouter router{core, log, CountingPoolExecutor(pool, handed_to_pool)};
    int body_reads = 0;
    std::size_t body_limit = 0;
    bool answered_at_once = false; // by the last request served
};

std::string error_body(const std::string& code, const std::string& message) {
    return R"({"code":")" + code + R"(","message":")" + message + R"("})";
}

TEST_F(HelperRouterTest, RefusalsBecomeTheirRecoveryReplies) {
    const std::string not_found = R"({"code":"notFound","message":"Helper endpoint not found"})";
    // The API documents this body by its length as well: 57 bytes, so a stray byte in it shows.
    ASSERT_EQ(not_found.size(), 57u);
    const std::string gate = error_body("invalidRequest", "browser origins and non-local hosts are not allowed");
    const std::string bad_header = error_body("invalidRequest", "invalid request header");
    const std::string method = error_body("invalidRequest", "Helper endpoint does not accept this method");
    const std::string length = error_body("invalidRequest", "request body length is required");
    const std::string too_large = error_body("invalidRequest", "request body exceeds 4096 bytes");
    const std::string bad_body = error_body("invalidRequest", "invalid JSON request body");
    const std::string unhandled = error_body("internalError", "unhandled Helper request rejection");
    const std::string bad_query = error_body("invalidRequest", "invalid ping query");
    const http::Headers chunked = {{"transfer-encoding", "chunked"}};

    const struct {
        const char* name;
        std::string method, target;
        http::Headers headers;
        unsigned status;
        std::string body;
        Headers reply_headers;
    } cases[] = {
        {"unknown path", "GET", "/nowhere", {}, 404, not_found, JSON_HEADERS},
        {"unknown path, other method", "DELETE", "/nowhere", {}, 404, not_found, JSON_HEADERS},
        {"root", "GET", "/", {}, 404, not_found, JSON_HEADERS},
        {"double slash", "GET", "/ping//", {}, 404, not_found, JSON_HEADERS},
        {"case", "GET", "/Ping", {}, 404, not_found, JSON_HEADERS},
        {"second segment", "GET", "/ping/x", {}, 404, not_found, JSON_HEADERS},
        {"percent-encoded", "GET", "/%70ing?coreSha256=a", {}, 404, not_found, JSON_HEADERS},
        {"no leading slash", "GET", "ping", {}, 404, not_found, JSON_HEADERS},
        {"origin on unknown path", "GET", "/nowhere", {{"origin", "http://localhost"}}, 403, gate, CLOSE_HEADERS},
        {"origin on ping", "GET", "/ping?coreSha256=a", {{"Origin", "null"}}, 403, gate, CLOSE_HEADERS},
        {"IPv6 host", "POST", "/start", {{"host", "[::1]:80"}}, 403, gate, CLOSE_HEADERS},
        {"bad byte beats refusal",
         "GET",
         "/nowhere",
         {{"host", "evil\xFF"}, {"origin", "x"}},
         400,
         bad_header,
         JSON_HEADERS},
        {"POST ping", "POST", "/ping", {}, 405, method, JSON_HEADERS},
        {"HEAD ping", "HEAD", "/ping?coreSha256=a", {}, 405, method, JSON_HEADERS},
        {"GET start", "GET", "/start", {}, 405, method, JSON_HEADERS},
        {"PUT stop", "PUT", "/stop", {{"content-length", "2"}}, 405, method, JSON_HEADERS},
        {"HEAD logs", "HEAD", "/logs", {}, 405, method, JSON_HEADERS},
        {"ping without query", "GET", "/ping", {}, 400, bad_query, PING_JSON_HEADERS},
        {"ping extra name", "GET", "/ping/?coreSha256=a&b=c", {}, 400, bad_query, PING_JSON_HEADERS},
        {"ping twice", "GET", "/ping?coreSha256=a&coreSha256=a", {}, 400, bad_query, PING_JSON_HEADERS},
        {"chunked", "POST", "/start", chunked, 411, length, JSON_HEADERS},
        {"disagreeing lengths",
         "POST",
         "/stop",
         {{"content-length", "2"}, {"content-length", "3"}},
         411,
         length,
         JSON_HEADERS},
        {"too large", "POST", "/start", {{"content-length", "4097"}}, 413, too_large, CLOSE_HEADERS},
        {"too large beats media type",
         "POST",
         "/stop/",
         {{"content-length", "5000"}, {"content-type", "text/plain"}},
         413,
         too_large,
         CLOSE_HEADERS},
        {"text/plain",
         "POST",
         "/start",
         {{"content-length", "2"}, {"content-type", "text/plain"}},
         500,
         unhandled,
         JSON_HEADERS},
        {"empty body", "POST", "/start", {{"content-length", "0"}}, 400, bad_body, JSON_HEADERS},
    };
    for (const auto& c : cases) {
        const auto reply = serve(c.method, c.target, c.headers);
        EXPECT_EQ(reply.status, c.status) << c.name;
        EXPECT_EQ(reply.body, c.body) << c.name;
        EXPECT_EQ(reply.headers, c.reply_headers) << c.name;
        // Only a refusal that needs the body waits for handle().
        EXPECT_EQ(answered_at_once, std::string_view(c.name) != "empty body") << c.name;
    }
    EXPECT_TRUE(core.calls.empty());
}

TEST_F(HelperRouterTest, BodyIsReadOnlyWithinTheLimit) {
    serve("POST", "/start", {{"content-length", "4097"}}, std::string(4097, ' '));
    EXPECT_EQ(body_reads, 0);

    core.stop = Stopped{SESSION};
    auto padded = STOP_BODY + std::string(4096 - STOP_BODY.size(), ' ');
    const auto reply = post("/stop", padded);
    EXPECT_EQ(body_reads, 1);
    EXPECT_EQ(body_limit, 4096u);
    EXPECT_EQ(reply.status, 200u);
    EXPECT_EQ(core.calls, (std::vector<std::string>{"stop at once " + SESSION, "stop " + SESSION}));

    const auto broken = serve("POST", "/stop", {{"content-length", "10"}}, fail(Error::message("connection reset")));
    EXPECT_EQ(broken.status, 500u);
    EXPECT_EQ(broken.body, error_body("internalError", "unhandled Helper request rejection"));
}

TEST_F(HelperRouterTest, StartBodyMustBeStrictJson) {
    core.start = Started{SESSION, 7};
    const std::string bad_body = error_body("invalidRequest", "invalid JSON request body");
    for (const std::string& body : std::vector<std::string>{
             R"({"address":"a","sessionId":"s","extra":"x"})",
             R"({"address":"a","sessionId":1})",
             R"({"address":"a"})",
             R"({"address":"a","address":"a","sessionId":"s"})",
             std::string(),
         }) {
        const auto reply = post("/start", body);
        EXPECT_EQ(reply.status, 400u) << body;
        EXPECT_EQ(reply.body, bad_body) << body;
    }
    EXPECT_TRUE(core.calls.empty());

    const std::string array = R"([")" + ADDRESS_JSON + R"(",")" + SESSION + R"("])";
    for (const auto& [body, headers] : std::vector<std::pair<std::string, http::Headers>>{
             {START_BODY, {}},
             {array, {}},
             {START_BODY, {{"Content-Type", "application/json; charset=utf-8"}}},
         }) {
        const auto reply = post("/start/", body, headers);
        EXPECT_EQ(reply.status, 200u) << body;
    }
    EXPECT_EQ(core.calls, std::vector<std::string>(3, "start " + ADDRESS + " " + SESSION));
}

TEST_F(HelperRouterTest, PingOutcomesCarryTheProtocolHeader) {
    const struct {
        std::optional<PingOutcome> outcome;
        unsigned status;
        std::string body;
        Headers headers;
    } cases[] = {
        {PingOk{"C:\\Program Files\\Quorvex\\QuorvexHelper.exe"}, 200, "C:\\Program Files\\Quorvex\\QuorvexHelper.exe",
         PING_TEXT_HEADERS},
        {PingDigestMismatch{}, 409, error_body("coreSha256Mismatch", "Core SHA256 mismatch"), PING_JSON_HEADERS},
        {PingFailed{"The system cannot find the file specified. (os error 2)"}, 409,
         "The system cannot find the file specified. (os error 2)", PING_TEXT_HEADERS},
        {std::nullopt, 409, "Helper ping task failed: ping exploded", PING_TEXT_HEADERS},
    };
    for (const auto& c : cases) {
        core.ping = c.outcome;
        const auto reply = serve("GET", "/ping/?coreSha256=AB%2bc+d", {{"Host", "localhost:1"}});
        EXPECT_FALSE(answered_at_once) << "a ping waits for the Core";
        EXPECT_EQ(reply.status, c.status) << c.body;
        EXPECT_EQ(reply.body, c.body);
        EXPECT_EQ(reply.headers, c.headers) << c.body;
    }
    EXPECT_EQ(core.calls, std::vector<std::string>(4, "ping AB+c d"));
    EXPECT_NE(core.thread, std::this_thread::get_id()) << "Core operations run on the blocking pool";
    EXPECT_TRUE(log.lines().empty()) << "the router writes no log line of its own";
}

TEST_F(HelperRouterTest, StartOutcomesBecomeTheirReplies) {
    const struct {
        std::optional<StartOutcome> outcome;
        unsigned status;
        std::string body;
    } cases[] = {
        {InvalidAddress{}, 400, error_body("invalidRequest", "invalid Core address")},
        {InvalidSessionId{}, 400, error_body("invalidRequest", "invalid Core session ID")},
        {ReleaseFailed{"Core did not exit after termination"}, 500,
         error_body("coreStopFailed", "Core did not exit after termination")},
        {VerificationFailed{"Core executable SHA256 mismatch"}, 409,
         error_body("coreVerificationFailed", "Core executable SHA256 mismatch")},
        {LaunchFailed{"Access is denied. (os error 5)", 5}, 500,
         R"j({"code":"processLaunchFailed","message":"Access is denied. (os error 5)","details":{"osError":5}})j"},
        {LaunchFailed{"odd (os error -1073741819)", -1073741819}, 500,
         R"j({"code":"processLaunchFailed","message":"odd (os error -1073741819)","details":{"osError":-1073741819}})j"},
        {LaunchFailed{"no pipe", std::nullopt}, 500, error_body("processLaunchFailed", "no pipe")},
        {ConfinementFailed{"assign"}, 500, error_body("internalError", "Core confinement failed: assign")},
        {Started{SESSION, 4294967295u}, 200, R"({"sessionId":")" + SESSION + R"(","pid":4294967295})"},
        {std::nullopt, 500, error_body("internalError", "Core start task failed: start exploded")},
        // Texts are escaped and kept valid UTF-8.
        {ReleaseFailed{"a\"b\\c\n\x01\xFF/\xC3\xA9"}, 500,
         error_body("coreStopFailed", "a\\\"b\\\\c\\n\\u0001\xEF\xBF\xBD/\xC3\xA9")},
    };
    for (const auto& c : cases) {
        core.start = c.outcome;
        const auto reply = post("/start", START_BODY);
        EXPECT_EQ(reply.status, c.status) << c.body;
        EXPECT_EQ(reply.body, c.body);
        EXPECT_EQ(reply.headers, JSON_HEADERS) << c.body;
    }
}

TEST_F(HelperRouterTest, StopOutcomesBecomeTheirReplies) {
    const struct {
        std::optional<StopOutcome> outcome;
        unsigned status;
        std::string body;
    } cases[] = {
        {InvalidSessionId{}, 400, error_body("invalidRequest", "invalid Core session ID")},
        {NotRunning{SESSION}, 200, R"({"sessionId":")" + SESSION + R"(","stopped":false,"reason":"notRunning"})"},
        {SessionMismatch{SESSION}, 409,
         R"({"sessionId":")" + SESSION + R"(","stopped":false,"reason":"sessionMismatch"})"},
        {StopFailed{"Core did not exit after termination"}, 500,
         error_body("coreStopFailed", "Core did not exit after termination")},
        {Stopped{SESSION}, 200, R"({"sessionId":")" + SESSION + R"(","stopped":true})"},
        {std::nullopt, 500, error_body("internalError", "Core stop task failed: stop exploded")},
    };
    for (const auto& c : cases) {
        core.stop = c.outcome;
        const auto reply = post("/stop", R"([")" + SESSION + R"("])");
        EXPECT_EQ(reply.status, c.status) << c.body;
        EXPECT_EQ(reply.body, c.body);
        EXPECT_EQ(reply.headers, JSON_HEADERS) << c.body;
    }
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(core.calls.at(2 * i), "stop at once " + SESSION);
        EXPECT_EQ(core.calls.at(2 * i + 1), "stop " + SESSION);
    }
    EXPECT_EQ(core.calls.size(), 2 * std::size(cases));
    EXPECT_NE(core.thread, std::this_thread::get_id()) << "a stop not done at once runs on the blocking pool";
}

// A Core operation costs one hand-off to the pool; its outcome goes straight back to the
// connection, not through the pool once more (which would wake a second pool thread).
TEST_F(HelperRouterTest, EachCoreOperationIsHandedToThePoolOnce) {
    core.ping = PingOk{"C:\\helper.exe"};
    core.start = Started{SESSION, 7};
    core.stop = Stopped{SESSION};
    EXPECT_EQ(serve("GET", "/ping?coreSha256=ab").status, 200u);
    EXPECT_EQ(handed_to_pool, 1);
    EXPECT_EQ(post("/start", START_BODY).status, 200u);
    EXPECT_EQ(handed_to_pool, 2);
    EXPECT_EQ(post("/stop", STOP_BODY).status, 200u);
    EXPECT_EQ(handed_to_pool, 3);
    core.stop_at_once = Stopped{SESSION};
    EXPECT_EQ(post("/stop", STOP_BODY).status, 200u);
    EXPECT_EQ(handed_to_pool, 3) << "a stop done at once never reaches the pool";
}

TEST_F(HelperRouterTest, StopDoneAtOnceIsAnsweredFromTheConnectionsThread) {
    core.stop_at_once = Stopped{SESSION};
    const auto stopped = post("/stop", STOP_BODY);
    EXPECT_EQ(stopped.status, 200u);
    EXPECT_EQ(stopped.body, R"({"sessionId":")" + SESSION + R"(","stopped":true})");
    EXPECT_EQ(core.calls, std::vector<std::string>{"stop at once " + SESSION});
    EXPECT_EQ(core.thread, std::this_thread::get_id());

    core.stop_at_once_throws = true;
    const auto failed = post("/stop", STOP_BODY);
    EXPECT_EQ(failed.status, 500u);
    EXPECT_EQ(failed.body, error_body("internalError", "Core stop task failed: stop at once exploded"));
    EXPECT_EQ(core.calls.size(), 2u) << "a stop that failed at once is not tried again";
}

TEST_F(HelperRouterTest, LogsJoinTheRetainedLines) {
    const Headers logs_headers = {{"Content-Type", "text/plain; charset=utf-8"}, {"Cache-Control", "no-store"}};
    const auto empty = serve("GET", "/logs");
    EXPECT_EQ(empty.status, 200u);
    EXPECT_EQ(empty.body, "");
    EXPECT_EQ(empty.headers, logs_headers);

    std::string expected = "line 50";
    for (int i = 0; i < 150; ++i) {
        log.append("line " + std::to_string(i));
    }
    for (int i = 51; i < 150; ++i) {
        expected.append("\nline ").append(std::to_string(i));
    }
    const auto full = serve("GET", "/logs/?ignored=1&x");
    EXPECT_EQ(full.status, 200u);
    EXPECT_EQ(full.body, expected);
    EXPECT_EQ(full.headers, logs_headers);
    EXPECT_TRUE(answered_at_once);

    // A line appended after a read shows in the next one.
    log.append("line 150");
    EXPECT_EQ(serve("GET", "/logs").body, expected.substr(expected.find('\n') + 1) + "\nline 150");
}

} // namespace
} // namespace quorvex::hub
