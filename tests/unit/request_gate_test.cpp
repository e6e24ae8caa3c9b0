#include "service/hub/request_gate.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quorvex::hub {
namespace {

enum class Expect { pass, refuse, invalid };

Expect decide(const http::Headers& headers) {
    const auto outcome = check_request_gate(headers);
    if (std::holds_alternative<GatePass>(outcome)) return Expect::pass;
    if (std::holds_alternative<GateRefusal>(outcome)) return Expect::refuse;
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
    };
    for (const auto& c : cases) EXPECT_EQ(decide({{"Host", c.host}}), c.expect) << '"' << c.host << '"';
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
    for (std::size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(decide(cases[i].headers), cases[i].expect) << i;
}

} // namespace
} // namespace quorvex::hub
