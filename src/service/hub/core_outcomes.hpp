#pragma once
// The outcomes of the Core operations, as values. The routes turn each into its reply; the
// supervisor has already written the log line that belongs to it.

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

namespace quorvex::hub {

struct PingDigestMismatch {};
struct PingFailed {
    std::string text;
};
struct PingOk {
    std::string helper_path;
};
using PingOutcome = std::variant<PingDigestMismatch, PingFailed, PingOk>;

struct InvalidAddress {};
struct InvalidSessionId {};
struct ReleaseFailed {
    std::string text;
};
struct VerificationFailed {
    std::string text;
};
struct LaunchFailed {
    std::string text;
    std::optional<std::int32_t> os_error;
};
struct ConfinementFailed {
    std::string text;
};
struct Started {
    std::string session_id;
    std::uint32_t pid = 0;
};
using StartOutcome = std::variant<InvalidAddress, InvalidSessionId, ReleaseFailed, VerificationFailed, LaunchFailed,
                                  ConfinementFailed, Started>;

struct NotRunning {
    std::string session_id;
};
struct SessionMismatch {
    std::string session_id;
};
struct StopFailed {
    std::string text;
};
struct Stopped {
    std::string session_id;
};
using StopOutcome = std::variant<InvalidSessionId, NotRunning, SessionMismatch, StopFailed, Stopped>;

// The operations behind ping, start and stop. Those that block (file reads, process creation,
// waits) run on the blocking pool; a stop is first tried at once, on the connection's own thread.
// An exception thrown out of one is a task failure.
class CoreOperations {
public:
    virtual ~CoreOperations() = default;
    virtual PingOutcome ping_core(std::string core_sha256) = 0;
    virtual StartOutcome start_core(std::string address, std::string session_id) = 0;
    virtual StopOutcome stop_core(std::string session_id) = 0;
    // A stop that blocks for no more than a few milliseconds, for the caller's own thread: its
    // outcome, or nothing when only stop_core can finish it.
    virtual std::optional<StopOutcome> stop_core_at_once(std::string session_id) = 0;
};

} // namespace quorvex::hub
