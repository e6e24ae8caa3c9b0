#include "service/peer/http/http_server.hpp"

#include "http2_test_client.hpp"
#include "service/peer/http/protocol_detection.hpp"

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/redirect_error.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/asio/use_future.hpp>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <future>
#include <string>
#include <thread>
#include <vector>

namespace quorvex::http {
namespace {

using namespace std::chrono_literals;
using boost::asio::use_awaitable;
using boost::asio::ip::tcp;

// Echoes what it got. The path picks the behaviour: "/slow" waits before answering, "/noread"
// leaves the body unread, "/small" reads with a 4-byte limit, "/close" asks to close.
class EchoHandler final : public RequestHandler {
public:
    boost::asio::awaitable<Reply> handle(RequestHead head, BodyReader& body) override
    {
        const auto path = head.target.substr(0, head.target.find('?'));
        if (path == "/slow") {
            ++slow_entered;
            boost::asio::steady_timer wait(co_await boost::asio::this_coro::executor, 300ms);
            co_await wait.async_wait(use_awaitable);
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
        co_return reply;
    }

    std::atomic<int> slow_entered{0};
};

// A blocking loopback client on a plain socket, every wait bounded.
class RawClient {
public:
    explicit RawClient(unsigned short port)
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~RawClient() { ::close(fd_); }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    [[nodiscard]] bool connected() const { return connected_; }

    void send(const std::string& bytes) const
    {
        std::size_t sent = 0;
        while (sent < bytes.size()) {
            const auto n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) {
                return;
            }
            sent += static_cast<std::size_t>(n);
        }
    }

    // Appends what arrives within `wait` to `received_`; false once the peer has closed.
    bool read_more(std::chrono::milliseconds wait)
    {
        pollfd ready{fd_, POLLIN, 0};
        if (::poll(&ready, 1, static_cast<int>(wait.count())) <= 0) {
            return true;
        }
        char buffer[16384];
        const auto n = ::recv(fd_, buffer, sizeof buffer, 0);
        if (n <= 0) {
            return false;
        }
        received_.append(buffer, static_cast<std::size_t>(n));
        return true;
    }

    // One complete HTTP/1 reply (head and Content-Length body), or what came within 5 s.
    std::string read_reply()
    {
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (std::chrono::steady_clock::now() < deadline) {
            const auto head_end = received_.find("\r\n\r\n");
            if (head_end != std::string::npos) {
                const auto length_at = lower(received_.substr(0, head_end)).find("content-length: ");
                const auto length = length_at == std::string::npos ? 0 : std::stoul(received_.substr(length_at + 16));
                const auto total = head_end + 4 + length;
                if (received_.size() >= total) {
                    auto reply = received_.substr(0, total);
                    received_.erase(0, total);
                    return reply;
                }
            }
            if (!read_more(100ms)) {
                break;
            }
        }
        return std::exchange(received_, {});
    }

    // Everything until the peer closes; false if it did not close within `wait`.
    bool read_until_closed(std::chrono::milliseconds wait = 5000ms)
    {
        const auto deadline = std::chrono::steady_clock::now() + wait;
        while (std::chrono::steady_clock::now() < deadline) {
            if (!read_more(50ms)) {
                return true;
            }
        }
        return false;
    }

    [[nodiscard]] const std::string& received() const { return received_; }

    static std::string lower(std::string text)
    {
        for (auto& c : text) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        return text;
    }

private:
    int fd_ = -1;
    bool connected_ = false;
    std::string received_;
};

struct CommandResult {
    int status = -1;
    std::string output; // stdout and stderr
};

CommandResult run_command(const std::string& command)
{
    CommandResult result;
    FILE* pipe = ::popen(("timeout 10 " + command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) {
        return result;
    }
    char buffer[4096];
    while (const auto n = std::fread(buffer, 1, sizeof buffer, pipe)) {
        result.output.append(buffer, n);
    }
    const int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

// The server on 127.0.0.1:0 with a minimal accept loop in place of the run loop's, on a
// two-thread io_context.
class HttpServerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        acceptor_.open(tcp::v4());
        acceptor_.bind(tcp::endpoint(boost::asio::ip::address_v4::loopback(), 0));
        acceptor_.listen();
        port_ = acceptor_.local_endpoint().port();
        boost::asio::co_spawn(accept_strand_, accept_loop(), boost::asio::detached);
        for (int i = 0; i < 2; ++i) {
            threads_.emplace_back([this] { io_.run(); });
        }
    }

    void TearDown() override
    {
        EXPECT_TRUE(drain().wait_for(10s) == std::future_status::ready);
        work_.reset();
        io_.stop();
        for (auto& thread : threads_) {
            thread.join();
        }
    }

    // Stops accepting, as the run loop does, then drains.
    std::future<void> drain()
    {
        return boost::asio::co_spawn(
            accept_strand_,
            [this]() -> boost::asio::awaitable<void> {
                boost::system::error_code ignored;
                acceptor_.close(ignored);
                co_await server_.drain();
            },
            boost::asio::use_future);
    }

    std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }

    void wait_for_slow_request()
    {
        for (int i = 0; i < 200 && handler_->slow_entered == 0; ++i) {
            std::this_thread::sleep_for(10ms);
        }
        ASSERT_EQ(handler_->slow_entered, 1);
    }

    boost::asio::io_context io_;
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> work_{io_.get_executor()};
    boost::asio::strand<boost::asio::io_context::executor_type> accept_strand_{io_.get_executor()};
    tcp::acceptor acceptor_{accept_strand_};
    std::shared_ptr<EchoHandler> handler_ = std::make_shared<EchoHandler>();
    HttpServer server_{io_.get_executor(), handler_};
    std::atomic<int> accepted_{0};
    unsigned short port_ = 0;
    std::vector<std::thread> threads_;

private:
    boost::asio::awaitable<void> accept_loop()
    {
        for (;;) {
            boost::system::error_code ec;
            auto socket = co_await acceptor_.async_accept(boost::asio::redirect_error(use_awaitable, ec));
            if (ec) {
                co_return;
            }
            ++accepted_;
            server_.serve(std::move(socket));
        }
    }
};

TEST_F(HttpServerTest, CurlKeepsOneHttp1ConnectionForTwoRequests)
{
    const auto result = run_command("curl -sS --http1.1 -v " + url("/echo/one") + " " + url("/echo/two?q=1"));
    ASSERT_EQ(result.status, 0) << result.output;
    EXPECT_NE(result.output.find("GET /echo/one\n"), std::string::npos) << result.output;
    EXPECT_NE(result.output.find("GET /echo/two?q=1\n"), std::string::npos) << result.output;
    EXPECT_NE(result.output.find("Host: 127.0.0.1:"), std::string::npos) << result.output;
    EXPECT_EQ(accepted_, 1);
}

TEST_F(HttpServerTest, CurlWithHttp2PriorKnowledge)
{
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

TEST_F(HttpServerTest, NghttpRunsStreamsConcurrentlyOnOneConnection)
{
    const auto result = run_command("nghttp " + url("/slow") + " " + url("/echo/fast"));
    ASSERT_EQ(result.status, 0) << result.output;
    EXPECT_NE(result.output.find("GET /slow\n"), std::string::npos) << result.output;
    EXPECT_NE(result.output.find("GET /echo/fast\n"), std::string::npos) << result.output;
    EXPECT_EQ(accepted_, 1);
}

TEST_F(HttpServerTest, ShortHttp10RequestIsServedWithoutWaitingForMoreBytes)
{
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

TEST_F(HttpServerTest, MalformedHttp1GetsAnErrorReplyAndTheConnectionCloses)
{
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

TEST_F(HttpServerTest, ConnectionStaysOpenOnlyWhenTheRequestWasFullyReadAndNobodyAskedToClose)
{
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
        {"chunked body left unread", "POST /noread HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n",
         "POST /noread", false},
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

TEST_F(HttpServerTest, ExpectContinueIsAnsweredOnlyWhenTheBodyIsRead)
{
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

TEST_F(HttpServerTest, BadHttp2BytesGetGoawayAndTheConnectionCloses)
{
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

TEST_F(HttpServerTest, DrainLetsTheRequestInProgressFinishAndClosesIdleConnectionsAtOnce)
{
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
    const auto reply = busy.read_reply();
    EXPECT_TRUE(reply.starts_with("HTTP/1.1 200")) << reply;
    EXPECT_NE(reply.find("GET /slow\n"), std::string::npos) << reply;
    EXPECT_NE(RawClient::lower(reply).find("connection: close"), std::string::npos) << reply;
    EXPECT_TRUE(busy.read_until_closed());
    EXPECT_EQ(drained.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(server_.open_connections(), 0u);

    // Nothing is served once draining has begun.
    RawClient late(port_);
    EXPECT_FALSE(late.connected());
}

TEST_F(HttpServerTest, DrainOfHttp2SendsGoawayAndFinishesTheOpenStream)
{
    test::Http2TestClient h2;
    const auto stream = h2.request("GET", "/slow");
    RawClient client(port_);
    client.send(h2.take_output());
    wait_for_slow_request();

    auto drained = drain();
    ASSERT_TRUE(client.read_until_closed());
    h2.receive(client.received());
    EXPECT_EQ(h2.goaway_code, NGHTTP2_NO_ERROR);
    EXPECT_EQ(h2.goaway_last_stream, stream);
    EXPECT_EQ(h2.streams[stream].header(":status"), "200");
    EXPECT_NE(h2.streams[stream].body.find("GET /slow\n"), std::string::npos);
    EXPECT_EQ(drained.wait_for(5s), std::future_status::ready);
}

} // namespace
} // namespace quorvex::http
