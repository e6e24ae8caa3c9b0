#pragma once
// The one managed Core: a slot behind a lock, and the operations that fill, read and empty it.
// ping, start and stop come from the routes (CoreOperations); the relay thread of each Core
// calls watch_core_exit when the Core's error stream ends; the server run loop calls
// stop_core_on_shutdown once after it has stopped serving.

#include "common/clock.hpp"
#include "common/error.hpp"
#include "common/helper_contract.hpp"
#include "common/helper_log.hpp"
#include "service/hub/core_outcomes.hpp"
#include "service/hub/core_platform.hpp"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace quorvex::hub {

// The Core's pipe address a start request names: the prefix followed by exactly 32 lowercase
// hexadecimal digits; case-sensitive throughout.
[[nodiscard]] bool validate_core_address(std::string_view address);
// The client's session ID: exactly 32 lowercase hexadecimal digits.
[[nodiscard]] bool validate_session_id(std::string_view session_id);

// How a Core's exit code reads in the log: decimal, or hex once bit 31 is set, since such codes
// are NTSTATUS values (0xc0000005 is an access violation) and mean nothing in decimal.
// "exit code: 0", "exit code: 0xc0000005".
[[nodiscard]] std::string core_exit_code_text(std::uint32_t code);

// The record of the managed Core; it owns the Core's process, thread and job handles.
struct ManagedCore {
    std::string session_id;
    std::unique_ptr<CoreProcess> process; // the process and main-thread handles
    std::unique_ptr<CoreJob> job;

    ManagedCore(std::string session, std::unique_ptr<CoreProcess> core_process, std::unique_ptr<CoreJob> core_job);
    ManagedCore(const ManagedCore&) = delete;
    ManagedCore& operator=(const ManagedCore&) = delete;
    // Frees the session ID, then closes the process, the main-thread and the job handle, in that
    // order. Closing the job ends a Core that still runs.
    ~ManagedCore();
};

class CoreSupervisor final : public CoreOperations {
public:
    // The Core is terminated with this exit code.
    static constexpr std::uint32_t TERMINATION_EXIT_CODE = 1;
    // How long to wait for a Core to end after termination or after its error stream ended.
    static constexpr std::chrono::milliseconds EXIT_WAIT{1500};
    static constexpr std::chrono::milliseconds EXIT_POLL{20};
    // How long stop_core_at_once waits for the Core's end: a Core ends within about a
    // millisecond of its termination, and the caller's thread has other connections to serve.
    static constexpr std::chrono::milliseconds STOP_AT_ONCE_WAIT{10};

    // Starts the relay of a launched Core's error stream on a thread of its own.
    using RelayStarter = std::function<void(std::string session_id, std::unique_ptr<CoreOutput> output)>;

    // With no relay starter, each relay runs on a detached thread; the supervisor must then
    // outlive every relay, as the process-wide one does.
    CoreSupervisor(CorePlatform& platform, HelperLog& log, Clock& clock, RelayStarter start_relay = {});
    CoreSupervisor(const CoreSupervisor&) = delete;
    CoreSupervisor& operator=(const CoreSupervisor&) = delete;

    // Never takes the lock: answers while a start or stop is in progress.
    [[nodiscard]] PingOutcome ping_core(std::string core_sha256) override;
    // Ends any managed Core, then verifies and launches a new one suspended, confines it,
    // starts its relay and only then lets it run. A Core that cannot be confined or resumed is
    // ended before the reply. Throws only when the relay thread cannot be started; the new
    // Core is terminated first.
    [[nodiscard]] StartOutcome start_core(std::string address, std::string session_id) override;
    [[nodiscard]] StopOutcome stop_core(std::string session_id) override;
    // The stop without its waits: nothing when a start or stop holds the lock, or when the Core,
    // terminated, has not ended within STOP_AT_ONCE_WAIT; stop_core then does the rest.
    [[nodiscard]] std::optional<StopOutcome> stop_core_at_once(std::string session_id) override;
    // Ends the managed Core when the server stops; a failure is logged, not reported.
    void stop_core_on_shutdown();
    // On a relay thread once its Core's error stream ended: if that Core is still the managed
    // one and ends within 1.5 seconds, logs its exit code and forgets it.
    void watch_core_exit(const std::string& session_id);

    // The session ID of the managed Core, if any.
    [[nodiscard]] std::optional<std::string> managed_session_id();

private:
    // Why a stop of this session has nothing to end, if it has not. The caller holds mutex_.
    [[nodiscard]] std::optional<StopOutcome> stop_refusal(const std::string& session_id) const;
    // Ends the managed Core, if any, and empties the slot. The caller holds mutex_.
    [[nodiscard]] Result<void> release_managed_core();
    // Terminates the process and waits up to EXIT_WAIT until it has ended.
    [[nodiscard]] Result<void> end_process(CoreProcess& process);
    // Ends a Core that never became the managed one; a failure to end it is logged.
    void discard_core(CoreProcess& process);
    void start_detached_relay(std::string session_id, std::unique_ptr<CoreOutput> output);

    CorePlatform& platform_;
    HelperLog& log_;
    Clock& clock_;
    RelayStarter start_relay_;
    // std::mutex is released when an aborted holder unwinds, so a failed operation never
    // leaves the slot unreachable; later holders take the slot as it was left.
    std::mutex mutex_;
    std::unique_ptr<ManagedCore> slot_;
};

} // namespace quorvex::hub
