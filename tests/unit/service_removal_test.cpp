#include "service/windows/service_installation.hpp"

#include "fake_service_manager.hpp"

#include <gtest/gtest.h>

#include <algorithm>

namespace quorvex::service {
namespace {

using namespace testing;
using Calls = std::vector<std::string>;

std::vector<std::string> os_chain(std::string context, std::int32_t code) {
    return {std::move(context), "IO error in winapi call",
            "system text " + std::to_string(code) + " (os error " + std::to_string(code) + ")"};
}

long count(const Calls& calls, const std::string& call) { return std::ranges::count(calls, call); }

class ServiceRemoval : public ::testing::Test {
protected:
    FakeClock clock;
    FakeScm scm{clock};
    FakePlatform platform{scm};

    void install_running() {
        scm.exists = true;
        scm.states = {SERVICE_STATE_RUNNING, SERVICE_STATE_STOP_PENDING, SERVICE_STATE_STOP_PENDING,
                      SERVICE_STATE_STOPPED};
    }
    Result<void> remove() {
        FakeManager manager(scm);
        auto result = remove_helper_service(manager, clock);
        EXPECT_EQ(scm.open_handles, 0);
        return result;
    }
};

TEST_F(ServiceRemoval, NeverInstalledOnlyOpensTheManagerAndTheService) {
    ASSERT_TRUE(uninstall_helper_service(platform, clock));
    EXPECT_EQ(scm.calls, (Calls{"open manager 1", "open service 0x10024", "close manager"}));
}

TEST_F(ServiceRemoval, RunningServiceGetsOneStopControlThenIsDeletedAndWaitedFor) {
    install_running();
    ASSERT_TRUE(remove());
    EXPECT_EQ(scm.calls, (Calls{"open service 0x10024", "query", "stop", "query", "query", "query", "delete",
                                "close service", "open service 0x4", "close manager"}));
    EXPECT_EQ(clock.sleeps, 3);
    EXPECT_FALSE(scm.exists);
}

TEST_F(ServiceRemoval, StopRefusedWhileStartingIsSentAgainUntilAccepted) {
    scm.exists = true;
    scm.states = {SERVICE_STATE_START_PENDING, SERVICE_STATE_START_PENDING, SERVICE_STATE_START_PENDING,
                  SERVICE_STATE_RUNNING,       SERVICE_STATE_STOP_PENDING,  SERVICE_STATE_STOPPED};
    const StopReply refused{SCM_ERROR_SERVICE_CANNOT_ACCEPT_CTRL};
    scm.stop_replies = {refused, refused, refused, StopReply{}};
    ASSERT_TRUE(remove());
    EXPECT_EQ(count(scm.calls, "stop"), 4);
    EXPECT_EQ(count(scm.calls, "query"), 6);
    EXPECT_EQ(count(scm.calls, "delete"), 1);
}

TEST_F(ServiceRemoval, NotActiveGoesStraightToDeletion) {
    scm.exists = true;
    scm.states = {SERVICE_STATE_RUNNING};
    scm.stop_replies = {StopReply{SCM_ERROR_SERVICE_NOT_ACTIVE}};
    ASSERT_TRUE(remove());
    EXPECT_EQ(scm.calls, (Calls{"open service 0x10024", "query", "stop", "delete", "close service", "open service 0x4",
                                "close manager"}));
}

TEST_F(ServiceRemoval, MarkedForDeletionIsOnlyWaitedFor) {
    scm.exists = true;
    scm.marked = true;
    scm.held_elsewhere_until = clock.now() + 250ms;
    ASSERT_TRUE(remove());
    EXPECT_EQ(scm.calls, (Calls{"open service 0x10024", "open service 0x4", "open service 0x4", "open service 0x4",
                                "open service 0x4", "close manager"}));
}

TEST_F(ServiceRemoval, HandleHeldElsewhereTimesOutAfterTenSeconds) {
    install_running();
    scm.held_elsewhere_until = Clock::time_point::max();
    scm.open_marked_fails = false; // each probe opens a handle, which must be closed again at once
    const auto started = clock.now();
    const auto result = remove();
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().links(), (std::vector<std::string>{"timed out waiting for helper service deletion"}));
    // The stop took 300 ms; the deletion wait its own 10 s.
    EXPECT_EQ(clock.now() - started, 10300ms);
    EXPECT_EQ(count(scm.calls, "open service 0x4"), 101);
    EXPECT_EQ(count(scm.calls, "close service"), 102);
}

TEST_F(ServiceRemoval, ServiceThatNeverStopsTimesOutNamingItsState) {
    scm.exists = true;
    scm.states = {SERVICE_STATE_RUNNING, SERVICE_STATE_STOP_PENDING};
    const auto result = remove();
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().links(),
              (std::vector<std::string>{"timed out waiting for helper service to stop from StopPending"}));
    EXPECT_EQ(count(scm.calls, "stop"), 1);
    EXPECT_EQ(count(scm.calls, "delete"), 0);
    EXPECT_EQ(clock.sleeps, 100);
}

TEST_F(ServiceRemoval, StartingServiceThatRefusesEveryStopTimesOutFromStartPending) {
    scm.exists = true;
    scm.states = {SERVICE_STATE_START_PENDING};
    scm.stop_replies = {StopReply{SCM_ERROR_SERVICE_CANNOT_ACCEPT_CTRL}};
    const auto result = remove();
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().text(), "timed out waiting for helper service to stop from StartPending");
    EXPECT_EQ(count(scm.calls, "stop"), 101);
}

TEST_F(ServiceRemoval, DeletionRacesAreNotFailures) {
    for (const std::int32_t code : {SCM_ERROR_SERVICE_DOES_NOT_EXIST, SCM_ERROR_SERVICE_MARKED_FOR_DELETE}) {
        FakeClock local_clock;
        FakeScm local{local_clock};
        local.exists = true;
        local.states = {SERVICE_STATE_STOPPED};
        local.delete_error = code;
        FakeManager manager(local);
        EXPECT_TRUE(remove_helper_service(manager, local_clock)) << code;
        EXPECT_FALSE(local.exists) << code;
    }
}

struct FailureCase {
    const char* name;
    void (*inject)(FakeScm&);
    std::vector<std::string> links;
};

TEST_F(ServiceRemoval, FailuresCarryTheirStepAndCause) {
    const FailureCase cases[] = {
        {"manager", [](FakeScm& s) { s.open_manager_error = 5; }, os_chain("open Windows service manager", 5)},
        {"open", [](FakeScm& s) { s.removal_open_error = 5; }, os_chain("open existing helper service", 5)},
        {"query", [](FakeScm& s) { s.query_error = 6; }, os_chain("query helper service before stopping", 6)},
        {"query state",
         [](FakeScm& s) { s.states = {9}; },
         {"query helper service before stopping", "unknown service state 9"}},
        {"stop", [](FakeScm& s) { s.stop_replies = {StopReply{5}}; }, os_chain("stop helper service", 5)},
        {"stop state",
         [](FakeScm& s) {
             s.stop_replies = {StopReply{std::nullopt, 0}};
         },
         {"stop helper service", "unknown service state 0"}},
        {"delete", [](FakeScm& s) { s.delete_error = 5; }, os_chain("delete helper service", 5)},
        {"probe", [](FakeScm& s) { s.probe_error = 5; }, os_chain("check helper service deletion", 5)},
    };
    for (const FailureCase& c : cases) {
        FakeClock local_clock;
        FakeScm local{local_clock};
        local.exists = true;
        local.states = {SERVICE_STATE_RUNNING, SERVICE_STATE_STOPPED};
        c.inject(local);
        FakePlatform local_platform{local};
        const auto result = uninstall_helper_service(local_platform, local_clock);
        ASSERT_FALSE(result) << c.name;
        EXPECT_EQ(result.error().links(), c.links) << c.name;
        EXPECT_EQ(local.open_handles, 0) << c.name;
        EXPECT_FALSE(local.manager_open) << c.name;
    }
}

} // namespace
} // namespace quorvex::service
