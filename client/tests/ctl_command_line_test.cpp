#include "client/ctl/ctl_command_line.hpp"

#include "client/session_tokens.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quorvex::client::ctl {
namespace {

const std::string DIGEST(64, 'a');
const std::string SESSION = "0123456789abcdef0123456789abcdef";

Result<CtlCommand> parse(std::vector<std::string> args) { return parse_ctl_command(args); }

TEST(CtlCommandLine, EachCommandWithItsOptions) {
    const auto status = parse({"status", "--json"});
    ASSERT_TRUE(status);
    EXPECT_EQ(status->verb, CtlVerb::Status);
    EXPECT_TRUE(status->json);
    EXPECT_EQ(status->core_sha256, std::nullopt);

    const auto ping = parse({"ping", "--core-sha256", DIGEST});
    ASSERT_TRUE(ping);
    EXPECT_EQ(ping->core_sha256, DIGEST);
    EXPECT_FALSE(ping->json);

    const auto stop = parse({"stop", "--json", "--session", SESSION});
    ASSERT_TRUE(stop);
    EXPECT_EQ(stop->verb, CtlVerb::Stop);
    EXPECT_EQ(stop->session_id, SESSION);

    const auto logs = parse({"logs", "--follow"});
    ASSERT_TRUE(logs);
    EXPECT_TRUE(logs->follow);
    EXPECT_EQ(parse({"doctor"})->verb, CtlVerb::Doctor);
    EXPECT_EQ(parse({"start"})->verb, CtlVerb::Start);
}

TEST(CtlCommandLine, UsageErrorsNameTheProblem) {
    const struct {
        std::vector<std::string> args;
        const char* text;
    } cases[] = {
        {{}, "no command given"},
        {{"install"}, "unknown command \"install\""},
        {{"stop"}, "stop needs --session <session ID>"},
        {{"stop", "--session"}, "--session needs a session ID"},
        {{"stop", "--session", "0123456789ABCDEF0123456789abcdef"}, "--session takes 32 lowercase hexadecimal digits"},
        {{"ping", "--core-sha256", DIGEST.substr(1)}, "--core-sha256 takes 64 lowercase hexadecimal digits"},
        {{"start", "--follow"}, "unexpected argument \"--follow\" for start"},
        {{"logs", "--core-sha256", DIGEST}, "unexpected argument \"--core-sha256\" for logs"},
        {{"status", "--json", "--json"}, "unexpected argument \"--json\" for status"},
        {{"stop", "--session", SESSION, "--session", SESSION}, "unexpected argument \"--session\" for stop"},
    };
    for (const auto& c : cases) {
        const auto parsed = parse(c.args);
        ASSERT_FALSE(parsed) << c.text;
        EXPECT_EQ(parsed.error().text(), c.text);
    }
}

TEST(CtlExitCodes, OneCodePerKindOfTrouble) {
    EXPECT_EQ(exit_code_of(ClientErrorKind::ServiceNotInstalled), EXIT_NOT_INSTALLED);
    for (const auto kind :
         {ClientErrorKind::ServiceNotRunning, ClientErrorKind::ServiceProcessGone, ClientErrorKind::NoPortPublished}) {
        EXPECT_EQ(exit_code_of(kind), EXIT_NOT_RUNNING) << kind_name(kind);
    }
    for (const auto kind : {ClientErrorKind::StalePort, ClientErrorKind::NoListener, ClientErrorKind::ListenerNotHelper,
                            ClientErrorKind::ConnectionNotHelper}) {
        EXPECT_EQ(exit_code_of(kind), EXIT_NOT_VERIFIED) << kind_name(kind);
    }
    EXPECT_EQ(exit_code_of(ClientErrorKind::ConnectionRefused), EXIT_REFUSED_ACCOUNT);
    EXPECT_EQ(exit_code_of(ClientErrorKind::CoreSha256Mismatch), EXIT_REQUEST_REFUSED);
    EXPECT_EQ(exit_code_of(ClientErrorKind::SystemError), EXIT_FAILED);
}

TEST(SessionTokens, ChecksTheFormOfSessionIdsAndDigests) {
    EXPECT_TRUE(check_session_id(SESSION));
    EXPECT_EQ(check_session_id(std::string(32, 'A')).error().kind, ClientErrorKind::InvalidArgument);
    EXPECT_EQ(check_session_id("0123").error().kind, ClientErrorKind::InvalidArgument);
    EXPECT_EQ(check_core_sha256(DIGEST + "a").error().kind, ClientErrorKind::InvalidArgument);
}

} // namespace
} // namespace quorvex::client::ctl
