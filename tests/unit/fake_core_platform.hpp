#pragma once
// A scripted Core platform and clock for the supervisor and relay tests. Every call that would
// touch the system is recorded as one event line, in order.

#include "service/hub/core_platform.hpp"
#include "common/clock.hpp"

#include <algorithm>
#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

namespace quorvex::hub::testing {

inline const std::string FAKE_HELPER_PATH = "C:\\Program Files\\Quorvex\\QuorvexHelper.exe";
inline const std::string FAKE_CORE_PATH = "C:\\Program Files\\Quorvex\\QuorvexCore.exe";

class EventLog {
public:
    void add(std::string event) {
        std::lock_guard lock(mutex_);
        events_.push_back(std::move(event));
    }
    [[nodiscard]] std::vector<std::string> all() const {
        std::lock_guard lock(mutex_);
        return events_;
    }
    // The events without exit queries, which a wait repeats many times.
    [[nodiscard]] std::vector<std::string> without_queries() const {
        std::vector<std::string> out = all();
        std::erase_if(out, [](const std::string& e) { return e.starts_with("query "); });
        return out;
    }
    void clear() {
        std::lock_guard lock(mutex_);
        events_.clear();
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> events_;
};

// How one fake Core behaves; tests change it while the Core is managed.
struct FakeCoreState {
    std::uint32_t pid = 0;
    bool ends_on_terminate = true;
    // Exit queries that still report it running after termination.
    int running_polls_after_terminate = 0;
    // Set once the Core has ended (by itself, or by termination).
    std::optional<std::uint32_t> exit_code;
    std::optional<Error> query_error;
    bool terminated = false;
    std::uint32_t terminate_code = 0;
    std::chrono::milliseconds termination_wait{0}; // the last termination's
    // Created suspended; runs once resumed, until it has ended.
    bool resumed = false;
    std::optional<Error> resume_error;
    int queries = 0;
};

class FakeCoreJob final : public CoreJob {
public:
    FakeCoreJob(std::uint32_t pid, EventLog& events) : pid_(pid), events_(events) {}
    ~FakeCoreJob() override { events_.add("close job " + std::to_string(pid_)); }

private:
    std::uint32_t pid_;
    EventLog& events_;
};

class FakeCoreProcess final : public CoreProcess {
public:
    // `confine_error` is the platform's, read when the supervisor confines this Core.
    FakeCoreProcess(std::shared_ptr<FakeCoreState> state, const std::optional<Error>& confine_error, EventLog& events)
        : state_(std::move(state)), confine_error_(confine_error), events_(events) {}
    ~FakeCoreProcess() override {
        events_.add("close process " + std::to_string(state_->pid));
        events_.add("close thread " + std::to_string(state_->pid));
    }
    [[nodiscard]] std::uint32_t id() const override { return state_->pid; }
    [[nodiscard]] Result<std::unique_ptr<CoreJob>> confine() override {
        events_.add("confine " + std::to_string(state_->pid));
        if (confine_error_) {
            return fail(*confine_error_);
        }
        return std::make_unique<FakeCoreJob>(state_->pid, events_);
    }
    [[nodiscard]] Result<void> resume() override {
        events_.add("resume " + std::to_string(state_->pid));
        if (state_->resume_error) {
            return fail(*state_->resume_error);
        }
        state_->resumed = true;
        return {};
    }
    // The termination's wait sees the end when the Core ends on it without running on for
    // further queries, or had ended already; a failed query fails the wait too.
    [[nodiscard]] Result<bool> terminate(std::uint32_t exit_code, std::chrono::milliseconds wait) override {
        events_.add("terminate " + std::to_string(state_->pid) + " " + std::to_string(exit_code));
        state_->terminated = true;
        state_->terminate_code = exit_code;
        state_->termination_wait = wait;
        if (state_->query_error) {
            return fail(*state_->query_error);
        }
        if (!state_->exit_code && state_->ends_on_terminate && state_->running_polls_after_terminate == 0) {
            state_->exit_code = exit_code;
        }
        return state_->exit_code.has_value();
    }
    [[nodiscard]] Result<std::optional<std::uint32_t>> exit_code_if_ended() override {
        events_.add("query " + std::to_string(state_->pid));
        ++state_->queries;
        if (state_->query_error) {
            return fail(*state_->query_error);
        }
        if (!state_->exit_code && state_->terminated && state_->ends_on_terminate) {
            if (state_->running_polls_after_terminate > 0) {
                --state_->running_polls_after_terminate;
            } else {
                state_->exit_code = state_->terminate_code;
            }
        }
        return state_->exit_code;
    }

private:
    std::shared_ptr<FakeCoreState> state_;
    const std::optional<Error>& confine_error_;
    EventLog& events_;
};

// What one fake Core writes to its error stream, and how its relay read it; outlives the pipe.
struct FakeOutputScript {
    std::deque<Result<std::string>> reads;
    std::optional<std::string> throws; // every read throws std::runtime_error with this text
    int read_calls = 0;
    std::size_t largest_buffer = 0;
};

// Hands out the scripted reads, each cut to the caller's buffer; then the end of the stream.
class FakeCoreOutput final : public CoreOutput {
public:
    FakeCoreOutput(std::uint32_t pid, std::shared_ptr<FakeOutputScript> script, EventLog& events)
        : pid_(pid), script_(std::move(script)), events_(events) {}
    ~FakeCoreOutput() override { events_.add("close output " + std::to_string(pid_)); }

    [[nodiscard]] Result<std::size_t> read(std::span<char> buffer) override {
        ++script_->read_calls;
        if (script_->throws) {
            throw std::runtime_error(*script_->throws);
        }
        script_->largest_buffer = std::max(script_->largest_buffer, buffer.size());
        auto& reads = script_->reads;
        if (reads.empty()) {
            return 0;
        }
        if (!reads.front()) {
            Error error = reads.front().error();
            reads.pop_front();
            return fail(std::move(error));
        }
        std::string& chunk = *reads.front();
        const std::size_t n = std::min(buffer.size(), chunk.size());
        std::copy_n(chunk.begin(), n, buffer.begin());
        chunk.erase(0, n);
        if (chunk.empty()) {
            reads.pop_front();
        }
        return n;
    }

private:
    std::uint32_t pid_;
    std::shared_ptr<FakeOutputScript> script_;
    EventLog& events_;
};

class FakeCorePlatform;

// Launches through the platform that verified it, which scripts the launch.
class FakeVerifiedCoreFile final : public VerifiedCoreFile {
public:
    explicit FakeVerifiedCoreFile(FakeCorePlatform& platform);
    ~FakeVerifiedCoreFile() override;
    [[nodiscard]] Result<LaunchedCore> launch(const std::string& address) const override;

private:
    FakeCorePlatform& platform_;
};

class FakeCorePlatform final : public CorePlatform {
public:
    [[nodiscard]] Result<std::string> own_path() override {
        events.add("own path");
        if (own_path_error) {
            return fail(*own_path_error);
        }
        return FAKE_HELPER_PATH;
    }
    [[nodiscard]] Result<std::string> resolve_core_path() override {
        events.add("resolve");
        if (resolve_error) {
            return fail(*resolve_error);
        }
        return FAKE_CORE_PATH;
    }
    [[nodiscard]] Result<void> open_core_file(const std::string& core_path) override {
        events.add("open " + core_path);
        if (open_error) {
            return fail(*open_error);
        }
        return {};
    }
    [[nodiscard]] Result<std::unique_ptr<VerifiedCoreFile>> verify_core_file(const std::string& core_path) override {
        events.add("verify " + core_path);
        if (on_verify) {
            on_verify();
        }
        if (verify_error) {
            return fail(*verify_error);
        }
        return std::make_unique<FakeVerifiedCoreFile>(*this);
    }

    EventLog events;
    std::optional<Error> own_path_error, resolve_error, open_error, verify_error, launch_error, confine_error;
    // Runs inside verify_core_file, that is while start_core holds the lock.
    std::function<void()> on_verify;
    // The behaviour of the next launched Core.
    FakeCoreState next_core;
    std::vector<std::shared_ptr<FakeCoreState>> cores;
    // The error streams of the launched Cores, in launch order.
    std::vector<std::shared_ptr<FakeOutputScript>> outputs;
    // The error stream of the next launched Core, as its relay will find it.
    FakeOutputScript next_output;
};

inline FakeVerifiedCoreFile::FakeVerifiedCoreFile(FakeCorePlatform& platform) : platform_(platform) {}

inline FakeVerifiedCoreFile::~FakeVerifiedCoreFile() { platform_.events.add("close file"); }

inline Result<LaunchedCore> FakeVerifiedCoreFile::launch(const std::string& address) const {
    platform_.events.add("launch " + address);
    if (platform_.launch_error) {
        return fail(*platform_.launch_error);
    }
    auto state = std::make_shared<FakeCoreState>(platform_.next_core);
    state->pid = 1001 + static_cast<std::uint32_t>(platform_.cores.size());
    platform_.cores.push_back(state);
    platform_.outputs.push_back(std::make_shared<FakeOutputScript>(platform_.next_output));
    return LaunchedCore{std::make_unique<FakeCoreProcess>(state, platform_.confine_error, platform_.events),
                        std::make_unique<FakeCoreOutput>(state->pid, platform_.outputs.back(), platform_.events)};
}

// Time moves only when the supervisor sleeps.
class FakeClock final : public Clock {
public:
    [[nodiscard]] time_point now() override { return time_point{} + elapsed; }
    void sleep_for(std::chrono::milliseconds duration) override {
        sleeps.push_back(duration);
        if (on_sleep) {
            on_sleep();
        }
        elapsed += duration;
    }

    std::chrono::milliseconds elapsed{0};
    std::vector<std::chrono::milliseconds> sleeps;
    std::function<void()> on_sleep;
};

} // namespace quorvex::hub::testing
