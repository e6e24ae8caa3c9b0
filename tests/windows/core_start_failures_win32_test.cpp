// The supervisor over the real Win32 Core platform when one of the platform's calls fails. Every
// other call reaches the real adapter, so the process, pipe and Job object made before the failure
// are the system's own, and what is left of them afterwards is what the service would leave.

#include "service/hub/core_platform_win32.hpp"

#include "platform/win32/system_error.hpp"
#include "platform/win32/unique_handle.hpp"
#include "platform/win32/wide.hpp"
#include "service/hub/core_output_relay.hpp"
#include "service/hub/core_supervisor.hpp"
#include "service/hub/helper_replies.hpp"
#include "service/hub/sha256_digest.hpp"

#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

namespace quorvex::hub {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

// Counts the platform's calls in the order a start makes them (resolve, verify, launch, confine,
// resume, then each termination and exit query) and fails the one numbered `failing` with `code`.
struct Injection {
    int failing = 0;
    DWORD code = ERROR_SUCCESS;
    int calls = 0;
    std::vector<DWORD> launched_pids;

    bool fails_now() { return ++calls == failing; }
    [[nodiscard]] Error error() const { return win32::os_error(code); }
};

class FailingCoreProcess final : public CoreProcess {
public:
    FailingCoreProcess(std::unique_ptr<CoreProcess> real, Injection& injection)
        : real_(std::move(real)), injection_(injection) {}

    [[nodiscard]] std::uint32_t id() const override { return real_->id(); }
    [[nodiscard]] Result<std::unique_ptr<CoreJob>> confine() override {
        if (injection_.fails_now()) {
            return fail(injection_.error());
        }
        return real_->confine();
    }
    [[nodiscard]] Result<void> resume() override {
        if (injection_.fails_now()) {
            return fail(injection_.error());
        }
        return real_->resume();
    }
    [[nodiscard]] Result<bool> terminate(std::uint32_t exit_code, std::chrono::milliseconds wait) override {
        Result<bool> ended = real_->terminate(exit_code, wait);
        if (injection_.fails_now()) {
            return fail(injection_.error());
        }
        return ended;
    }
    [[nodiscard]] Result<std::optional<std::uint32_t>> exit_code_if_ended() override {
        if (injection_.fails_now()) {
            return fail(injection_.error());
        }
        return real_->exit_code_if_ended();
    }

private:
    std::unique_ptr<CoreProcess> real_;
    Injection& injection_;
};

class FailingVerifiedCoreFile final : public VerifiedCoreFile {
public:
    FailingVerifiedCoreFile(std::unique_ptr<VerifiedCoreFile> real, Injection& injection)
        : real_(std::move(real)), injection_(injection) {}

    [[nodiscard]] Result<LaunchedCore> launch(const std::string& address) const override {
        if (injection_.fails_now()) {
            return fail(injection_.error());
        }
        Result<LaunchedCore> launched = real_->launch(address);
        if (!launched) {
            return launched;
        }
        injection_.launched_pids.push_back(launched->process->id());
        return LaunchedCore{std::make_unique<FailingCoreProcess>(std::move(launched->process), injection_),
                            std::move(launched->output)};
    }

private:
    std::unique_ptr<VerifiedCoreFile> real_;
    Injection& injection_;
};

class FailingCorePlatform final : public CorePlatform {
public:
    FailingCorePlatform(CorePlatform& real, Injection& injection) : real_(real), injection_(injection) {}

    [[nodiscard]] Result<std::string> own_path() override { return real_.own_path(); }
    [[nodiscard]] Result<std::string> resolve_core_path() override {
        if (injection_.fails_now()) {
            return fail(injection_.error());
        }
        return real_.resolve_core_path();
    }
    [[nodiscard]] Result<void> open_core_file(const std::string& core_path) override {
        return real_.open_core_file(core_path);
    }
    [[nodiscard]] Result<std::unique_ptr<VerifiedCoreFile>> verify_core_file(const std::string& core_path) override {
        if (injection_.fails_now()) {
            return fail(injection_.error());
        }
        Result<std::unique_ptr<VerifiedCoreFile>> verified = real_.verify_core_file(core_path);
        if (!verified) {
            return verified;
        }
        return std::make_unique<FailingVerifiedCoreFile>(std::move(*verified), injection_);
    }

private:
    CorePlatform& real_;
    Injection& injection_;
};

std::string file_bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

fs::path stub_core_path() {
    wchar_t own[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, own, MAX_PATH);
    return fs::path(own).parent_path() / L"QuorvexCore.exe";
}

std::string stub_digest() {
    Result<Sha256> digest = Sha256::create();
    if (!digest || !digest->update(file_bytes(stub_core_path()))) {
        return {};
    }
    return digest->hex_digest().value_or(std::string());
}

// Whether the process with this ID has ended (or is gone altogether).
bool process_ended(DWORD pid) {
    win32::UniqueKernelHandle process(::OpenProcess(SYNCHRONIZE, FALSE, pid));
    return !process || ::WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0;
}

DWORD own_handle_count() {
    DWORD count = 0;
    (void)::GetProcessHandleCount(::GetCurrentProcess(), &count);
    return count;
}

// The stub Core that runs until it is ended (see stub_core.cpp).
const std::string RUNS_UNTIL_KILLED = std::string(CORE_PIPE_PREFIX) + std::string(CORE_ID_DIGITS, '0');
const std::string S1 = "0123456789abcdef0123456789abcdef";
const std::string S2 = "fedcba9876543210fedcba9876543210";

class CoreStartFailureTest : public ::testing::Test {
protected:
    void TearDown() override {
        injection.failing = 0;
        supervisor.stop_core_on_shutdown();
        join_relays();
    }
    void join_relays() {
        for (std::thread& relay : relays) {
            relay.join();
        }
        relays.clear();
    }
    void fail_call(int number, DWORD code) { injection = Injection{number, code}; }

    Win32CorePlatform real{stub_digest()};
    Injection injection;
    FailingCorePlatform platform{real, injection};
    HelperLog log;
    SteadyClock clock;
    std::vector<std::thread> relays;
    // The relay without the exit watch, whose own exit queries would take the numbers of the
    // calls a case fails (the watch runs on the real platform in core_platform_win32_test.cpp).
    CoreSupervisor supervisor{platform, log, clock, [this](const std::string&, std::unique_ptr<CoreOutput> output) {
                                  relays.emplace_back([this, pipe = std::move(output)]() mutable {
                                      relay_core_output(std::move(pipe), log, [] {});
                                  });
                              }};
};

// Whichever step of a start fails, the client gets the documented error reply, the log says what
// failed where the service logs it, and nothing of the Core is left: no process, no handle.
TEST_F(CoreStartFailureTest, StartFailingAtAnyStepLeavesNoCoreAndNoHandle) {
    struct Case {
        std::string_view step;
        int call;
        DWORD code;
        unsigned status;
        std::string body;
        Lines log_lines;
    };
    const std::string denied = win32::os_error(ERROR_ACCESS_DENIED).text();
    const std::string no_memory = win32::os_error(ERROR_NOT_ENOUGH_MEMORY).text();
    const std::string shared = win32::os_error(ERROR_SHARING_VIOLATION).text();
    const auto error_body = [](std::string_view code, const std::string& message, std::string_view details = "") {
        return R"({"code":")" + std::string(code) + R"(","message":")" + message + '"' + std::string(details) + '}';
    };
    const std::vector<Case> cases = {
        {"resolve",
         1,
         ERROR_FILE_NOT_FOUND,
         409,
         error_body("coreVerificationFailed", win32::os_error(ERROR_FILE_NOT_FOUND).text()),
         {}},
        {"verify", 2, ERROR_SHARING_VIOLATION, 409, error_body("coreVerificationFailed", shared), {}},
        {"launch",
         3,
         ERROR_ACCESS_DENIED,
         500,
         error_body("processLaunchFailed", denied, R"(,"details":{"osError":5})"),
         {denied}},
        {"confine",
         4,
         ERROR_ACCESS_DENIED,
         500,
         error_body("internalError", "Core confinement failed: " + denied),
         {"Helper could not confine the Core: " + denied}},
        {"resume",
         5,
         ERROR_NOT_ENOUGH_MEMORY,
         500,
         error_body("processLaunchFailed", no_memory, R"(,"details":{"osError":8})"),
         {no_memory}},
    };
    std::size_t logged = 0;
    DWORD settled_handles = 0;
    // The first round settles what the system keeps after a first use; the second must match it.
    for (int round = 1; round <= 2; ++round) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.step) + ", round " + std::to_string(round));
            fail_call(c.call, c.code);
            const StartOutcome outcome = supervisor.start_core(RUNS_UNTIL_KILLED, S1);
            join_relays();
            const http::Reply reply = start_reply(outcome);
            EXPECT_EQ(reply.status, c.status);
            EXPECT_EQ(reply.body, c.body);
            const Lines all = log.lines();
            EXPECT_EQ(Lines(all.begin() + static_cast<std::ptrdiff_t>(logged), all.end()), c.log_lines);
            logged = all.size();
            EXPECT_EQ(supervisor.managed_session_id(), std::nullopt);
            EXPECT_EQ(injection.launched_pids.size(), c.call > 3 ? 1u : 0u);
            for (const DWORD pid : injection.launched_pids) {
                EXPECT_TRUE(process_ended(pid)) << "Core " << pid << " still runs";
            }
        }
        if (round == 1) {
            settled_handles = own_handle_count();
        } else {
            EXPECT_EQ(own_handle_count(), settled_handles);
        }
    }
}

// A termination whose wait fails while the managed Core is ended: the stop (and a start, which ends the
// running Core first) is answered with coreStopFailed and logged, the Core stays managed, and
// the next stop ends it.
TEST_F(CoreStartFailureTest, CoreThatCannotBeSeenToEndStaysManagedUntilAStopSucceeds) {
    const StartOutcome started = supervisor.start_core(RUNS_UNTIL_KILLED, S1);
    ASSERT_TRUE(std::holds_alternative<Started>(started));
    const DWORD pid = std::get<Started>(started).pid;
    const std::string invalid = win32::os_error(ERROR_INVALID_HANDLE).text();

    fail_call(1, ERROR_INVALID_HANDLE);
    const http::Reply stop = stop_reply(supervisor.stop_core(S1));
    EXPECT_EQ(stop.status, 500u);
    EXPECT_EQ(stop.body, R"({"code":"coreStopFailed","message":")" + invalid + R"("})");

    fail_call(1, ERROR_INVALID_HANDLE);
    const http::Reply start = start_reply(supervisor.start_core(RUNS_UNTIL_KILLED, S2));
    EXPECT_EQ(start.status, 500u);
    EXPECT_EQ(start.body, R"({"code":"coreStopFailed","message":")" + invalid + R"("})");
    EXPECT_EQ(log.lines(), (Lines{"Helper could not stop the managed Core: " + invalid,
                                  "Helper could not release the managed Core: " + invalid}));
    EXPECT_EQ(supervisor.managed_session_id(), S1);

    // Terminated by the failed stop already: the real wait sees it ended, and the slot is freed.
    fail_call(0, ERROR_SUCCESS);
    EXPECT_TRUE(std::holds_alternative<Stopped>(supervisor.stop_core(S1)));
    join_relays();
    EXPECT_TRUE(process_ended(pid));
    EXPECT_EQ(supervisor.managed_session_id(), std::nullopt);
}

} // namespace
} // namespace quorvex::hub
