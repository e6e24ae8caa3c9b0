#include "service/hub/core_supervisor.hpp"

#include "fake_core_platform.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <stdexcept>
#include <thread>

namespace quorvex::hub {
namespace {

using namespace std::chrono_literals;
using testing::FAKE_CORE_PATH;
using testing::FAKE_HELPER_PATH;
using Events = std::vector<std::string>;

const std::string S1 = "0123456789abcdef0123456789abcdef";
const std::string S2 = "fedcba9876543210fedcba9876543210";
const std::string A1 = std::string(CORE_PIPE_PREFIX) + "00000000000000000000000000000001";
const std::string A2 = std::string(CORE_PIPE_PREFIX) + "00000000000000000000000000000002";
const Error ACCESS_DENIED = Error::os(5, "Access is denied.");
const Error NOT_FOUND = Error::os(2, "The system cannot find the file specified.");
const std::string DID_NOT_EXIT = "Core did not exit after termination";

class CoreSupervisorTest : public ::testing::Test {
protected:
    Started start(const std::string& session, const std::string& address = A1) {
        StartOutcome outcome = supervisor.start_core(address, session);
        EXPECT_TRUE(std::holds_alternative<Started>(outcome)) << "outcome " << outcome.index();
        return std::holds_alternative<Started>(outcome) ? std::get<Started>(outcome) : Started{};
    }
    testing::FakeCoreState& core(std::size_t index) { return *platform.cores.at(index); }
    // Runs `call` on another thread and says whether it finished within 5 s: a call that needs
    // a lock this thread holds cannot. Such a call is left to finish once the lock is free.
    template <class Call>
    bool finishes_while_caller_waits(Call call) {
        pending.push_back(std::async(std::launch::async, [call] { (void)call(); }));
        return pending.back().wait_for(5s) == std::future_status::ready;
    }

    testing::FakeCorePlatform platform;
    HelperLog log;
    testing::FakeClock clock;
    std::vector<std::pair<std::string, std::unique_ptr<CoreOutput>>> relays;
    CoreSupervisor supervisor{platform, log, clock, [this](std::string session, std::unique_ptr<CoreOutput> output) {
                                  platform.events.add("relay " + session);
                                  relays.emplace_back(std::move(session), std::move(output));
                              }};
    std::vector<std::future<void>> pending; // finished before the supervisor goes
};

TEST_F(CoreSupervisorTest, StartConfinesTheSuspendedCoreAndStartsItsRelayBeforeItRuns) {
    const Started started = start(S1);
    EXPECT_EQ(started.session_id, S1);
    EXPECT_EQ(started.pid, 1001u);
    EXPECT_EQ(platform.events.all(), (Events{"resolve", "verify " + FAKE_CORE_PATH, "launch " + A1, "confine 1001",
                                             "relay " + S1, "resume 1001", "close file"}));
    EXPECT_TRUE(core(0).resumed);
    EXPECT_EQ(supervisor.managed_session_id(), S1);
    ASSERT_EQ(relays.size(), 1u);
    EXPECT_EQ(relays[0].first, S1);
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(CoreSupervisorTest, BadParametersAreRefusedBeforeAnythingHappens) {
    const std::string upper_session = "0123456789ABCDEF0123456789ABCDEF";
    const std::string upper_address = std::string(CORE_PIPE_PREFIX) + "0000000000000000000000000000000A";
    // The address is judged first: with both bad, the address is the refusal.
    struct Case {
        std::string address, session;
        bool bad_address;
    };
    for (const Case& c : {Case{upper_address, S1, true}, Case{upper_address, upper_session, true},
                          Case{A1, upper_session, false}, Case{A1, S1.substr(1), false}}) {
        const StartOutcome outcome = supervisor.start_core(c.address, c.session);
        EXPECT_EQ(std::holds_alternative<InvalidAddress>(outcome), c.bad_address) << c.address << " " << c.session;
        EXPECT_EQ(std::holds_alternative<InvalidSessionId>(outcome), !c.bad_address) << c.address << " " << c.session;
    }
    EXPECT_TRUE(std::holds_alternative<InvalidSessionId>(supervisor.stop_core(upper_session)));
    EXPECT_TRUE(platform.events.all().empty());
}

TEST_F(CoreSupervisorTest, StopWithoutCoreIsNotRunning) {
    const StopOutcome outcome = supervisor.stop_core(S1);
    ASSERT_TRUE(std::holds_alternative<NotRunning>(outcome));
    EXPECT_EQ(std::get<NotRunning>(outcome).session_id, S1);
    EXPECT_TRUE(platform.events.all().empty());
}

TEST_F(CoreSupervisorTest, StopOfAnotherSessionLeavesTheCoreThenTheRightOneEndsIt) {
    start(S1);
    platform.events.clear();

    const StopOutcome mismatch = supervisor.stop_core(S2);
    ASSERT_TRUE(std::holds_alternative<SessionMismatch>(mismatch));
    EXPECT_EQ(std::get<SessionMismatch>(mismatch).session_id, S2);
    EXPECT_TRUE(platform.events.all().empty());
    EXPECT_EQ(supervisor.managed_session_id(), S1);

    const StopOutcome stopped = supervisor.stop_core(S1);
    ASSERT_TRUE(std::holds_alternative<Stopped>(stopped));
    EXPECT_EQ(std::get<Stopped>(stopped).session_id, S1);
    // Terminated with exit code 1; the record then closes process, thread and job in that order.
    EXPECT_EQ(platform.events.without_queries(),
              (Events{"terminate 1001 1", "close process 1001", "close thread 1001", "close job 1001"}));
    EXPECT_EQ(supervisor.managed_session_id(), std::nullopt);
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(CoreSupervisorTest, SecondStartEndsTheRunningCoreBeforeLocatingTheFile) {
    for (const std::string& second : {S1, S2}) {
        SCOPED_TRACE(second);
        supervisor.stop_core_on_shutdown();
        start(S1);
        const std::uint32_t old_pid = platform.cores.back()->pid;
        platform.events.clear();

        const Started started = start(second, A2);
        const std::string pid = std::to_string(old_pid);
        const Events events = platform.events.without_queries();
        ASSERT_GE(events.size(), 5u);
        EXPECT_EQ(Events(events.begin(), events.begin() + 5),
                  (Events{"terminate " + pid + " 1", "close process " + pid, "close thread " + pid, "close job " + pid,
                          "resolve"}));
        EXPECT_EQ(supervisor.managed_session_id(), second);
        EXPECT_EQ(started.pid, old_pid + 1);
    }
}

TEST_F(CoreSupervisorTest, FailedVerificationAfterReleaseLeavesTheSlotEmpty) {
    start(S1);
    platform.verify_error = Error::message("Core executable SHA256 mismatch");

    const StartOutcome outcome = supervisor.start_core(A2, S2);
    ASSERT_TRUE(std::holds_alternative<VerificationFailed>(outcome));
    EXPECT_EQ(std::get<VerificationFailed>(outcome).text, "Core executable SHA256 mismatch");
    EXPECT_TRUE(core(0).terminated);
    EXPECT_EQ(supervisor.managed_session_id(), std::nullopt);
    EXPECT_EQ(platform.cores.size(), 1u);
    EXPECT_TRUE(log.lines().empty());
    EXPECT_TRUE(std::holds_alternative<NotRunning>(supervisor.stop_core(S1)));
}

TEST_F(CoreSupervisorTest, ResolveFailureIsAVerificationFailure) {
    platform.resolve_error = ACCESS_DENIED;
    const StartOutcome outcome = supervisor.start_core(A1, S1);
    ASSERT_TRUE(std::holds_alternative<VerificationFailed>(outcome));
    EXPECT_EQ(std::get<VerificationFailed>(outcome).text, ACCESS_DENIED.text());
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(CoreSupervisorTest, CoreThatIgnoresTerminationStaysManaged) {
    platform.next_core.ends_on_terminate = false;
    start(S1);
    platform.events.clear();

    const StopOutcome stop = supervisor.stop_core(S1);
    ASSERT_TRUE(std::holds_alternative<StopFailed>(stop));
    EXPECT_EQ(std::get<StopFailed>(stop).text, DID_NOT_EXIT);
    EXPECT_EQ(log.lines(), (Events{"Helper could not stop the managed Core: " + DID_NOT_EXIT}));
    // Polled every 20 ms until 1.5 s had passed, never beyond.
    EXPECT_EQ(clock.elapsed, 1500ms);
    EXPECT_EQ(clock.sleeps, std::vector<std::chrono::milliseconds>(75, 20ms));
    EXPECT_EQ(core(0).queries, 76);

    const StartOutcome restart = supervisor.start_core(A2, S2);
    ASSERT_TRUE(std::holds_alternative<ReleaseFailed>(restart));
    EXPECT_EQ(std::get<ReleaseFailed>(restart).text, DID_NOT_EXIT);
    EXPECT_EQ(log.lines().back(), "Helper could not release the managed Core: " + DID_NOT_EXIT);
    EXPECT_EQ(log.lines().size(), 2u);

    // Nothing was closed, located or launched; a later stop tries again.
    EXPECT_EQ(platform.events.without_queries(), (Events{"terminate 1001 1", "terminate 1001 1"}));
    EXPECT_EQ(supervisor.managed_session_id(), S1);
    core(0).ends_on_terminate = true;
    EXPECT_TRUE(std::holds_alternative<Stopped>(supervisor.stop_core(S1)));
}

TEST_F(CoreSupervisorTest, CoreEndingWithinTheWaitIsStopped) {
    platform.next_core.running_polls_after_terminate = 10;
    start(S1);
    EXPECT_TRUE(std::holds_alternative<Stopped>(supervisor.stop_core(S1)));
    EXPECT_EQ(clock.elapsed, 200ms);
    EXPECT_EQ(supervisor.managed_session_id(), std::nullopt);
}

// The stop a connection's thread may make: it ends the Core, or leaves everything to stop_core,
// and never sleeps, polls or waits longer than STOP_AT_ONCE_WAIT.
TEST_F(CoreSupervisorTest, StopAtOnceEndsACoreThatEndsOnTerminationAndLeavesTheRestToStop) {
    EXPECT_TRUE(std::holds_alternative<InvalidSessionId>(*supervisor.stop_core_at_once("S1")));
    EXPECT_TRUE(std::holds_alternative<NotRunning>(*supervisor.stop_core_at_once(S1)));
    start(S1);
    platform.events.clear();
    const std::optional<StopOutcome> mismatch = supervisor.stop_core_at_once(S2);
    ASSERT_TRUE(mismatch && std::holds_alternative<SessionMismatch>(*mismatch));
    EXPECT_EQ(std::get<SessionMismatch>(*mismatch).session_id, S2);
    EXPECT_TRUE(platform.events.all().empty());

    const std::optional<StopOutcome> stopped = supervisor.stop_core_at_once(S1);
    ASSERT_TRUE(stopped && std::holds_alternative<Stopped>(*stopped));
    EXPECT_EQ(std::get<Stopped>(*stopped).session_id, S1);
    EXPECT_EQ(core(0).termination_wait, CoreSupervisor::STOP_AT_ONCE_WAIT);
    // The termination's wait saw the end: no exit query, no sleep.
    EXPECT_EQ(platform.events.all(),
              (Events{"terminate 1001 1", "close process 1001", "close thread 1001", "close job 1001"}));
    EXPECT_EQ(supervisor.managed_session_id(), std::nullopt);

    // Still running after the short wait, or a wait that failed: the Core stays managed, nothing
    // is logged, and stop_core finishes the job.
    const auto still_running = [](testing::FakeCoreState& c) { c.running_polls_after_terminate = 1; };
    const auto wait_fails = [](testing::FakeCoreState& c) { c.query_error = ACCESS_DENIED; };
    for (const auto& script : {std::function<void(testing::FakeCoreState&)>(still_running), {wait_fails}}) {
        start(S1);
        script(*platform.cores.back());
        const auto before = clock.elapsed;
        EXPECT_EQ(supervisor.stop_core_at_once(S1), std::nullopt);
        EXPECT_EQ(supervisor.managed_session_id(), S1);
        EXPECT_EQ(clock.elapsed, before);
        platform.cores.back()->query_error.reset();
        EXPECT_TRUE(std::holds_alternative<Stopped>(supervisor.stop_core(S1)));
    }
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(CoreSupervisorTest, StopAtOnceLeavesACoreWhoseStartIsUnderWayToStop) {
    start(S1);
    std::optional<std::optional<StopOutcome>> during_start;
    platform.on_verify = [&] {
        EXPECT_TRUE(finishes_while_caller_waits([&] { return during_start = supervisor.stop_core_at_once(S2); }));
    };
    start(S2, A2);
    ASSERT_TRUE(during_start.has_value());
    EXPECT_EQ(*during_start, std::nullopt);
    EXPECT_EQ(supervisor.managed_session_id(), S2);
}

TEST_F(CoreSupervisorTest, FailedExitQueryKeepsTheRecord) {
    start(S1);
    core(0).query_error = ACCESS_DENIED;
    const StopOutcome outcome = supervisor.stop_core(S1);
    ASSERT_TRUE(std::holds_alternative<StopFailed>(outcome));
    EXPECT_EQ(std::get<StopFailed>(outcome).text, ACCESS_DENIED.text());
    EXPECT_EQ(log.lines(), (Events{"Helper could not stop the managed Core: " + ACCESS_DENIED.text()}));
    EXPECT_EQ(supervisor.managed_session_id(), S1);
    EXPECT_EQ(clock.elapsed, 0ms);
}

TEST_F(CoreSupervisorTest, FailedConfinementEndsTheCoreBeforeItEverRan) {
    platform.next_core.running_polls_after_terminate = 2;
    platform.confine_error = ACCESS_DENIED;
    const StartOutcome outcome = supervisor.start_core(A1, S1);
    ASSERT_TRUE(std::holds_alternative<ConfinementFailed>(outcome));
    EXPECT_EQ(std::get<ConfinementFailed>(outcome).text, ACCESS_DENIED.text());
    EXPECT_EQ(log.lines(), (Events{"Helper could not confine the Core: " + ACCESS_DENIED.text()}));
    // Never resumed, terminated and waited for until it had ended; then every handle closed.
    EXPECT_FALSE(core(0).resumed);
    EXPECT_EQ(core(0).exit_code, CoreSupervisor::TERMINATION_EXIT_CODE);
    EXPECT_EQ(platform.events.without_queries(),
              (Events{"resolve", "verify " + FAKE_CORE_PATH, "launch " + A1, "confine 1001", "terminate 1001 1",
                      "close output 1001", "close process 1001", "close thread 1001", "close file"}));
    EXPECT_EQ(clock.elapsed, 2 * CoreSupervisor::EXIT_POLL);
    EXPECT_EQ(supervisor.managed_session_id(), std::nullopt);
    EXPECT_TRUE(relays.empty());
    // The slot stays empty: the next start is the only Core.
    platform.confine_error.reset();
    start(S2);
    EXPECT_EQ(supervisor.managed_session_id(), S2);
}

TEST_F(CoreSupervisorTest, CoreThatCannotBeEndedAfterAFailedConfinementIsLogged) {
    platform.next_core.ends_on_terminate = false;
    platform.confine_error = ACCESS_DENIED;
    const StartOutcome outcome = supervisor.start_core(A1, S1);
    ASSERT_TRUE(std::holds_alternative<ConfinementFailed>(outcome));
    EXPECT_EQ(log.lines(), (Events{"Helper could not end the unmanaged Core: " + DID_NOT_EXIT,
                                   "Helper could not confine the Core: " + ACCESS_DENIED.text()}));
    EXPECT_FALSE(core(0).resumed);
    EXPECT_EQ(supervisor.managed_session_id(), std::nullopt);
}

TEST_F(CoreSupervisorTest, CoreThatCannotBeResumedIsEndedAndReportedAsALaunchFailure) {
    platform.next_core.resume_error = ACCESS_DENIED;
    const StartOutcome outcome = supervisor.start_core(A1, S1);
    ASSERT_TRUE(std::holds_alternative<LaunchFailed>(outcome));
    EXPECT_EQ(std::get<LaunchFailed>(outcome).text, ACCESS_DENIED.text());
    EXPECT_EQ(std::get<LaunchFailed>(outcome).os_error, 5);
    EXPECT_EQ(log.lines(), (Events{ACCESS_DENIED.text()}));
    EXPECT_EQ(core(0).exit_code, CoreSupervisor::TERMINATION_EXIT_CODE);
    EXPECT_EQ(
        platform.events.without_queries(),
        (Events{"resolve", "verify " + FAKE_CORE_PATH, "launch " + A1, "confine 1001", "relay " + S1, "resume 1001",
                "terminate 1001 1", "close job 1001", "close process 1001", "close thread 1001", "close file"}));
    EXPECT_EQ(supervisor.managed_session_id(), std::nullopt);
}

TEST_F(CoreSupervisorTest, FailedLaunchLogsTheBareErrorAndKeepsItsNumber) {
    platform.launch_error = NOT_FOUND;
    const StartOutcome outcome = supervisor.start_core(A1, S1);
    ASSERT_TRUE(std::holds_alternative<LaunchFailed>(outcome));
    EXPECT_EQ(std::get<LaunchFailed>(outcome).text, NOT_FOUND.text());
    EXPECT_EQ(std::get<LaunchFailed>(outcome).os_error, 2);
    EXPECT_EQ(log.lines(), (Events{NOT_FOUND.text()}));
    EXPECT_TRUE(relays.empty());
    EXPECT_EQ(platform.events.all().back(), "close file");

    platform.launch_error = Error::message("no process for you");
    const StartOutcome own = supervisor.start_core(A1, S1);
    ASSERT_TRUE(std::holds_alternative<LaunchFailed>(own));
    EXPECT_EQ(std::get<LaunchFailed>(own).os_error, std::nullopt);
}

TEST_F(CoreSupervisorTest, RelayThatCannotStartTakesItsCoreDown) {
    CoreSupervisor failing(platform, log, clock, [](const std::string&, std::unique_ptr<CoreOutput>) {
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    });
    EXPECT_THROW((void)failing.start_core(A1, S1), std::system_error);
    EXPECT_TRUE(core(0).terminated);
    const Events events = platform.events.all();
    EXPECT_EQ(Events(events.begin() + 3, events.end()),
              (Events{"confine 1001", "close output 1001", "terminate 1001 1", "close job 1001", "close process 1001",
                      "close thread 1001", "close file"}));
    EXPECT_FALSE(core(0).resumed);
    EXPECT_EQ(failing.managed_session_id(), std::nullopt);
}

TEST_F(CoreSupervisorTest, LockStaysUsableAfterAnAbortedHolder) {
    start(S1);
    platform.on_verify = [] { throw std::runtime_error("unexpected"); };
    EXPECT_THROW((void)supervisor.start_core(A2, S2), std::runtime_error);
    platform.on_verify = nullptr;
    // The aborted start had already ended the old Core; the slot is left as it was then.
    EXPECT_TRUE(finishes_while_caller_waits([this] { return supervisor.stop_core(S1); }));
    EXPECT_EQ(supervisor.managed_session_id(), std::nullopt);
    start(S2);
}

TEST_F(CoreSupervisorTest, WatchOfAnEarlierCoreLeavesItsSuccessorAlone) {
    start(S1);
    start(S2, A2);
    core(1).exit_code = 0;
    supervisor.watch_core_exit(S1);
    EXPECT_EQ(core(1).queries, 0);
    EXPECT_EQ(supervisor.managed_session_id(), S2);
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(CoreSupervisorTest, WatchLogsTheExitCodeOfACoreThatEndedByItself) {
    struct Case {
        std::uint32_t code;
        std::string line;
    };
    for (const Case& c : {Case{0, "Core exited on its own: exit code: 0"},
                          Case{0xC0000005, "Core exited on its own: exit code: 0xc0000005"}}) {
        start(S1);
        platform.cores.back()->exit_code = c.code;
        platform.events.clear();
        supervisor.watch_core_exit(S1);
        EXPECT_EQ(log.lines().back(), c.line);
        EXPECT_EQ(supervisor.managed_session_id(), std::nullopt);
        EXPECT_TRUE(std::holds_alternative<NotRunning>(supervisor.stop_core(S1)));
        EXPECT_EQ(platform.events.without_queries().front(),
                  "close process " + std::to_string(platform.cores.back()->pid));
    }
    EXPECT_EQ(log.lines().size(), 2u);
}

TEST_F(CoreSupervisorTest, WatchGivesUpOnACoreThatRunsOnWithoutHoldingTheLockAsleep) {
    start(S1);
    bool lock_free_while_asleep = true;
    clock.on_sleep = [&] {
        if (lock_free_while_asleep) {
            lock_free_while_asleep = finishes_while_caller_waits([this] { return supervisor.managed_session_id(); });
        }
    };
    supervisor.watch_core_exit(S1);
    EXPECT_TRUE(lock_free_while_asleep);
    EXPECT_EQ(clock.elapsed, 1500ms);
    EXPECT_EQ(supervisor.managed_session_id(), S1);
    EXPECT_TRUE(log.lines().empty());
    EXPECT_FALSE(core(0).terminated);
}

TEST_F(CoreSupervisorTest, WatchLogsAFailedQueryAndKeepsTheRecord) {
    start(S1);
    core(0).query_error = ACCESS_DENIED;
    supervisor.watch_core_exit(S1);
    EXPECT_EQ(core(0).queries, 1);
    EXPECT_EQ(supervisor.managed_session_id(), S1);
    EXPECT_EQ(log.lines(),
              std::vector<std::string>{"Helper could not learn whether the Core exited: " + ACCESS_DENIED.text()});
}

TEST_F(CoreSupervisorTest, RelayThatFailsUnexpectedlyIsLogged) {
    CoreSupervisor detached(platform, log, clock);
    platform.next_output.throws = "relay buffer lost";
    ASSERT_TRUE(std::holds_alternative<Started>(detached.start_core(A1, S1)));
    // The relay runs on a detached thread: its line is the only sign that it ended.
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (log.lines().empty() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::yield();
    }
    EXPECT_EQ(log.lines(), std::vector<std::string>{"Helper Core output relay failed: relay buffer lost"});
    EXPECT_EQ(detached.managed_session_id(), S1);
    EXPECT_TRUE(std::holds_alternative<Stopped>(detached.stop_core(S1)));
}

TEST_F(CoreSupervisorTest, CoreThatEndedUnnoticedIsStopped) {
    start(S1);
    core(0).ends_on_terminate = false; // the termination is refused: the process is gone already
    core(0).exit_code = 0;
    EXPECT_TRUE(std::holds_alternative<Stopped>(supervisor.stop_core(S1)));
    EXPECT_EQ(supervisor.managed_session_id(), std::nullopt);
}

TEST_F(CoreSupervisorTest, ShutdownEndsTheCoreAndOnlyLogsAFailure) {
    supervisor.stop_core_on_shutdown();
    start(S1);
    supervisor.stop_core_on_shutdown();
    EXPECT_TRUE(core(0).terminated);
    EXPECT_EQ(supervisor.managed_session_id(), std::nullopt);
    EXPECT_TRUE(log.lines().empty());

    platform.next_core.ends_on_terminate = false;
    start(S2);
    supervisor.stop_core_on_shutdown();
    EXPECT_EQ(log.lines(), (Events{"Helper could not stop the managed Core on shutdown: " + DID_NOT_EXIT}));
    EXPECT_EQ(supervisor.managed_session_id(), S2);
}

TEST_F(CoreSupervisorTest, PingComparesTheDigestExactly) {
    const std::string expected(EXPECTED_CORE_SHA256);
    std::string upper = expected;
    for (char& c : upper) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    for (const std::string& digest : {std::string(), expected.substr(1), expected + "0", upper}) {
        EXPECT_TRUE(std::holds_alternative<PingDigestMismatch>(supervisor.ping_core(digest))) << digest;
    }
    EXPECT_EQ(log.lines(), Events(4, "Helper ping rejected a Core SHA256 mismatch"));
    EXPECT_TRUE(platform.events.all().empty());

    const PingOutcome ok = supervisor.ping_core(expected);
    ASSERT_TRUE(std::holds_alternative<PingOk>(ok));
    EXPECT_EQ(std::get<PingOk>(ok).helper_path, FAKE_HELPER_PATH);
    EXPECT_EQ(platform.events.all(), (Events{"resolve", "open " + FAKE_CORE_PATH, "own path"}));
    EXPECT_EQ(log.lines().size(), 4u);
}

TEST_F(CoreSupervisorTest, PingReportsTheFirstFailedStep) {
    const std::string expected(EXPECTED_CORE_SHA256);
    std::optional<Error>* steps[] = {&platform.resolve_error, &platform.open_error, &platform.own_path_error};
    for (std::optional<Error>* step : steps) {
        *step = ACCESS_DENIED;
        const PingOutcome outcome = supervisor.ping_core(expected);
        ASSERT_TRUE(std::holds_alternative<PingFailed>(outcome));
        EXPECT_EQ(std::get<PingFailed>(outcome).text, ACCESS_DENIED.text());
        *step = std::nullopt;
    }
    EXPECT_EQ(log.lines(), Events(3, "Helper ping failed: " + ACCESS_DENIED.text()));
    EXPECT_EQ(platform.events.all(), (Events{"resolve", "resolve", "open " + FAKE_CORE_PATH, "resolve",
                                             "open " + FAKE_CORE_PATH, "own path"}));
}

TEST_F(CoreSupervisorTest, PingAnswersWhileAStartHoldsTheLock) {
    std::optional<PingOutcome> during_start;
    platform.on_verify = [&] {
        EXPECT_TRUE(finishes_while_caller_waits(
            [&] { return during_start = supervisor.ping_core(std::string(EXPECTED_CORE_SHA256)); }));
    };
    start(S1);
    ASSERT_TRUE(during_start.has_value());
    EXPECT_TRUE(std::holds_alternative<PingOk>(*during_start));
}

const std::string DIGITS = "0123456789abcdef0123456789abcdef";

TEST(CoreStartParams, AddressIsThePipePrefixAnd32LowercaseDigits) {
    const std::string prefix(CORE_PIPE_PREFIX);
    ASSERT_EQ(prefix, R"(\\.\pipe\QuorvexCore_)");
    struct Case {
        std::string address;
        bool accepted;
    };
    const std::vector<Case> cases = {
        {prefix + DIGITS, true},
        {prefix + "0123456789abcdef0123456789abcdeA", false}, // 53 bytes, one upper-case digit
        {prefix + DIGITS.substr(1), false},                   // 31 digits
        {prefix + DIGITS + "0", false},                       // 33 digits
        {"\\\\.\\PIPE\\QuorvexCore_" + DIGITS, false},
        {"\\\\.\\pipe\\quorvexcore_" + DIGITS, false},
        {"//./pipe/QuorvexCore_" + DIGITS, false},
        {prefix + "0123456789abcdef0123456789abcdeg", false},
        {prefix + "0123456789abcdef 123456789abcdef", false},
        {prefix, false},
        {prefix.substr(0, 20), false},
        {"", false},
        {std::string("\\\\.\\pipe\\QuorvexCore_0123456789abcdef\0"
                     "123456789abcdef",
                     53),
         false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(validate_core_address(c.address), c.accepted) << c.address;
    }
}

TEST(CoreStartParams, SessionIdIs32LowercaseDigits) {
    EXPECT_TRUE(validate_session_id(DIGITS));
    EXPECT_FALSE(validate_session_id("0123456789ABCDEF0123456789ABCDEF"));
    EXPECT_FALSE(validate_session_id(DIGITS.substr(1)));
    EXPECT_FALSE(validate_session_id(DIGITS + "0"));
    EXPECT_FALSE(validate_session_id("0123456789abcdef0123456789abcdeg"));
    EXPECT_FALSE(validate_session_id(""));
}

TEST(CoreExitCode, DecimalUnlessBit31IsSet) {
    EXPECT_EQ(core_exit_code_text(0), "exit code: 0");
    EXPECT_EQ(core_exit_code_text(1), "exit code: 1");
    EXPECT_EQ(core_exit_code_text(0x7FFFFFFF), "exit code: 2147483647");
    EXPECT_EQ(core_exit_code_text(0x80000000), "exit code: 0x80000000");
    EXPECT_EQ(core_exit_code_text(3221225477u), "exit code: 0xc0000005");
    EXPECT_EQ(core_exit_code_text(0xFFFFFFFF), "exit code: 0xffffffff");
}

TEST(ExpectedCoreSha256, Is64LowercaseHexDigits) {
    ASSERT_EQ(EXPECTED_CORE_SHA256.size(), 64u);
    for (char c : EXPECTED_CORE_SHA256) {
        EXPECT_TRUE((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')) << c;
    }
}

} // namespace
} // namespace quorvex::hub
