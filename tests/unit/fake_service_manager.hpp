#pragma once
// A scripted Service Control Manager holding at most one service, and a clock that only moves
// when slept on. Every call is recorded in order, so tests can check both the sequence and that
// every handle was closed.

#include "common/clock.hpp"
#include "service/windows/service_installation.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quorvex::service::testing {

using namespace std::chrono_literals;

inline Error fake_os_error(std::int32_t code) { return Error::os(code, "system text " + std::to_string(code)); }

class FakeClock final : public Clock {
public:
    time_point now() override { return time_point{} + now_; }
    void sleep_for(std::chrono::milliseconds duration) override {
        EXPECT_EQ(duration, 100ms);
        now_ += duration;
        ++sleeps;
    }
    int sleeps = 0;

private:
    std::chrono::milliseconds now_{5000}; // not zero: the loops must measure from their own start
};

// A stop control's answer: an os error, or the state in the returned status.
struct StopReply {
    std::optional<std::int32_t> error;
    std::uint32_t state = SERVICE_STATE_STOP_PENDING;
};

struct FakeScm {
    explicit FakeScm(FakeClock& clock) : clock(clock) {}

    FakeClock& clock;
    std::vector<std::string> calls;

    // The one service.
    bool exists = false;
    bool marked = false;
    // Another process holds a handle until this time; the deletion completes only after it.
    Clock::time_point held_elsewhere_until{};
    // An open of a marked service fails with 1072; otherwise it succeeds.
    bool open_marked_fails = true;
    std::deque<std::uint32_t> states;              // query answers; the last one repeats
    std::deque<std::uint32_t> states_after_create; // the new service's answers
    std::deque<StopReply> stop_replies;            // the last one repeats
    int open_handles = 0;
    bool manager_open = false;

    // Injected failures.
    std::optional<std::int32_t> open_manager_error, removal_open_error, probe_error, query_error, delete_error,
        create_error, configure_error, start_error;

    std::optional<ServiceRegistration> created;
    std::optional<ServiceFailureActions> failure_actions;

    // The deletion completes once the service is marked and no handle is left anywhere.
    void settle() {
        if (marked && open_handles == 0 && clock.now() >= held_elsewhere_until) {
            exists = false;
            marked = false;
        }
    }
    std::uint32_t next_state() {
        const std::uint32_t state = states.front();
        if (states.size() > 1) {
            states.pop_front();
        }
        return state;
    }
};

class FakeService final : public InstalledService {
public:
    explicit FakeService(FakeScm& scm) : scm_(scm) { ++scm_.open_handles; }
    ~FakeService() override {
        scm_.calls.emplace_back("close service");
        --scm_.open_handles;
        scm_.settle();
    }

    Result<std::uint32_t> query_state() override {
        scm_.calls.emplace_back("query");
        if (scm_.query_error) {
            return fail(fake_os_error(*scm_.query_error));
        }
        return scm_.next_state();
    }
    Result<std::uint32_t> send_stop() override {
        scm_.calls.emplace_back("stop");
        const StopReply reply = scm_.stop_replies.empty() ? StopReply{} : scm_.stop_replies.front();
        if (scm_.stop_replies.size() > 1) {
            scm_.stop_replies.pop_front();
        }
        if (reply.error) {
            return fail(fake_os_error(*reply.error));
        }
        return reply.state;
    }
    Result<void> mark_for_deletion() override {
        scm_.calls.emplace_back("delete");
        // 1060 and 1072 mean that another party deleted it first.
        const auto error = scm_.delete_error;
        if (!error || *error == SCM_ERROR_SERVICE_DOES_NOT_EXIST || *error == SCM_ERROR_SERVICE_MARKED_FOR_DELETE) {
            scm_.marked = true;
        }
        if (error) {
            return fail(fake_os_error(*error));
        }
        return {};
    }
    Result<void> set_failure_actions(const ServiceFailureActions& actions) override {
        scm_.calls.emplace_back("configure");
        if (scm_.configure_error) {
            return fail(fake_os_error(*scm_.configure_error));
        }
        scm_.failure_actions = actions;
        return {};
    }
    Result<void> start() override {
        scm_.calls.emplace_back("start");
        if (scm_.start_error) {
            return fail(fake_os_error(*scm_.start_error));
        }
        return {};
    }

private:
    FakeScm& scm_;
};

class FakeManager final : public ServiceManager {
public:
    explicit FakeManager(FakeScm& scm) : scm_(scm) { scm_.manager_open = true; }
    ~FakeManager() override {
        scm_.calls.emplace_back("close manager");
        scm_.manager_open = false;
    }

    Result<std::unique_ptr<InstalledService>> open_service(std::string_view name, std::uint32_t access) override {
        EXPECT_EQ(name, "QuorvexHelperService");
        char hex[16];
        // "%#x" of a 32-bit value always fits in 16 bytes.
        (void)std::snprintf(hex, sizeof hex, "%#x", static_cast<unsigned>(access));
        scm_.calls.push_back(std::string("open service ") + hex);
        scm_.settle();
        const auto& injected = access == SERVICE_PROBE_ACCESS ? scm_.probe_error : scm_.removal_open_error;
        if (injected) {
            return fail(fake_os_error(*injected));
        }
        if (!scm_.exists) {
            return fail(fake_os_error(SCM_ERROR_SERVICE_DOES_NOT_EXIST));
        }
        if (scm_.marked && scm_.open_marked_fails) {
            return fail(fake_os_error(SCM_ERROR_SERVICE_MARKED_FOR_DELETE));
        }
        return std::make_unique<FakeService>(scm_);
    }

    Result<std::unique_ptr<InstalledService>> create_service(const ServiceRegistration& registration) override {
        scm_.calls.emplace_back("create");
        if (scm_.create_error) {
            return fail(fake_os_error(*scm_.create_error));
        }
        scm_.exists = true;
        scm_.created = registration;
        scm_.states = scm_.states_after_create;
        return std::make_unique<FakeService>(scm_);
    }

private:
    FakeScm& scm_;
};

class FakePlatform final : public InstallationPlatform {
public:
    explicit FakePlatform(FakeScm& scm) : scm_(scm) {}

    Result<std::unique_ptr<ServiceManager>> open_manager(std::uint32_t access) override {
        scm_.calls.push_back("open manager " + std::to_string(access));
        if (scm_.open_manager_error) {
            return fail(fake_os_error(*scm_.open_manager_error));
        }
        return std::make_unique<FakeManager>(scm_);
    }
    Result<std::string> account_sid_of_process(std::uint32_t pid) override {
        scm_.calls.push_back("account " + std::to_string(pid));
        if (account_error) {
            return fail(fake_os_error(*account_error));
        }
        return account;
    }
    Result<std::string> own_executable_path() override {
        scm_.calls.emplace_back("own path");
        if (path_error) {
            return fail(fake_os_error(*path_error));
        }
        return path;
    }

    std::string account = "S-1-5-21-7-8-9-500";
    std::optional<std::int32_t> account_error;
    std::string path = "C:\\Program Files\\Quorvex\\QuorvexHelper.exe";
    std::optional<std::int32_t> path_error;

private:
    FakeScm& scm_;
};

} // namespace quorvex::service::testing
