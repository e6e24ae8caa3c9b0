#include "service/windows/service_installation.hpp"

#include "fake_service_manager.hpp"

#include <gtest/gtest.h>

#include <algorithm>

namespace quorvex::service {
namespace {

using namespace testing;
using Calls = std::vector<std::string>;
using Links = std::vector<std::string>;

Links os_chain(std::string context, std::int32_t code) {
    return {std::move(context), "IO error in winapi call",
            "system text " + std::to_string(code) + " (os error " + std::to_string(code) + ")"};
}

TEST(QuoteServiceArgument, QuotesOnlyWhatTheRuntimeWouldSplitOrUnescape) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"C:\\Quorvex\\QuorvexHelper.exe", "C:\\Quorvex\\QuorvexHelper.exe"},
        {"", ""},
        {"C:\\Program Files\\Q.exe", "\"C:\\Program Files\\Q.exe\""},
        {"a\tb", "\"a\tb\""},
        {"a\nb", "\"a\nb\""},
        {"a\vb", "\"a\vb\""},
        {"say \"hi\"", "\"say \\\"hi\\\"\""},
        {"a\\\\\"b", "\"a\\\\\\\\\\\"b\""},         // two backslashes before a quote: five, then the quote
        {"C:\\dir name\\", "\"C:\\dir name\\\\\""}, // trailing backslash doubled before the closing quote
        {"x y\\\\\\", "\"x y\\\\\\\\\\\\\""},       // three trailing become six
        {"a\\\\b c", "\"a\\\\b c\""},               // backslashes before another character stay
    };
    for (const auto& [text, quoted] : cases) {
        EXPECT_EQ(quote_service_argument(text), quoted) << text;
    }
}

class ServiceInstallation : public ::testing::Test {
protected:
    FakeClock clock;
    FakeScm scm{clock};
    FakePlatform platform{scm};

    void SetUp() override {
        scm.states_after_create = {SERVICE_STATE_START_PENDING, SERVICE_STATE_START_PENDING, SERVICE_STATE_RUNNING};
    }
    Result<void> install() {
        auto result = install_helper_service(4242, platform, clock);
        EXPECT_EQ(scm.open_handles, 0);
        EXPECT_FALSE(scm.manager_open);
        return result;
    }
};

TEST_F(ServiceInstallation, RegistersStartsAndWaitsInOrder) {
    ASSERT_TRUE(install());
    EXPECT_EQ(scm.calls, (Calls{"account 4242", "open manager 3", "open service 0x10024", "own path", "create",
                                "configure", "start", "query", "query", "query", "close service", "close manager"}));
    EXPECT_EQ(clock.sleeps, 2);

    ServiceRegistration expected{
        .name = "QuorvexHelperService",
        .display_name = "QuorvexHelperService",
        .access = 0x16,
        .service_type = 0x10,
        .start_type = 2,
        .error_control = 1,
        .binary_path = "\"C:\\Program Files\\Quorvex\\QuorvexHelper.exe\" --owner-sid S-1-5-21-7-8-9-500",
        .account = std::nullopt,
    };
    EXPECT_EQ(scm.created, expected);
    const ServiceFailureAction restart{1, 5000};
    EXPECT_EQ(scm.failure_actions, (ServiceFailureActions{86400, {restart, restart, restart}}));
}

TEST_F(ServiceInstallation, PathWithoutSpacesIsNotQuoted) {
    platform.path = "C:\\Quorvex\\QuorvexHelper.exe";
    ASSERT_TRUE(install());
    EXPECT_EQ(scm.created->binary_path, "C:\\Quorvex\\QuorvexHelper.exe --owner-sid S-1-5-21-7-8-9-500");
}

TEST_F(ServiceInstallation, ReplacesARunningRegistrationBeforeCreating) {
    scm.exists = true;
    scm.states = {SERVICE_STATE_RUNNING, SERVICE_STATE_STOP_PENDING, SERVICE_STATE_STOPPED};
    ASSERT_TRUE(install());
    const Calls removal{"open service 0x10024", "query",    "stop",  "query", "query", "delete", "close service",
                        "open service 0x4",     "own path", "create"};
    // std::ranges::search does not build with clang 14 over libstdc++ 12.
    EXPECT_NE(std::search(scm.calls.begin(), scm.calls.end(), removal.begin(), removal.end()), scm.calls.end())
        << ::testing::PrintToString(scm.calls);
}

TEST_F(ServiceInstallation, AlreadyRunningStartIsNotAFailure) {
    scm.start_error = SCM_ERROR_SERVICE_ALREADY_RUNNING;
    scm.states_after_create = {SERVICE_STATE_RUNNING};
    ASSERT_TRUE(install());
    EXPECT_EQ(std::ranges::count(scm.calls, "query"), 1);
}

TEST_F(ServiceInstallation, OwnerAccountIsReadBeforeTheManagerIsOpened) {
    platform.account_error = 87;
    const auto result = install();
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().links(), (Links{"read the account of process 4242", "system text 87 (os error 87)"}));
    EXPECT_EQ(scm.calls, (Calls{"account 4242"}));
}

struct FailureCase {
    const char* name;
    void (*inject)(FakeScm&, FakePlatform&);
    Links links;
    const char* skipped; // the first step after the failing one, never reached
};

TEST_F(ServiceInstallation, FailuresCarryTheirStepAndCause) {
    const FailureCase cases[] = {
        {"manager", [](FakeScm& s, FakePlatform&) { s.open_manager_error = 5; },
         os_chain("open Windows service manager", 5), "open service 0x10024"},
        {"removal", [](FakeScm& s, FakePlatform&) { s.removal_open_error = 5; },
         os_chain("open existing helper service", 5), "own path"},
        {"path",
         [](FakeScm&, FakePlatform& p) { p.path_error = 122; },
         {"resolve helper executable path", "system text 122 (os error 122)"},
         "create"},
        {"create", [](FakeScm& s, FakePlatform&) { s.create_error = 5; }, os_chain("create helper service", 5),
         "configure"},
        {"configure", [](FakeScm& s, FakePlatform&) { s.configure_error = 5; },
         os_chain("configure helper service recovery", 5), "start"},
        {"start", [](FakeScm& s, FakePlatform&) { s.start_error = 1053; }, os_chain("start helper service", 1053),
         "query"},
        {"query", [](FakeScm& s, FakePlatform&) { s.query_error = 6; },
         os_chain("query helper service after starting", 6), nullptr},
        {"query state",
         [](FakeScm& s, FakePlatform&) { s.states_after_create = {0}; },
         {"query helper service after starting", "unknown service state 0"},
         nullptr},
        {"stopped",
         [](FakeScm& s, FakePlatform&) {
             s.states_after_create = {2, 1};
         },
         {"helper service stopped during startup"},
         nullptr},
        {"timeout",
         [](FakeScm& s, FakePlatform&) { s.states_after_create = {2}; },
         {"timed out waiting for helper service to run from StartPending"},
         nullptr},
    };
    for (const FailureCase& c : cases) {
        FakeClock local_clock;
        FakeScm local{local_clock};
        FakePlatform local_platform{local};
        local.states_after_create = {SERVICE_STATE_RUNNING};
        c.inject(local, local_platform);
        const auto result = install_helper_service(4242, local_platform, local_clock);
        ASSERT_FALSE(result) << c.name;
        EXPECT_EQ(result.error().links(), c.links) << c.name;
        EXPECT_EQ(local.open_handles, 0) << c.name;
        EXPECT_FALSE(local.manager_open) << c.name;
        if (c.skipped) {
            EXPECT_EQ(std::ranges::count(local.calls, c.skipped), 0) << c.name;
        }
        // Nothing is undone: a created service stays registered.
        EXPECT_EQ(std::ranges::count(local.calls, "delete"), 0) << c.name;
    }
}

TEST_F(ServiceInstallation, RunWaitGivesUpAfterTenSecondsOfPolling) {
    scm.states_after_create = {SERVICE_STATE_START_PENDING};
    const auto started = clock.now();
    ASSERT_FALSE(install());
    EXPECT_EQ(clock.now() - started, 10000ms);
    EXPECT_EQ(std::ranges::count(scm.calls, "query"), 101);
}

} // namespace
} // namespace quorvex::service
