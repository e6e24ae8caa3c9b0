#include "service/peer/http/http2_session.hpp"

#include "http2_floods.hpp"
#include "http2_test_client.hpp"
#include "service/peer/http/served_connection.hpp"
#include "common/helper_log.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>

namespace quorvex::http {
namespace {

using test::frame;
using test::goaway_code_in;
using test::Http2TestClient;

// Moves bytes both ways until neither side has anything more to say.
void exchange(Http2TestClient& client, Http2Session& server) {
    for (int round = 0; round < 100; ++round) {
        const auto to_server = client.take_output();
        if (!to_server.empty()) {
            (void)server.receive(to_server);
        }
        const auto to_client = server.take_output();
        if (!to_client.empty()) {
            client.receive(to_client);
        }
        if (to_server.empty() && to_client.empty()) {
            return;
        }
    }
    FAIL() << "the sessions never went quiet";
}

TEST(Http2Session, HandsOverTheRequestHeadAndSendsACleanedReply) {
    Http2TestClient client;
    Http2Session server;
    const auto id =
        client.request("GET", "/ping?coreSha256=ab", {{"x-first", "1"}, {"origin", "null"}, {"x-first", "2"}});
    exchange(client, server);

    auto started = server.take_started_requests();
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(started[0].stream_id, id);
    EXPECT_EQ(started[0].head.method, "GET");
    EXPECT_EQ(started[0].head.target, "/ping?coreSha256=ab");
    // Pseudo-headers are not headers, and ":authority" does not become "host".
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"x-first", "1"}, {"origin", "null"}, {"x-first", "2"}};
    ASSERT_EQ(started[0].head.headers.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(started[0].head.headers[i].name, expected[i].first);
        EXPECT_EQ(started[0].head.headers[i].value, expected[i].second);
    }
    EXPECT_TRUE(server.take_started_requests().empty());

    server.submit_reply(id, Reply{.status = 409,
                                  .headers = {{"Content-Type", "text/plain"},
                                              {"Connection", "close"},
                                              {"Keep-Alive", "timeout=5"},
                                              {"Proxy-Connection", "x"},
                                              {"Transfer-Encoding", "chunked"},
                                              {"Upgrade", "h2c"},
                                              {"Content-Length", "999"},
                                              {"X-Quorvex-Helper-Protocol", "8"}},
                                  .body = "digest mismatch"});
    exchange(client, server);

    const auto& reply = client.streams[id];
    EXPECT_TRUE(reply.closed);
    EXPECT_FALSE(reply.reset_code);
    EXPECT_EQ(reply.header(":status"), "409");
    EXPECT_EQ(reply.header("content-type"), "text/plain");
    EXPECT_EQ(reply.header("x-quorvex-helper-protocol"), "8");
    EXPECT_EQ(reply.header("content-length"), "15");
    for (const auto* dropped : {"connection", "keep-alive", "proxy-connection", "transfer-encoding", "upgrade"}) {
        EXPECT_FALSE(reply.header(dropped)) << dropped;
    }
    EXPECT_EQ(reply.body, "digest mismatch");
}

// A new stream may be made from a finished one: it shows nothing of the finished request, whether
// the new head has fewer fields, shorter values or no ":path", nor of its body.
TEST(Http2Session, ANewStreamShowsNothingOfAFinishedOne) {
    Http2TestClient client;
    Http2Session server;
    // More finished streams than are kept, each with its own fields.
    constexpr std::size_t first_round = 20;
    for (std::size_t i = 0; i < first_round; ++i) {
        (void)client.request("POST", "/start/a/long/target/" + std::to_string(i),
                             {{"x-first", std::string(40, 'a')}, {"x-second", "2"}, {"x-third", "3"}},
                             std::string("body"));
    }
    exchange(client, server);
    // Answered from the head in place, as most requests are: the finished heads keep their text.
    std::size_t answered = 0;
    server.visit_started_requests([&](std::int32_t stream_id, RequestHead&) {
        ASSERT_TRUE(server.poll_body(stream_id, 64).value().has_value());
        server.submit_reply(stream_id, Reply{.status = 204});
        ++answered;
    });
    ASSERT_EQ(answered, first_round);
    exchange(client, server);

    const auto short_one = client.request("GET", "/a", {{"x-only", "1"}});
    const auto no_fields = client.request("GET", "/b");
    const auto no_path = client.connect_request("example.org:443");
    exchange(client, server);
    const auto started = server.take_started_requests();
    ASSERT_EQ(started.size(), 3u);
    EXPECT_EQ(started[0].stream_id, short_one);
    EXPECT_EQ(started[0].head.method, "GET");
    EXPECT_EQ(started[0].head.target, "/a");
    ASSERT_EQ(started[0].head.headers.size(), 1u);
    EXPECT_EQ(started[0].head.headers[0].name, "x-only");
    EXPECT_EQ(started[0].head.headers[0].value, "1");
    EXPECT_EQ(started[1].stream_id, no_fields);
    EXPECT_EQ(started[1].head.target, "/b");
    EXPECT_TRUE(started[1].head.headers.empty());
    EXPECT_EQ(started[2].stream_id, no_path);
    EXPECT_EQ(started[2].head.method, "CONNECT");
    EXPECT_EQ(started[2].head.target, "");
    // A fresh body state: empty and complete, not "already read".
    const auto body = server.poll_body(short_one, 64);
    ASSERT_TRUE(body.has_value());
    ASSERT_TRUE(body->has_value()) << body->error().text();
    EXPECT_EQ(**body, "");
}

// Header names are folded once per connection and kept; names past what it keeps are folded by
// nghttp2 instead. Either way every reply of the connection carries them in lower case.
TEST(Http2Session, ReplyHeaderNamesArriveInLowerCaseOnEveryReply) {
    const ReplyHeaders headers = {{"X-One", "1"},
                                  {"X-Two", "2"},
                                  {"X-Three", "3"},
                                  {"X-Four", "4"},
                                  {"X-Five", "5"},
                                  {"X-Six", "6"},
                                  {"X-Seven", "7"},
                                  {"X-Eight", "8"},
                                  {"X-Nine", "9"},
                                  {"X-Ten", "10"},
                                  {"Content-Type", "text/plain"}};
    const std::vector<std::pair<std::string, std::string>> expected = {{"x-one", "1"},
                                                                       {"x-two", "2"},
                                                                       {"x-three", "3"},
                                                                       {"x-four", "4"},
                                                                       {"x-five", "5"},
                                                                       {"x-six", "6"},
                                                                       {"x-seven", "7"},
                                                                       {"x-eight", "8"},
                                                                       {"x-nine", "9"},
                                                                       {"x-ten", "10"},
                                                                       {"content-type", "text/plain"}};
    Http2TestClient client;
    Http2Session server;
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        const auto id = client.request("GET", "/a");
        exchange(client, server);
        ASSERT_EQ(server.take_started_requests().size(), 1u);
        server.submit_reply(id, Reply{.status = 200, .headers = headers, .body = "x"});
        exchange(client, server);
        for (const auto& [name, value] : expected) {
            EXPECT_EQ(client.streams[id].header(name), value) << name;
        }
        EXPECT_EQ(client.streams[id].body, "x");
    }
}

// A body larger than one frame and than the peer's stream window goes out in pieces, some only
// after WINDOW_UPDATE; one shared body may be in flight on several streams at once. HEAD gets the
// length without the bytes.
TEST(Http2Session, LargeSharedReplyBodyArrivesWholeOnEveryStream) {
    std::string text(std::size_t{200} * 1024, '\0');
    for (std::size_t i = 0; i < text.size(); ++i) {
        text[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26); // an offset slip changes the bytes
    }
    const auto shared = std::make_shared<const std::string>(text);
    Http2TestClient client;
    Http2Session server;
    const auto first = client.request("GET", "/logs");
    const auto second = client.request("GET", "/logs");
    const auto head = client.request("HEAD", "/logs");
    exchange(client, server);
    ASSERT_EQ(server.take_started_requests().size(), 3u);

    for (const auto id : {first, second, head}) {
        server.submit_reply(id, Reply{.status = 200, .body = ReplyBody(shared)});
    }
    exchange(client, server);

    for (const auto id : {first, second}) {
        EXPECT_TRUE(client.streams[id].closed);
        EXPECT_FALSE(client.streams[id].reset_code);
        EXPECT_EQ(client.streams[id].header("content-length"), std::to_string(text.size()));
        EXPECT_TRUE(client.streams[id].body == text) << "stream " << id;
    }
    EXPECT_TRUE(client.streams[head].closed);
    EXPECT_EQ(client.streams[head].header("content-length"), std::to_string(text.size()));
    EXPECT_TRUE(client.streams[head].body.empty());
}

TEST(Http2Session, BodyCompletesAtEndStreamWithinTheLimit) {
    Http2TestClient client;
    Http2Session server;
    const auto id = client.request("POST", "/start", {{"content-length", "11"}}, std::string("hello world"));
    auto to_server = client.take_output();
    // The head alone first: the body is not there yet.
    const auto split = to_server.size() - (9 + 11);
    ASSERT_TRUE(server.receive(to_server.substr(0, split)));
    ASSERT_EQ(server.take_started_requests().size(), 1u);
    EXPECT_FALSE(server.poll_body(id, 4096).has_value());

    ASSERT_TRUE(server.receive(to_server.substr(split)));
    auto body = server.poll_body(id, 11);
    ASSERT_TRUE(body.has_value());
    ASSERT_TRUE(body->has_value()) << body->error().text();
    EXPECT_EQ(**body, "hello world");
    // A second read has nothing left to give.
    auto again = server.poll_body(id, 4096);
    ASSERT_TRUE(again.has_value());
    EXPECT_FALSE(again->has_value());
}

TEST(Http2Session, BodyFailsOverTheLimitOrWhenTheStreamBreaks) {
    struct Case {
        const char* name;
        std::size_t limit;
        bool reset_by_client;
        bool input_ends;
    };
    const Case cases[] = {
        {"over the limit", 10, false, false},
        {"reset by the client", 4096, true, false},
        {"input ended", 4096, false, true},
    };
    for (const auto& c : cases) {
        Http2TestClient client;
        Http2Session server;
        // Sent without END_STREAM: the body stays incomplete.
        const auto id = client.request("POST", "/stop", {}, std::string(11, 'x'));
        auto bytes = client.take_output();
        bytes[bytes.size() - 11 - 5] &= ~0x1; // clear END_STREAM on the DATA frame
        ASSERT_TRUE(server.receive(bytes)) << c.name;
        ASSERT_EQ(server.take_started_requests().size(), 1u) << c.name;
        if (c.reset_by_client) {
            client.reset(id);
            ASSERT_TRUE(server.receive(client.take_output())) << c.name;
        }
        if (c.input_ends) {
            server.end_of_input();
        }
        auto body = server.poll_body(id, c.limit);
        ASSERT_TRUE(body.has_value()) << c.name;
        EXPECT_FALSE(body->has_value()) << c.name;
    }
}

// The reply ends in a DATA frame, or in its HEADERS when it has no body.
TEST(Http2Session, AnEarlyReplyCutsOffTheUnreadBody) {
    for (const std::string body : {"too large", ""}) {
        SCOPED_TRACE(body);
        Http2TestClient client;
        Http2Session server;
        const auto id = client.request("POST", "/start", {{"content-length", "5000"}}, std::string(5000, 'x'));
        auto bytes = client.take_output();
        // Hold back the end of the body, as a client still uploading would.
        ASSERT_TRUE(server.receive(bytes.substr(0, bytes.size() - 100)));
        ASSERT_EQ(server.take_started_requests().size(), 1u);

        server.submit_reply(id, Reply{.status = 413, .headers = {{"connection", "close"}}, .body = body});
        client.receive(server.take_output());

        const auto& reply = client.streams[id];
        EXPECT_EQ(reply.header(":status"), "413");
        EXPECT_EQ(reply.body, body);
        EXPECT_EQ(reply.reset_code, NGHTTP2_NO_ERROR);
        EXPECT_TRUE(reply.closed);
    }
}

TEST(Http2Session, AnUnreadBodyStopsAtTheStreamWindow) {
    Http2TestClient client;
    Http2Session server;
    const std::string sent(std::size_t{300} * 1024, 'x'); // several stream windows
    const auto id = client.request("POST", "/start", {}, sent);
    exchange(client, server);
    ASSERT_EQ(server.take_started_requests().size(), 1u);
    EXPECT_LE(client.streams[id].body_sent, HTTP2_STREAM_WINDOW);

    // Once a reader takes the bytes, the window reopens and the rest follows.
    std::optional<Result<std::string>> body;
    for (int round = 0; round < 100 && !body; ++round) {
        body = server.poll_body(id, std::size_t{1024} * 1024);
        exchange(client, server);
    }
    ASSERT_TRUE(body.has_value());
    ASSERT_TRUE(body->has_value());
    EXPECT_EQ(**body, sent);
}

TEST(Http2Session, AnUnreadBodyDoesNotHoldUpOtherStreams) {
    Http2TestClient client;
    Http2Session server;
    client.request("POST", "/start", {}, std::string(HTTP2_STREAM_WINDOW, 'x'));
    exchange(client, server);
    const auto second = client.request("POST", "/stop", {}, std::string("done"));
    exchange(client, server);
    ASSERT_EQ(server.take_started_requests().size(), 2u);

    auto body = server.poll_body(second, 4096);
    ASSERT_TRUE(body.has_value());
    ASSERT_TRUE(body->has_value());
    EXPECT_EQ(**body, "done");
}

TEST(Http2Session, MalformedInputGetsGoawayWithTheProtocolsErrorCode) {
    const std::string preface(HTTP2_PREFACE);
    const auto settings = frame(0x4, 0, 0, "");
    struct Case {
        const char* name;
        std::string after_preface;
        std::uint32_t code;
        const char* cause; // what the connection's log line names
    };
    const std::string priority_payload("\x00\x00\x00\x03\x10", 5);
    const Case cases[] = {
        {"DATA on stream 0", settings + frame(0x0, 0, 0, "abc"), NGHTTP2_PROTOCOL_ERROR,
         "sent GOAWAY PROTOCOL_ERROR: DATA: stream_id == 0"},
        {"SETTINGS of a bad length", settings + frame(0x4, 0, 0, "12345"), NGHTTP2_FRAME_SIZE_ERROR,
         "sent GOAWAY FRAME_SIZE_ERROR"},
        {"HEADERS with garbage HPACK", settings + frame(0x1, 0x5, 1, "\xff\xff\xff\xff\xff"), NGHTTP2_COMPRESSION_ERROR,
         "sent GOAWAY COMPRESSION_ERROR"},
        {"no SETTINGS after the preface", frame(0x8, 0, 0, std::string("\x00\x00\x00\x01", 4)), NGHTTP2_PROTOCOL_ERROR,
         "sent GOAWAY PROTOCOL_ERROR: SETTINGS expected"},
        // RFC 9113 section 6.3: a connection error even while priorities are off.
        {"PRIORITY on stream 0", settings + frame(0x2, 0, 0, priority_payload), NGHTTP2_PROTOCOL_ERROR,
         "HTTP/2 input rejected: PRIORITY frame on stream 0"},
    };
    for (const auto& c : cases) {
        Http2Session server;
        (void)server.receive(preface + c.after_preface);
        EXPECT_TRUE(server.want_write()) << c.name;
        const auto output = server.take_output();
        EXPECT_EQ(goaway_code_in(output), c.code) << c.name;
        EXPECT_FALSE(server.want_read()) << c.name;
        EXPECT_FALSE(server.want_write()) << c.name;
        EXPECT_EQ(server.connection_error(), std::optional<std::string>(c.cause)) << c.name;
    }
}

TEST(Http2Session, PriorityOnAStreamIsSkippedAndAGracefulEndIsNoError) {
    Http2TestClient client;
    Http2Session server;
    const std::string priority_payload("\x00\x00\x00\x00\x10", 5);
    (void)server.receive(client.take_output() + frame(0x2, 0, 3, priority_payload));
    const auto stream = client.request("GET", "/after");
    exchange(client, server);
    const auto started = server.take_started_requests();
    ASSERT_EQ(started.size(), 1U);
    EXPECT_EQ(started[0].stream_id, stream);
    server.begin_shutdown();
    server.submit_reply(stream, Reply{.status = 200});
    exchange(client, server);
    EXPECT_EQ(client.goaway_code, NGHTTP2_NO_ERROR);
    EXPECT_FALSE(server.connection_error());
}

// The flood limits are set on the session explicitly, and nghttp2 must carry the fixes behind
// them (the build refuses headers without them): each flood ends the session with GOAWAY.
TEST(Http2Session, FloodsEndTheSessionWithGoaway) {
    struct Case {
        const char* name;
        std::string bytes;
        std::uint32_t code;
        const char* cause;
    };
    const Case cases[] = {
        // 1000 resets at once, then 33 a second.
        {"rapid reset", test::rapid_reset(1100), NGHTTP2_INTERNAL_ERROR,
         "sent GOAWAY INTERNAL_ERROR: the peer reset streams faster than the limit allows"},
        // At most 8 CONTINUATION frames per header block.
        {"endless CONTINUATION", test::endless_continuation(100), NGHTTP2_PROTOCOL_ERROR,
         "HTTP/2 input rejected: Too many CONTINUATION frames following a HEADER frame"},
        // At most 32 entries in one SETTINGS frame.
        {"SETTINGS with thousands of entries", test::settings_with_entries(2500), NGHTTP2_ENHANCE_YOUR_CALM,
         "sent GOAWAY ENHANCE_YOUR_CALM: SETTINGS: too many setting entries"},
        // At most 1000 acknowledgements queued: a peer that sends PINGs faster than it reads.
        {"PING flood", test::pings(1100), NGHTTP2_ENHANCE_YOUR_CALM,
         "HTTP/2 input rejected: Flooding was detected in this HTTP/2 session, and it must be closed"},
    };
    for (const auto& c : cases) {
        Http2Session server;
        (void)server.receive(c.bytes); // nothing is taken out in between: acknowledgements queue up
        const auto output = server.take_output();
        EXPECT_EQ(goaway_code_in(output), c.code) << c.name;
        EXPECT_EQ(server.connection_error(), std::optional<std::string>(c.cause)) << c.name;
        // Streams cut off by the GOAWAY may still finish; nothing more is read after they do.
        for (auto& started : server.take_started_requests()) {
            server.submit_reply(started.stream_id, Reply{.status = 404});
        }
        (void)server.take_output();
        EXPECT_FALSE(server.want_read()) << c.name;
    }
}

TEST(Http2Session, ShutdownAnnouncesGoawayAndFinishesTheOpenStream) {
    Http2TestClient client;
    Http2Session server;
    const auto first = client.request("GET", "/logs");
    exchange(client, server);
    ASSERT_EQ(server.take_started_requests().size(), 1u);

    server.begin_shutdown();
    exchange(client, server);
    EXPECT_EQ(client.goaway_code, NGHTTP2_NO_ERROR);
    EXPECT_EQ(client.goaway_last_stream, first);
    EXPECT_TRUE(server.want_read()); // the open stream still has to finish

    server.submit_reply(first, Reply{.status = 200, .body = "lines"});
    exchange(client, server);
    EXPECT_EQ(client.streams[first].body, "lines");
    EXPECT_FALSE(server.want_read());
    EXPECT_FALSE(server.want_write());
}

TEST(Http2Session, OversizedHeaderListResetsOnlyThatStream) {
    Http2TestClient client;
    Http2Session server;
    const auto big = client.request("GET", "/ping", {{"x-big", std::string(HTTP2_MAX_HEADER_LIST_SIZE, 'a')}});
    const auto small = client.request("GET", "/logs");
    exchange(client, server);

    const auto started = server.take_started_requests();
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(started[0].stream_id, small);
    EXPECT_TRUE(client.streams[big].reset_code.has_value());
    EXPECT_FALSE(client.goaway_code);
}

// nghttp2's allocator with a switch: the next `failures` allocations fail.
struct FailingMemory {
    int failures = 0;
    nghttp2_mem mem{this,
                    [](std::size_t size, void* self) -> void* {
                        auto& memory = *static_cast<FailingMemory*>(self);
                        if (memory.failures > 0) {
                            --memory.failures;
                            return nullptr;
                        }
                        return std::malloc(size);
                    },
                    [](void* pointer, void*) { std::free(pointer); },
                    [](std::size_t count, std::size_t size, void*) { return std::calloc(count, size); },
                    [](void* pointer, std::size_t size, void*) { return std::realloc(pointer, size); }};
};

std::size_t log_count(const std::string& line) {
    return static_cast<std::size_t>(std::ranges::count(helper_log().lines(), line));
}

TEST(Http2Session, RefusedReplyFailsItsStreamAndIsLogged) {
    for (const std::string body : {"", "a body"}) {
        SCOPED_TRACE(body);
        FailingMemory memory;
        Http2TestClient client;
        Http2Session server(&memory.mem);
        const auto refused = client.request("GET", "/a");
        const auto answered = client.request("GET", "/b");
        exchange(client, server);
        ASSERT_EQ(server.take_started_requests().size(), 2u);

        const std::string line =
            "Helper could not submit the reply on HTTP/2 stream " + std::to_string(refused) + ": Out of memory";
        const auto before = log_count(line);
        memory.failures = 1;
        server.submit_reply(refused, Reply{.status = 200, .body = body});
        EXPECT_EQ(log_count(line), before + 1);
        server.submit_reply(answered, Reply{.status = 200, .body = body});
        exchange(client, server);

        EXPECT_TRUE(client.streams[refused].closed);
        EXPECT_EQ(client.streams[refused].reset_code, NGHTTP2_INTERNAL_ERROR);
        EXPECT_FALSE(client.streams[refused].header(":status"));
        EXPECT_TRUE(client.streams[answered].closed);
        EXPECT_FALSE(client.streams[answered].reset_code);
        EXPECT_EQ(client.streams[answered].body, body);
        EXPECT_TRUE(server.want_read());
    }
}

TEST(Http2Session, StreamThatCannotEvenBeResetEndsTheConnection) {
    FailingMemory memory;
    Http2TestClient client;
    Http2Session server(&memory.mem);
    const auto id = client.request("GET", "/a");
    exchange(client, server);
    ASSERT_EQ(server.take_started_requests().size(), 1u);

    const std::string line =
        "Helper could not submit RST_STREAM on HTTP/2 stream " + std::to_string(id) + ": Out of memory";
    const auto before = log_count(line);
    memory.failures = 2;
    server.submit_reply(id, Reply{.status = 200});
    EXPECT_EQ(log_count(line), before + 1);
    EXPECT_FALSE(server.want_read());
    EXPECT_FALSE(server.want_write());
}

} // namespace
} // namespace quorvex::http
