#include "service/hub/body_headers.hpp"
#include "service/hub/request_body.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace quorvex::hub {
namespace {

TEST(RequestBody, StartParamsAreTwoStringsAsObjectOrArray) {
    const struct {
        std::string body;
        bool accepted;
    } cases[] = {
        {R"({"address":"a","sessionId":"s"})", true},
        {" \r\n\t{ \"sessionId\" : \"s\" , \"address\" : \"a\" } \n", true},
        {R"(["a","s"])", true},
        {R"({"address":"\u0061","sessionId":"s"})", true},
        {R"(["a"])", false},
        {R"(["a","s","x"])", false},
        {R"([])", false},
        {R"({"address":"a"})", false},
        {R"({"address":"a","sessionId":"s","x":"y"})", false},
        {R"({"address":"a","sessionId":"s","sessionId":"t"})", false},
        {R"({"address":"a","session\u0049d":"s","sessionId":"t"})", false},
        {R"({"address":"a","sessionId":1})", false},
        {R"({"address":"a","sessionId":null})", false},
        {R"({"address":"a","sessionId":true})", false},
        {R"({"address":"a","sessionId":["s"]})", false},
        {R"({"address":"a","sessionId":{}})", false},
        {R"({"Address":"a","sessionId":"s"})", false},
        {R"(["a",["s"]])", false},
        {R"("a")", false},
        {"", false},
        {"   ", false},
        {R"({"address":"a","sessionId":"s"} x)", false},
        {R"({"address":"a","sessionId":"s"}{})", false},
        {R"({"address":"a","sessionId":"s",})", false},
        {R"(/*c*/{"address":"a","sessionId":"s"})", false},
        {"{\"address\":\"a\",\"sessionId\":\"\xFF\"}", false},
    };
    for (const auto& c : cases) EXPECT_EQ(parse_start_params(c.body).has_value(), c.accepted) << c.body;
}

TEST(RequestBody, FieldValuesAreTheDecodedStrings) {
    const auto start = parse_start_params(R"(["\\\\.\\pipe\\x","s\u00e9"])");
    ASSERT_TRUE(start);
    EXPECT_EQ(start->address, R"(\\.\pipe\x)");
    EXPECT_EQ(start->session_id, "s\xC3\xA9");

    const auto by_name = parse_start_params(R"({"sessionId":"s","address":"a"})");
    ASSERT_TRUE(by_name);
    EXPECT_EQ(by_name->address, "a");
    EXPECT_EQ(by_name->session_id, "s");

    EXPECT_EQ(parse_stop_params(R"({"sessionId":"abc"})")->session_id, "abc");
    EXPECT_EQ(parse_stop_params(R"(["abc"])")->session_id, "abc");
    EXPECT_FALSE(parse_stop_params(R"({"sessionId":"a","address":"b"})"));
    EXPECT_FALSE(parse_stop_params(R"(["a","b"])"));
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
    for (std::size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(declared_body_length(cases[i].headers), cases[i].length) << i;
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
        for (const auto& value : c.values) headers.push_back({"Content-Type", value});
        EXPECT_EQ(accepts_json_content_type(headers), c.accepted) << (c.values.empty() ? "" : c.values.front());
    }
}

} // namespace
} // namespace quorvex::hub
