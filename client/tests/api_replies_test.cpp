// Replies as docs/api.md gives them, byte for byte, turned into results and typed errors.

#include "client/api_replies.hpp"

#include <boost/asio/error.hpp>
#include <boost/beast/http/error.hpp>

#include <gtest/gtest.h>

namespace quorvex::client {
namespace {

const std::optional<std::string> PROTOCOL = std::string("8");

TEST(PingReply, PathAndProtocolOrTheMismatch) {
    const auto ok = ping_result({200, PROTOCOL, "C:\\Program Files\\Quorvex\\QuorvexHelper.exe"});
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->helper_path, "C:\\Program Files\\Quorvex\\QuorvexHelper.exe");
    EXPECT_EQ(ok->protocol, "8");

    const auto mismatch =
        ping_result({409, PROTOCOL, R"j({"code":"coreSha256Mismatch","message":"Core SHA256 mismatch"})j"});
    ASSERT_FALSE(mismatch);
    EXPECT_EQ(mismatch.error().kind, ClientErrorKind::CoreSha256Mismatch);
    EXPECT_EQ(
        mismatch.error().error.links(),
        (std::vector<std::string>{"the helper refused to ping (409 coreSha256Mismatch)", "Core SHA256 mismatch"}));

    const auto missing = ping_result({409, PROTOCOL, "The system cannot find the file specified. (os error 2)"});
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().kind, ClientErrorKind::CoreFileUnavailable);
    EXPECT_EQ(missing.error().error.links().back(), "The system cannot find the file specified. (os error 2)");
}

TEST(PingReply, AnotherProtocolOrNoneIsAMismatchEvenOnSuccess) {
    for (const auto& protocol : {std::optional<std::string>("9"), std::optional<std::string>()}) {
        const auto other = ping_result({200, protocol, "C:\\helper.exe"});
        ASSERT_FALSE(other);
        EXPECT_EQ(other.error().kind, ClientErrorKind::ProtocolMismatch);
    }
}

TEST(StartReply, SessionAndPidOrTheTypedError) {
    const auto ok = start_result({200, {}, R"j({"sessionId":"0123456789abcdef0123456789abcdef","pid":4321})j"});
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->session_id, "0123456789abcdef0123456789abcdef");
    EXPECT_EQ(ok->pid, 4321u);

    const struct {
        unsigned status;
        const char* body;
        ClientErrorKind kind;
    } errors[] = {
        {409, R"j({"code":"coreVerificationFailed","message":"Core executable SHA256 mismatch"})j",
         ClientErrorKind::CoreVerificationFailed},
        {500, R"j({"code":"coreStopFailed","message":"Access is denied. (os error 5)"})j",
         ClientErrorKind::CoreStopFailed},
        {500, R"j({"code":"internalError","message":"Core confinement failed: x"})j", ClientErrorKind::InternalError},
        {400, R"j({"code":"invalidRequest","message":"invalid Core session ID"})j", ClientErrorKind::InvalidRequest},
        {403, R"j({"code":"invalidRequest","message":"browser origins and non-local hosts are not allowed"})j",
         ClientErrorKind::InvalidRequest},
        {404, R"j({"code":"notFound","message":"Helper endpoint not found"})j", ClientErrorKind::InvalidRequest},
        {500, R"j({"code":"somethingNew","message":"?"})j", ClientErrorKind::UnexpectedReply},
        {502, "<html>bad gateway</html>", ClientErrorKind::UnexpectedReply},
        {200, R"j({"sessionId":"0123456789abcdef0123456789abcdef","pid":0})j", ClientErrorKind::UnexpectedReply},
        {200, R"j({"sessionId":"0123456789abcdef0123456789abcdef","pid":"12"})j", ClientErrorKind::UnexpectedReply},
    };
    for (const auto& error : errors) {
        const auto result = start_result({error.status, {}, error.body});
        ASSERT_FALSE(result) << error.body;
        EXPECT_EQ(result.error().kind, error.kind) << error.body;
    }
}

TEST(StartReply, ALaunchFailureCarriesItsOsError) {
    const auto failed = start_result(
        {500, {}, R"j({"code":"processLaunchFailed","message":"Access is denied.","details":{"osError":5}})j"});
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error().kind, ClientErrorKind::ProcessLaunchFailed);
    EXPECT_EQ(failed.error().error.os_code(), 5);
    EXPECT_EQ(failed.error().error.links().back(), "Access is denied. (os error 5)");
}

TEST(StopReply, EachDocumentedOutcome) {
    const std::string session = R"j("sessionId":"0123456789abcdef0123456789abcdef")j";
    EXPECT_EQ(stop_result({200, {}, "{" + session + R"j(,"stopped":true})j"}), StopResult::Stopped);
    EXPECT_EQ(stop_result({200, {}, "{" + session + R"j(,"stopped":false,"reason":"notRunning"})j"}),
              StopResult::NotRunning);
    EXPECT_EQ(stop_result({409, {}, "{" + session + R"j(,"stopped":false,"reason":"sessionMismatch"})j"}),
              StopResult::SessionMismatch);

    const auto failed = stop_result({500, {}, R"j({"code":"coreStopFailed","message":"Access is denied."})j"});
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error().kind, ClientErrorKind::CoreStopFailed);
    // Outcomes the API does not have: a reason with the wrong status, a stop that names one.
    for (const auto& odd : {HttpReply{409, {}, "{" + session + R"j(,"stopped":false,"reason":"notRunning"})j"},
                            HttpReply{200, {}, "{" + session + R"j(,"stopped":true,"reason":"notRunning"})j"},
                            HttpReply{200, {}, "{" + session + R"j(,"stopped":"yes"})j"}}) {
        const auto result = stop_result(odd);
        ASSERT_FALSE(result) << odd.body;
        EXPECT_EQ(result.error().kind, ClientErrorKind::UnexpectedReply) << odd.body;
    }
}

TEST(RequestBodies, AsTheHelperParsesThem) {
    EXPECT_EQ(start_body("\\\\.\\pipe\\QuorvexCore_0123", "abcd"),
              R"j({"address":"\\\\.\\pipe\\QuorvexCore_0123","sessionId":"abcd"})j");
    EXPECT_EQ(stop_body("abcd"), R"j({"sessionId":"abcd"})j");
}

TEST(ReplyReadErrors, OnlyBadBytesAreAMalformedReplyTheRestABrokenConnection) {
    namespace http = boost::beast::http;
    // The largest logs the helper sends fit; a reply beyond the limit is not the helper's.
    EXPECT_TRUE(is_malformed_reply(http::error::body_limit));
    EXPECT_TRUE(is_malformed_reply(http::error::header_limit));
    EXPECT_TRUE(is_malformed_reply(http::error::bad_version));
    EXPECT_FALSE(is_malformed_reply(http::error::end_of_stream));
    EXPECT_FALSE(is_malformed_reply(http::error::partial_message));
    EXPECT_FALSE(is_malformed_reply(boost::asio::error::connection_reset));
    EXPECT_FALSE(is_malformed_reply(boost::asio::error::timed_out));
}

} // namespace
} // namespace quorvex::client
