#include "service/peer/http/http_server.hpp"

#include "http2_test_client.hpp"
#include "loopback_client.hpp"
#include "loopback_server.hpp"
#include "common/helper_log.hpp"
#include "service/peer/http/served_connection.hpp"

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <string>
#include <stdexcept>
#include <thread>
#include <vector>

namespace quorvex::http {
namespace {

using namespace std::chrono_literals;
using boost::asio::use_awaitable;
using test::RawClient;
using test::run_command;

// Echoes what it got. The path picks the behaviour: "/slow" waits until the test releases it
// (at most 10 s, so that a test that fails does not hang), "/noread"
// leaves the body unread, "/small" reads with a 4-byte limit, "/close" asks to close, "/throw"
// throws a std::exception and "/throw-int" something else.
class EchoHandler final : public RequestHandler {
public:
    HeadDecision answer_at_once(const RequestHead&) override {
        return PendingRoute([this](RequestHead head, BodyReader& body) { return handle(std::move(head), body); });
    }
    boost::asio::awaitable<Reply> handle(RequestHead head, BodyReader& body) {
        const auto path = head.target.substr(0, head.target.find('?'));
        if (path == "/throw") {
            throw std::runtime_error("the handler broke");
        }
        if (path == "/throw-int") {
            throw 42;
        }
        if (path == "/slow") {
            co_await held_until_released();
        }
        Reply reply{.status = 200, .headers = {{"content-type", "text/plain"}}};
        if (path == "/close") {
            reply.headers.push_back({"Connection", "Close"});
        }
        std::string text = head.method + " " + head.target + "\n";
        for (const auto& header : head.headers) {
            text += header.name + ": " + header.value + "\n";
        }
        if (path != "/noread") {
            auto read = co_await body.read_body(path == "/small" ? 4 : 1024 * 1024);
            text += read ? "body: " + *read : "body failed: " + read.error().text();
        }
        reply.body = std::move(text);
        ++answered;
        co_return reply;
    }

    // Lets the slow request, and any that comes later, go on.
    void release_slow() {
        const std::scoped_lock lock(mutex_);
        released_ = true;
        if (held_ != nullptr) {
            // Cancelled on the held request's own strand, where its wait runs.
            boost::asio::post(held_->get_executor(), [this] {
                const std::scoped_lock inner(mutex_);
                if (held_ != nullptr) {
                    held_->cancel();
                }
            });
        }
    }

    std::atomic<int> slow_entered{0};
    std::atomic<int> answered{0};

private:
    boost::asio::awaitable<void> held_until_released() {
        boost::asio::steady_timer wait(co_await boost::asio::this_coro::executor, 10s);
        {
            const std::scoped_lock lock(mutex_);
            if (released_) {
                co_return;
            }
            held_ = &wait;
        }
        ++slow_entered;
        co_await wait.async_wait(boost::asio::as_tuple(use_awaitable));
        const std::scoped_lock lock(mutex_);
        held_ = nullptr;
    }

    std::mutex mutex_;
    bool released_ = false;
    boost::asio::steady_timer* held_ = nullptr;
};

// The server with an echoing handler; the test is the client.
class HttpServerTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(loopback_.drain().wait_for(10s), std::future_status::ready); }

    std::shared_future<void> drain() { return loopback_.drain(); }

    std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }

    void wait_for_slow_request() {
        for (int i = 0; i < 200 && handler_->slow_entered == 0; ++i) {
            std::this_thread::sleep_for(10ms);
        }
        ASSERT_EQ(handler_->slow_entered, 1);
    }

    std::shared_ptr<EchoHandler> handler_ = std::make_shared<EchoHandler>();
    test::LoopbackServer loopback_{handler_};
    unsigned short port_ = loopback_.port();
};

TEST_F(HttpServerTest, CurlKeepsOneHttp1ConnectionForTwoRequests) {
    const auto result = run_command("curl -sS --http1.1 -v " + url("/echo/one") + " " + url("/echo/two?q=1"));
    ASSERT_EQ(result.status, 0) << result.output;
    EXPECT_NE(result.output.find("GET /echo/one\n"), std::string::npos) << result.output;
    EXPECT_NE(result.output.find("GET /echo/two?q=1\n"), std::string::npos) << result.output;
    EXPECT_NE(result.output.find("Host: 127.0.0.1:"), std::string::npos) << result.output;
    EXPECT_EQ(loopback_.accepted(), 1);
}

TEST_F(HttpServerTest, CurlWithHttp2PriorKnowledge) {
    // One URL: curl 7.88.1 fails its own reuse of a prior-knowledge connection (curl issue 10634);
    // several streams on one connection are nghttp's test below.
    const auto result =
        run_command("curl -sS -i --http2-prior-knowledge -H 'X-Test: One' -d hello " + url("/echo?x=1"));
    ASSERT_EQ(result.status, 0) << result.output;
    EXPECT_NE(result.output.find("HTTP/2 200"), std::string::npos) << result.output;
    EXPECT_NE(result.output.find("POST /echo?x=1\n"), std::string::npos) << result.output;
    EXPECT_NE(result.output.find("x-test: One\n"), std::string::npos) << result.output;
    EXPECT_NE(result.output.find("body: hello"), std::string::npos) << result.output;
    // ":authority" is not turned into a "host" header.
    EXPECT_EQ(result.output.find("\nhost: "), std::string::npos) << result.output;
}

TEST_F(HttpServerTest, NghttpRunsStreamsConcurrentlyOnOneConnection) {
    auto nghttp = std::async(std::launch::async,
                             [this] { return run_command("nghttp " + url("/slow") + " " + url("/echo/fast")); });
    // The fast stream is answered while the slow one on the same connection is still held.
    wait_for_slow_request();
    for (int i = 0; i < 200 && handler_->answered == 0; ++i) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(handler_->answered, 1);
    handler_->release_slow();
    const auto result = nghttp.get();
    ASSERT_EQ(result.status, 0) << result.output;
    EXPECT_NE(result.output.find("GET /slow\n"), std::string::npos) << result.output;
    EXPECT_NE(result.output.find("GET /echo/fast\n"), std::string::npos) << result.output;
    EXPECT_EQ(loopback_.accepted(), 1);
}

TEST_F(HttpServerTest, ShortHttp10RequestIsServedWithoutWaitingForMoreBytes) {
    const std::string request = "GET /e HTTP/1.0\r\n\r\n";
    ASSERT_LT(request.size(), HTTP2_PREFACE.size());
    RawClient client(port_);
    ASSERT_TRUE(client.connected());
    client.send(request);
    const auto reply = client.read_reply();
    EXPECT_TRUE(reply.starts_with("HTTP/1.0 200")) << reply;
    EXPECT_NE(reply.find("GET /e\n"), std::string::npos) << reply;
    EXPECT_TRUE(client.read_until_closed());
}

TEST_F(HttpServerTest, MalformedHttp1GetsAnErrorReplyAndTheConnectionCloses) {
    struct Case {
        const char* name;
        std::string request;
        const char* status_line;
    };
    const Case cases[] = {
        {"header without colon", "GET / HTTP/1.1\r\nno colon here\r\n\r\n", "HTTP/1.1 400"},
        {"garbage request line", "\x01\x02 nonsense\r\n\r\n", "HTTP/1.1 400"},
        {"bad chunked body", "POST /echo HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n", "HTTP/1.1 200"},
        {"header flood", "GET / HTTP/1.1\r\nX-Big: " + std::string(20000, 'a') + "\r\n\r\n", "HTTP/1.1 431"},
    };
    for (const auto& c : cases) {
        RawClient client(port_);
        ASSERT_TRUE(client.connected()) << c.name;
        client.send(c.request);
        const auto reply = client.read_reply();
        EXPECT_TRUE(reply.starts_with(c.status_line)) << c.name << ": " << reply;
        EXPECT_TRUE(client.read_until_closed()) << c.name;
    }
}

// The final chunk's line and the byte after it in two reads, then the end of the stream: the
// parser meets that line twice, with only 4 bytes the second time. The outcome must be the one
// the same bytes get when they arrive together.
TEST_F(HttpServerTest, FinalChunkSplitAcrossReadsEndsAsTheSameBytesSentWhole) {
    const std::string head = "POST /echo HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n";
    const auto outcome = [&](const std::vector<std::string>& reads) {
        RawClient client(port_);
        EXPECT_TRUE(client.connected());
        for (const auto& bytes : reads) {
            client.send(bytes);
            EXPECT_TRUE(client.wait_until_peer_has_read());
        }
        client.finish_sending();
        EXPECT_TRUE(client.read_until_closed());
        return client.received();
    };
    const auto whole = outcome({head + "0\r\nh"});
    EXPECT_TRUE(whole.starts_with("HTTP/1.1 200")) << whole;
    EXPECT_NE(whole.find("body failed: read request body: partial message"), std::string::npos) << whole;
    EXPECT_EQ(outcome({head + "0\r\n", "h"}), whole);
    EXPECT_EQ(outcome({head + "0\r", "\n", "h"}), whole);
}

TEST_F(HttpServerTest, ConnectionStaysOpenOnlyWhenTheRequestWasFullyReadAndNobodyAskedToClose) {
    struct Case {
        const char* name;
        std::string request;
        const char* expected_in_reply;
        bool stays_open;
    };
    const Case cases[] = {
        {"body read", "POST /echo HTTP/1.1\r\nContent-Length: 5\r\n\r\nhello", "body: hello", true},
        {"chunked body read", "POST /echo HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n",
         "body: hello", true},
        {"body left unread", "POST /noread HTTP/1.1\r\nContent-Length: 5\r\n\r\nhello", "POST /noread", false},
        {"chunked body left unread",
         "POST /noread HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n", "POST /noread", false},
        {"body over the limit", "POST /small HTTP/1.1\r\nContent-Length: 10\r\n\r\n0123456789", "body failed", false},
        {"reply asks to close", "GET /close HTTP/1.1\r\n\r\n", "connection: close", false},
        {"client asks to close", "GET /echo HTTP/1.1\r\nConnection: close\r\n\r\n", "GET /echo", false},
    };
    for (const auto& c : cases) {
        RawClient client(port_);
        ASSERT_TRUE(client.connected()) << c.name;
        client.send(c.request);
        const auto reply = client.read_reply();
        EXPECT_TRUE(reply.starts_with("HTTP/1.1 200")) << c.name << ": " << reply;
        EXPECT_NE(RawClient::lower(reply).find(RawClient::lower(c.expected_in_reply)), std::string::npos)
            << c.name << ": " << reply;
        if (c.stays_open) {
            client.send("GET /echo/next HTTP/1.1\r\n\r\n");
            const auto next = client.read_reply();
            EXPECT_NE(next.find("GET /echo/next\n"), std::string::npos) << c.name << ": " << next;
        } else {
            EXPECT_TRUE(client.read_until_closed()) << c.name;
        }
    }
}

// A body that came in the same read as its head is taken from the buffer; the request behind
// it in that read stays there for the next round.
TEST_F(HttpServerTest, BodyAndTheNextRequestInOneReadAreBothServed) {
    const std::string bodies[] = {"Content-Length: 5\r\n\r\nhello",
                                  "Transfer-Encoding: chunked\r\n\r\n2\r\nhe\r\n3\r\nllo\r\n0\r\n\r\n"};
    for (const auto& body : bodies) {
        RawClient client(port_);
        ASSERT_TRUE(client.connected());
        client.send("POST /echo HTTP/1.1\r\n" + body + "GET /echo/next HTTP/1.1\r\nConnection: close\r\n\r\n");
        ASSERT_TRUE(client.read_until_closed()) << body;
        const auto replies = client.received();
        EXPECT_NE(replies.find("body: hello"), std::string::npos) << replies;
        EXPECT_NE(replies.find("GET /echo/next\n"), std::string::npos) << replies;
    }
}

TEST_F(HttpServerTest, ExpectContinueIsAnsweredOnlyWhenTheBodyIsRead) {
    RawClient client(port_);
    client.send("POST /echo HTTP/1.1\r\nContent-Length: 5\r\nExpect: 100-continue\r\n\r\n");
    const auto interim = client.read_reply();
    EXPECT_TRUE(interim.starts_with("HTTP/1.1 100 Continue")) << interim;
    client.send("hello");
    EXPECT_NE(client.read_reply().find("body: hello"), std::string::npos);

    RawClient refused(port_);
    refused.send("POST /noread HTTP/1.1\r\nContent-Length: 5\r\nExpect: 100-continue\r\n\r\n");
    const auto reply = refused.read_reply();
    EXPECT_TRUE(reply.starts_with("HTTP/1.1 200")) << reply;
    EXPECT_TRUE(refused.read_until_closed());
}

TEST_F(HttpServerTest, BadHttp2BytesGetGoawayAndTheConnectionCloses) {
    RawClient client(port_);
    // Preface, empty SETTINGS, then DATA on stream 0.
    client.send(std::string(HTTP2_PREFACE) + std::string("\0\0\0\x04\0\0\0\0\0", 9) +
                std::string("\0\0\x03\0\0\0\0\0\0abc", 12));
    ASSERT_TRUE(client.read_until_closed());
    test::Http2TestClient decoder;
    (void)decoder.take_output();
    decoder.receive(client.received());
    EXPECT_EQ(decoder.goaway_code, NGHTTP2_PROTOCOL_ERROR);
}

TEST_F(HttpServerTest, DrainLetsTheRequestInProgressFinishAndClosesIdleConnectionsAtOnce) {
    RawClient busy(port_);
    busy.send("GET /slow HTTP/1.1\r\n\r\n");
    RawClient idle(port_);
    idle.send("GET /echo/idle HTTP/1.1\r\n\r\n");
    EXPECT_NE(idle.read_reply().find("GET /echo/idle"), std::string::npos);
    RawClient silent(port_);
    wait_for_slow_request();

    auto drained = drain();
    EXPECT_TRUE(idle.read_until_closed());
    EXPECT_TRUE(silent.read_until_closed());
    // The drain has reached every connection; only now may the request in progress end.
    handler_->release_slow();
    const auto reply = busy.read_reply();
    EXPECT_TRUE(reply.starts_with("HTTP/1.1 200")) << reply;
    EXPECT_NE(reply.find("GET /slow\n"), std::string::npos) << reply;
    EXPECT_NE(RawClient::lower(reply).find("connection: close"), std::string::npos) << reply;
    EXPECT_TRUE(busy.read_until_closed());
    EXPECT_EQ(drained.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(loopback_.open_connections(), 0u);

    // Nothing is served once draining has begun.
    RawClient late(port_);
    EXPECT_FALSE(late.connected());
}

TEST_F(HttpServerTest, DrainOfHttp2SendsGoawayAndFinishesTheOpenStream) {
    test::Http2TestClient h2;
    const auto stream = h2.request("GET", "/slow");
    RawClient client(port_);
    client.send(h2.take_output());
    wait_for_slow_request();

    auto drained = drain();
    // The GOAWAY shows that the drain has reached the connection; only then may the stream end.
    std::size_t fed = 0;
    for (int i = 0; i < 100 && !h2.goaway_code && client.read_more(50ms); ++i) {
        h2.receive(std::string_view(client.received()).substr(fed));
        fed = client.received().size();
    }
    ASSERT_TRUE(h2.goaway_code.has_value());
    EXPECT_FALSE(h2.streams[stream].closed) << "the stream ended before the drain began";
    handler_->release_slow();
    ASSERT_TRUE(client.read_until_closed());
    h2.receive(std::string_view(client.received()).substr(fed));
    EXPECT_EQ(h2.goaway_code, NGHTTP2_NO_ERROR);
    EXPECT_EQ(h2.goaway_last_stream, stream);
    EXPECT_EQ(h2.streams[stream].header(":status"), "200");
    EXPECT_NE(h2.streams[stream].body.find("GET /slow\n"), std::string::npos);
    EXPECT_EQ(drained.wait_for(5s), std::future_status::ready);
}

TEST_F(HttpServerTest, ExceptionThatEndsAConnectionIsLoggedAsOneLine) {
    struct Case {
        const char* path;
        std::string line;
    };
    for (const Case& c : {Case{"/throw", "Helper connection failed: the handler broke"},
                          Case{"/throw-int", "Helper connection failed: unknown exception"}}) {
        SCOPED_TRACE(c.path);
        const auto before = std::ranges::count(helper_log().lines(), c.line);
        RawClient client(port_);
        ASSERT_TRUE(client.connected());
        client.send(std::string("GET ") + c.path + " HTTP/1.1\r\nHost: x\r\n\r\n");
        EXPECT_TRUE(client.read_until_closed());
        // The connection leaves the registry only after its failure was logged.
        for (int i = 0; i < 500 && loopback_.open_connections() != 0; ++i) {
            std::this_thread::sleep_for(10ms);
        }
        ASSERT_EQ(loopback_.open_connections(), 0u);
        EXPECT_EQ(std::ranges::count(helper_log().lines(), c.line), before + 1);
    }
}

TEST_F(HttpServerTest, Http2HandlerExceptionResetsOnlyItsStreamAndIsLogged) {
    // Only the lines after the marker count: the log is shared by every test of the process.
    const std::string marker = "http2 handler exception test begins";
    append_log(marker);
    test::Http2TestClient h2;
    const auto broken = h2.request("GET", "/throw");
    const auto slow = h2.request("GET", "/slow");
    RawClient client(port_);
    client.send(h2.take_output());
    // Both streams start together, in order: once the slow one runs, the broken one has ended.
    wait_for_slow_request();

    auto drained = drain();
    handler_->release_slow();
    ASSERT_TRUE(client.read_until_closed());
    h2.receive(client.received());
    EXPECT_EQ(h2.streams[broken].reset_code, NGHTTP2_INTERNAL_ERROR);
    EXPECT_EQ(h2.streams[slow].header(":status"), "200");
    EXPECT_EQ(drained.wait_for(5s), std::future_status::ready);
    const auto lines = helper_log().lines();
    const auto since_marker = std::find(lines.rbegin(), lines.rend(), marker).base();
    ASSERT_NE(since_marker, lines.begin());
    EXPECT_EQ(std::count(since_marker, lines.end(), "Helper connection failed: the handler broke"), 1);
}

} // namespace
} // namespace quorvex::http
