#include "service/hub/request_head.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace quorvex::hub {
namespace {

enum class Expect { pass, refuse, invalid };

Expect decide(const http::Headers& headers) {
    const auto outcome = check_request_gate(headers);
    if (std::holds_alternative<GatePass>(outcome)) {
        return Expect::pass;
    }
    if (std::holds_alternative<GateRefusal>(outcome)) {
        return Expect::refuse;
    }
    return Expect::invalid;
}

TEST(RequestGate, DecidesOnTheHostAlone) {
    const struct {
        std::string host;
        Expect expect;
    } cases[] = {
        {"localhost", Expect::pass},
        {"LocalHost", Expect::pass},
        {"lOcAlHoSt:8080", Expect::pass},
        {"127.0.0.1:49152", Expect::pass},
        {"QuorvexHelperService", Expect::pass},
        {"quorvexhelperservice:1", Expect::pass},
        {"user@localhost", Expect::pass},
        {"user:secret@localhost:80", Expect::pass},
        {"us%20er@127.0.0.1", Expect::pass}, // percent-encoding belongs to the user information
        {"a@b@localhost", Expect::pass},
        {"localhost:", Expect::pass},
        {"localhost:port", Expect::pass}, // the port is not examined
        {"[::1]", Expect::refuse},
        {"[::1]:80", Expect::refuse},
        {"[0:0:0:0:0:0:0:1]", Expect::refuse},
        {"::1", Expect::refuse},
        {"localhost.", Expect::refuse},
        {"127.0.0.2", Expect::refuse},
        {"example.com", Expect::refuse},
        {"localhost:1:2", Expect::refuse},
        {"localhost/ping", Expect::refuse},
        {"localhost?x", Expect::refuse},
        {"localhost#x", Expect::refuse},
        {"", Expect::refuse},
        {"local host", Expect::refuse},
        {"localhost\t", Expect::refuse},
        {"localhost@", Expect::refuse},
        {"%6cocalhost", Expect::refuse},
        {"localhost%", Expect::refuse},
        {"[localhost", Expect::refuse},
        {"localhost]", Expect::refuse},
        {"%[::1]", Expect::refuse},
        {"a:b:c:d:e:f:g:h:i:j@localhost", Expect::refuse}, // a ninth colon before any restart
        {"localhost\"", Expect::refuse},
        // A local name followed by more than a port of digits is read as a whole authority.
        {"127.0.0.10", Expect::refuse},
        {"localhost.example.com", Expect::refuse},
        {"127.0.0.1@example.com", Expect::refuse},
        {"localhost:80/x", Expect::refuse},
        {"localhost:8080 ", Expect::refuse},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(decide({{"Host", c.host}}), c.expect) << '"' << c.host << '"';
    }
}

TEST(RequestGate, RefusesEveryOriginAndBadBytesComeFirst) {
    const struct {
        http::Headers headers;
        Expect expect;
    } cases[] = {
        {{}, Expect::pass},
        {{{"x-quorvex-helper-protocol", "7"}, {"host", "localhost"}}, Expect::pass},
        {{{"origin", ""}}, Expect::refuse},
        {{{"Origin", "null"}, {"host", "localhost"}}, Expect::refuse},
        {{{"host", "localhost"}, {"ORIGIN", "http://localhost"}}, Expect::refuse},
        {{{"origin", "http://x\x80"}}, Expect::invalid},
        {{{"origin", "a\x01"}, {"host", "localhost"}}, Expect::invalid},
        {{{"host", "localhost\x7F"}}, Expect::invalid},
        {{{"host", "\xC3\xA9"}, {"origin", "http://evil"}}, Expect::invalid},
        {{{"host", "evil"}, {"origin", "caf\xC3\xA9"}}, Expect::invalid},
        // Only the first occurrence of each header counts.
        {{{"host", "localhost"}, {"host", "evil"}}, Expect::pass},
        {{{"host", "evil"}, {"host", "localhost"}}, Expect::refuse},
        {{{"host", "localhost"}, {"host", "\x80"}}, Expect::pass},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(decide(cases[i].headers), cases[i].expect) << i;
    }
}

TEST(BodyHeaders, DeclaredLengthIsOneDecimalNumber) {
    constexpr auto MAX = std::numeric_limits<std::uint64_t>::max();
    const struct {
        http::Headers headers;
        std::optional<std::uint64_t> length;
    } cases[] = {
        {{}, std::nullopt},
        {{{"transfer-encoding", "chunked"}}, std::nullopt},
        {{{"Content-Length", "12"}}, 12},
        {{{"content-length", " 0 "}}, 0},
        {{{"content-length", "4097"}}, 4097},
        {{{"content-length", "99999999999999999999999"}}, MAX},
        {{{"content-length", "10"}, {"content-length", "010"}}, 10},
        {{{"content-length", "10"}, {"content-length", "11"}}, std::nullopt},
        {{{"content-length", ""}}, std::nullopt},
        {{{"content-length", "1a"}}, std::nullopt},
        {{{"content-length", "-1"}}, std::nullopt},
        {{{"content-length", "+1"}}, std::nullopt},
        {{{"content-length", "1, 1"}}, std::nullopt},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(declared_body_length(cases[i].headers), cases[i].length) << i;
    }
}

TEST(BodyHeaders, ContentTypeIsAbsentOrJsonWithAnyParameters) {
    const struct {
        std::vector<std::string> values;
        bool accepted;
    } cases[] = {
        {{}, true},
        {{"application/json"}, true},
        {{"Application/JSON; charset=utf-8"}, true},
        {{"application/json;charset=\"utf-8\";q=\"a\\\"b\""}, true},
        {{"application/json ; a=b ;; "}, true},
        {{"application/json;"}, true},
        {{"text/plain"}, false},
        {{"application/jsonx"}, false},
        {{"application/json; charset"}, false},
        {{"application/json; charset="}, false},
        {{"application/json; a=\"open"}, false},
        {{"application /json"}, false},
        {{"application/"}, false},
        {{"application"}, false},
        {{""}, false},
        {{"application/json\x80"}, false},
        {{"application/json", "text/plain"}, false},
    };
    for (const auto& c : cases) {
        http::Headers headers;
        for (const auto& value : c.values) {
            headers.push_back({"Content-Type", value});
        }
        EXPECT_EQ(accepts_json_content_type(headers), c.accepted) << (c.values.empty() ? "" : c.values.front());
    }
}

TEST(PingQuery, ReadsExactlyOneCoreSha256AsFormData) {
    const struct {
        std::string target;
        std::optional<std::string> digest;
    } cases[] = {
        {"/ping?coreSha256=abc", "abc"},
        {"/ping/?&&coreSha256=abc&", "abc"},
        {"/ping?coreSha256", ""},
        {"/ping?coreSha256=", ""},
        {"/ping?coreSha256=a=b", "a=b"},
        {"/ping?core%53ha256=abc", "abc"},
        {"/ping?coreSha256=a+b%2Bc", "a b+c"},
        {"/ping?coreSha256=%zz%4%", "%zz%4%"},
        {"/ping?coreSha256=%41%62", "Ab"},
        {"/ping?coreSha256=%ff%C3%A9", "\xEF\xBF\xBD\xC3\xA9"},
        {"/ping?coreSha256=a?b", "a?b"},
        {"/ping", std::nullopt},
        {"/ping?", std::nullopt},
        {"/ping?&", std::nullopt},
        {"/ping?coreSha256=a&other=1", std::nullopt},
        {"/ping?other&coreSha256=a", std::nullopt},
        {"/ping?coreSha256=a&coreSha256=a", std::nullopt},
        {"/ping?CoreSha256=a", std::nullopt},
        {"/ping?coreSha256+=a", std::nullopt},
    };
    for (const auto& c : cases) {
        const auto query = read_ping_query(c.target);
        ASSERT_EQ(query.has_value(), c.digest.has_value()) << c.target;
        if (query) {
            EXPECT_EQ(query->core_sha256, *c.digest) << c.target;
        }
    }
}

} // namespace
} // namespace quorvex::hub
