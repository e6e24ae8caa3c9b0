#include "service/hub/request_body.hpp"

#include <gtest/gtest.h>

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
    for (const auto& c : cases) {
        EXPECT_EQ(parse_start_params(c.body).has_value(), c.accepted) << c.body;
    }
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

} // namespace
} // namespace quorvex::hub
