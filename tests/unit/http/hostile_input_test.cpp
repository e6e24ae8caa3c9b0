// Hostile and malformed input against the real transport and the real HelperRouter, over
// loopback, HTTP/1.1 and HTTP/2 alike: every attack gets the protocol's error, memory stays
// bounded, the attacker's connection ends, and everyone else is still served.

#include "heap_usage.hpp"
#include "http2_floods.hpp"
#include "http2_test_client.hpp"
#include "loopback_client.hpp"
#include "common/helper_log.hpp"
#include "served_router.hpp"
#include "service/peer/http/served_connection.hpp"
#include "service/peer/http/http2_session.hpp"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace quorvex::http {
namespace {

using namespace std::chrono_literals;
using test::goaway_code_in;
using test::Http2LoopbackClient;
using test::Http2TestClient;
using test::RawClient;

constexpr std::size_t MiB = std::size_t{1024} * 1024;

std::string status_line(const std::string& reply) { return reply.substr(0, reply.find("\r\n")); }

class HostileInputTest : public ::testing::Test {
protected:
    // Connections that have nothing to do with the attack; they must still be served after it.
    struct Bystanders {
        explicit Bystanders(unsigned short port) : http1(port), http2(port) {}
        RawClient http1;
        Http2LoopbackClient http2;
    };

    void expect_served(Bystanders& bystanders, const std::string& context) {
        ASSERT_TRUE(bystanders.http1.send("GET /logs HTTP/1.1\r\nHost: localhost\r\n\r\n")) << context;
        EXPECT_EQ(status_line(bystanders.http1.read_reply()), "HTTP/1.1 200 OK") << context;
        EXPECT_EQ(bystanders.http2.get_status("/logs"), "200") << context;
    }

    test::ServedRouter served;
    unsigned short port = served.server.port();
};

TEST_F(HostileInputTest, ContentLengthThatIsNotOneDecimalNumberIsRefusedWithoutReadingTheBody) {
    struct Case {
        const char* name;
        std::vector<std::string> lengths; // one "content-length" header each; none: no length
        const char* http1_status;         // Beast's 400, or the route's 411
    };
    const Case cases[] = {
        {"2^64", {"18446744073709551616"}, "HTTP/1.1 400 Bad Request"},
        {"negative", {"-1"}, "HTTP/1.1 400 Bad Request"},
        {"plus sign", {"+5"}, "HTTP/1.1 400 Bad Request"},
        {"hexadecimal", {"0x10"}, "HTTP/1.1 400 Bad Request"},
        {"two that disagree", {"5", "6"}, "HTTP/1.1 400 Bad Request"},
        {"a list that disagrees", {"5, 6"}, "HTTP/1.1 400 Bad Request"},
        // Beast takes an agreeing list as one length; the route wants a plain number.
        {"a list that agrees", {"5, 5"}, "HTTP/1.1 411 Length Required"},
        {"none", {}, "HTTP/1.1 411 Length Required"},
    };
    Bystanders bystanders(port);
    Http2LoopbackClient h2(port);
    for (const auto& c : cases) {
        std::string request = "POST /start HTTP/1.1\r\nHost: localhost\r\n";
        std::vector<std::pair<std::string, std::string>> h2_headers;
        for (const auto& length : c.lengths) {
            request += "Content-Length: " + length + "\r\n";
            h2_headers.emplace_back("content-length", length);
        }
        request += c.lengths.empty() ? "Transfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n" : "\r\nhello";

        RawClient h1(port);
        ASSERT_TRUE(h1.send(request)) << c.name;
        EXPECT_EQ(status_line(h1.read_reply()), c.http1_status) << c.name;
        EXPECT_TRUE(h1.read_until_closed()) << c.name; // the unread body ends the connection

        // HTTP/2 names a malformed length a stream error; a missing one is the route's 411.
        const auto stream = h2.session.request("POST", "/start", h2_headers, "hello");
        ASSERT_TRUE(h2.exchange_until([&] { return h2.session.streams[stream].closed; })) << c.name;
        const auto& reply = h2.session.streams[stream];
        if (c.lengths.empty()) {
            EXPECT_EQ(reply.header(":status"), "411") << c.name;
        } else {
            EXPECT_EQ(reply.reset_code, NGHTTP2_PROTOCOL_ERROR) << c.name;
        }
    }
    EXPECT_EQ(served.router->body_reads, 0);
    EXPECT_EQ(served.core.starts, 0);
    // Stream errors leave the connection usable; every HTTP/1.1 attacker's connection is gone.
    EXPECT_EQ(h2.get_status("/logs"), "200");
    EXPECT_TRUE(served.settles_at(3));
    expect_served(bystanders, "after bad lengths");
}

TEST_F(HostileInputTest, Http1HeaderFloodsGet431WithBoundedMemoryAndTheConnectionEnds) {
    std::string many_headers;
    while (many_headers.size() < MiB) {
        many_headers += "X-A: b\r\n";
    }
    struct Case {
        const char* name;
        std::string request;
    };
    const Case cases[] = {
        {"one huge value", "GET /logs HTTP/1.1\r\nX-Big: " + std::string(MiB, 'a') + "\r\n\r\n"},
        {"many small headers", "GET /logs HTTP/1.1\r\n" + many_headers + "\r\n"},
        {"a header section that never ends", "GET /logs HTTP/1.1\r\n" + many_headers + many_headers},
        {"a request line that never ends", "GET /" + std::string(2 * MiB, 'a')},
    };
    constexpr int ATTACKERS = 16;
    Bystanders bystanders(port);
    ASSERT_TRUE(served.settles_at(2));
    for (const auto& c : cases) {
        test::HeapPeak peak;
        std::vector<std::string> replies(ATTACKERS);
        std::vector<std::thread> attackers;
        attackers.reserve(ATTACKERS);
        for (int i = 0; i < ATTACKERS; ++i) {
            attackers.emplace_back([&, i] {
                RawClient attacker(port);
                EXPECT_TRUE(attacker.flood(c.request)) << c.name;
                replies[i] = attacker.received();
            });
        }
        for (auto& attacker : attackers) {
            attacker.join();
        }
        const auto grown = peak.stop();
        for (const auto& reply : replies) {
            EXPECT_EQ(status_line(reply), "HTTP/1.1 431 Request Header Fields Too Large") << c.name;
        }
        // 16 floods of 1-2 MiB each; what a connection holds is bounded by the header limit.
        EXPECT_LT(grown, 4 * MiB) << c.name;
        EXPECT_TRUE(served.settles_at(2)) << c.name;
    }
    EXPECT_EQ(served.router->heads, 0);
    expect_served(bystanders, "after header floods");
}

TEST_F(HostileInputTest, Http2OversizedHeaderListsResetTheirStreamOnly) {
    std::vector<std::pair<std::string, std::string>> many;
    // Counted as HTTP/2 counts a header list: 32 bytes per field besides its name and value.
    for (std::size_t bytes = 0; bytes <= HTTP2_MAX_HEADER_LIST_SIZE; bytes += 32 + 1 + 1) {
        many.emplace_back("x", "y");
    }
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::string>> headers;
    };
    const Case cases[] = {
        {"many small headers", many},
        {"one large value", {{"x-big", std::string(HTTP2_MAX_HEADER_LIST_SIZE, 'a')}}},
    };
    Http2LoopbackClient h2(port);
    test::HeapPeak peak;
    for (const auto& c : cases) {
        for (int round = 0; round < 50; ++round) {
            const auto stream = h2.session.request("GET", "/logs", c.headers);
            ASSERT_TRUE(h2.exchange_until([&] { return h2.session.streams[stream].closed; })) << c.name;
            EXPECT_TRUE(h2.session.streams[stream].reset_code.has_value()) << c.name;
            EXPECT_FALSE(h2.session.streams[stream].header(":status")) << c.name;
        }
        EXPECT_EQ(h2.get_status("/logs"), "200") << c.name;
    }
    EXPECT_LT(peak.stop(), 4 * MiB);
    EXPECT_FALSE(h2.session.goaway_code);
    EXPECT_EQ(served.router->heads, 2); // the two plain requests
}

TEST_F(HostileInputTest, Http2FloodsEndTheSessionWithGoawayWhileOthersAreServed) {
    struct Case {
        const char* name;
        std::string bytes;
        std::uint32_t goaway;
    };
    const Case cases[] = {
        // The reset rate limit (1000 at once, then 33 a second) ends the session.
        {"rapid reset", test::rapid_reset(3000), NGHTTP2_INTERNAL_ERROR},
        {"endless CONTINUATION", test::endless_continuation(100000), NGHTTP2_PROTOCOL_ERROR},
        // 2500 entries fit one frame of the default maximum size.
        {"SETTINGS with thousands of entries", test::settings_with_entries(2500), NGHTTP2_ENHANCE_YOUR_CALM},
    };
    Bystanders bystanders(port);
    ASSERT_TRUE(served.settles_at(2));
    for (const auto& c : cases) {
        test::HeapPeak peak;
        const std::string marker = std::string("flood begins: ") + c.name;
        append_log(marker);
        RawClient attacker(port);
        EXPECT_TRUE(attacker.flood(c.bytes)) << c.name;
        EXPECT_EQ(goaway_code_in(attacker.received()), c.goaway) << c.name;
        EXPECT_LT(peak.stop(), 8 * MiB) << c.name;
        EXPECT_TRUE(served.settles_at(2)) << c.name;
        expect_served(bystanders, c.name);
        // One line for the connection that was ended, none for the bystanders.
        const auto lines = helper_log().lines();
        const auto since_marker = std::find(lines.rbegin(), lines.rend(), marker).base();
        ASSERT_NE(since_marker, lines.begin()) << c.name;
        ASSERT_EQ(lines.end() - since_marker, 1) << c.name;
        EXPECT_TRUE(since_marker->starts_with("Helper ended an HTTP/2 connection: ")) << *since_marker;
    }
}

// A peer that floods PINGs and reads nothing: the acknowledgements back up until the session
// gives up and the connection is closed. (Whether its GOAWAY still reaches a peer that does not
// read is up to that peer; the session's GOAWAY itself is checked frame by frame in
// http2_session_test.cpp.)
TEST_F(HostileInputTest, Http2PingFloodFromAPeerThatReadsNothingEndsTheConnection) {
    Bystanders bystanders(port);
    ASSERT_TRUE(served.settles_at(2));
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const int small = 4096;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

    // A million PINGs (17 MB): more than the socket buffers of both ends hold.
    constexpr int PINGS = 1000000;
    const auto flood = test::pings(PINGS);
    test::HeapPeak peak;
    std::size_t sent = 0;
    while (sent < flood.size()) {
        pollfd ready{fd, POLLOUT, 0};
        if (::poll(&ready, 1, 2000) <= 0) {
            break; // the server no longer reads
        }
        const auto n = ::send(fd, flood.data() + sent, flood.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n <= 0 && errno != EAGAIN) {
            break; // the server has closed
        }
        sent += n > 0 ? static_cast<std::size_t>(n) : 0;
    }

    // Now read: decoded as it comes, since the acknowledgements alone can be megabytes.
    Http2TestClient decoder;
    (void)decoder.take_output();
    std::size_t received = 0;
    bool closed = false;
    for (;;) {
        pollfd ready{fd, POLLIN, 0};
        if (::poll(&ready, 1, 10000) <= 0) {
            break;
        }
        char buffer[65536];
        const auto n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            closed = true;
            break;
        }
        received += static_cast<std::size_t>(n);
        (void)decoder.receive(std::string(buffer, static_cast<std::size_t>(n)));
    }
    ::close(fd);
    EXPECT_TRUE(closed) << "the server kept the flooding connection open";
    EXPECT_LT(received, flood.size()) << "the server answered every PING";
    if (decoder.goaway_code) {
        EXPECT_EQ(decoder.goaway_code, NGHTTP2_ENHANCE_YOUR_CALM);
    }
    EXPECT_LT(peak.stop(), 16 * MiB);
    EXPECT_TRUE(served.settles_at(2));
    expect_served(bystanders, "after a PING flood");
}

} // namespace
} // namespace quorvex::http
