#include "service/hub/core_supervisor.hpp"

#include "common/detached_thread.hpp"
#include "common/lowercase_hex.hpp"
#include "service/hub/core_output_relay.hpp"

#include <exception>

namespace quorvex::hub {

bool validate_core_address(std::string_view address) {
    if (!address.starts_with(CORE_PIPE_PREFIX) || address.size() != CORE_PIPE_PREFIX.size() + CORE_ID_DIGITS) {
        return false;
    }
    return is_lowercase_hex(address.substr(CORE_PIPE_PREFIX.size()));
}

bool validate_session_id(std::string_view session_id) {
    return session_id.size() == CORE_ID_DIGITS && is_lowercase_hex(session_id);
}

std::string core_exit_code_text(std::uint32_t code) {
    if ((code & 0x8000'0000u) == 0) {
        return "exit code: " + std::to_string(code);
    }
    return "exit code: 0x" + lowercase_hex(code);
}

ManagedCore::ManagedCore(std::string session, std::unique_ptr<CoreProcess> core_process,
                         std::unique_ptr<CoreJob> core_job)
    : session_id(std::move(session)), process(std::move(core_process)), job(std::move(core_job)) {}

ManagedCore::~ManagedCore() {
    std::string().swap(session_id);
    process.reset();
    job.reset();
}

CoreSupervisor::CoreSupervisor(CorePlatform& platform, HelperLog& log, Clock& clock, RelayStarter start_relay)
    : platform_(platform), log_(log), clock_(clock), start_relay_(std::move(start_relay)) {}

PingOutcome CoreSupervisor::ping_core(std::string core_sha256) {
    if (core_sha256 != EXPECTED_CORE_SHA256) {
        log_.append("Helper ping rejected a Core SHA256 mismatch");
        return PingDigestMismatch{};
    }
    // The file is only opened, not hashed: ping answers fast and tells whether start could read it.
    Result<std::string> helper_path = [this]() -> Result<std::string> {
        const Result<std::string> core_path = platform_.resolve_core_path();
        if (!core_path) {
            return fail(core_path.error());
        }
        if (Result<void> opened = platform_.open_core_file(*core_path); !opened) {
            return fail(opened.error());
        }
        return platform_.own_path();
    }();
    if (!helper_path) {
        const std::string& text = helper_path.error().text();
        log_.append("Helper ping failed: " + text);
        return PingFailed{text};
    }
    return PingOk{std::move(*helper_path)};
}

StartOutcome CoreSupervisor::start_core(std::string address, std::string session_id) {
    if (!validate_core_address(address)) {
        return InvalidAddress{};
    }
    if (!validate_session_id(session_id)) {
        return InvalidSessionId{};
    }

    const std::lock_guard lock(mutex_);
    // Whatever runs is ended first, even a Core of the same session.
    if (Result<void> released = release_managed_core(); !released) {
        const std::string& text = released.error().text();
        log_.append("Helper could not release the managed Core: " + text);
        return ReleaseFailed{text};
    }

    const Result<std::string> core_path = platform_.resolve_core_path();
    if (!core_path) {
        return VerificationFailed{core_path.error().text()};
    }
    Result<std::unique_ptr<VerifiedCoreFile>> verified = platform_.verify_core_file(*core_path);
    if (!verified) {
        return VerificationFailed{verified.error().text()};
    }
    // Declared after the lock, so it closes once the outcome is built and before the lock is
    // released: until then nobody can replace the file that was checked.
    const std::unique_ptr<VerifiedCoreFile> core_file = std::move(*verified);

    Result<LaunchedCore> launched = core_file->launch(address);
    if (!launched) {
        const Error& error = launched.error();
        log_.append(error.text());
        return LaunchFailed{error.text(), error.os_code()};
    }
    const std::uint32_t pid = launched->process->id();

    // Still suspended: it runs only once it is confined and its output has a reader.
    Result<std::unique_ptr<CoreJob>> job = launched->process->confine();
    if (!job) {
        discard_core(*launched->process);
        const std::string& text = job.error().text();
        log_.append("Helper could not confine the Core: " + text);
        return ConfinementFailed{text};
    }

    try {
        if (start_relay_) {
            start_relay_(session_id, std::move(launched->output));
        } else {
            start_detached_relay(session_id, std::move(launched->output));
        }
    } catch (...) {
        // Nobody would read its output: it must not run on.
        (void)launched->process->terminate(TERMINATION_EXIT_CODE, CoreProcess::TERMINATION_WAIT);
        throw;
    }

    if (Result<void> resumed = launched->process->resume(); !resumed) {
        discard_core(*launched->process);
        const Error& error = resumed.error();
        log_.append(error.text());
        return LaunchFailed{error.text(), error.os_code()};
    }

    slot_ = std::make_unique<ManagedCore>(session_id, std::move(launched->process), std::move(*job));
    return Started{std::move(session_id), pid};
}

StopOutcome CoreSupervisor::stop_core(std::string session_id) {
    if (!validate_session_id(session_id)) {
        return InvalidSessionId{};
    }

    const std::lock_guard lock(mutex_);
    if (std::optional<StopOutcome> refusal = stop_refusal(session_id)) {
        return std::move(*refusal);
    }
    if (Result<void> released = release_managed_core(); !released) {
        const std::string& text = released.error().text();
        log_.append("Helper could not stop the managed Core: " + text);
        return StopFailed{text};
    }
    return Stopped{std::move(session_id)};
}

std::optional<StopOutcome> CoreSupervisor::stop_core_at_once(std::string session_id) {
    if (!validate_session_id(session_id)) {
        return InvalidSessionId{};
    }

    const std::unique_lock lock(mutex_, std::try_to_lock);
    if (!lock.owns_lock()) {
        return std::nullopt;
    }
    if (std::optional<StopOutcome> refusal = stop_refusal(session_id)) {
        return refusal;
    }
    const Result<bool> ended = slot_->process->terminate(TERMINATION_EXIT_CODE, STOP_AT_ONCE_WAIT);
    if (!ended || !*ended) {
        return std::nullopt;
    }
    slot_.reset();
    return Stopped{std::move(session_id)};
}

std::optional<StopOutcome> CoreSupervisor::stop_refusal(const std::string& session_id) const {
    if (!slot_) {
        return NotRunning{session_id};
    }
    if (slot_->session_id != session_id) {
        return SessionMismatch{session_id};
    }
    return std::nullopt;
}

void CoreSupervisor::stop_core_on_shutdown() {
    const std::lock_guard lock(mutex_);
    if (Result<void> released = release_managed_core(); !released) {
        log_.append("Helper could not stop the managed Core on shutdown: " + released.error().text());
    }
}

void CoreSupervisor::watch_core_exit(const std::string& session_id) {
    const Clock::time_point deadline = clock_.now() + EXIT_WAIT;
    for (;;) {
        {
            // Held for one query at a time, never across the sleep.
            const std::lock_guard lock(mutex_);
            // A relay of an earlier Core must not touch its successor.
            if (!slot_ || slot_->session_id != session_id) {
                return;
            }
            const Result<std::optional<std::uint32_t>> ended = slot_->process->exit_code_if_ended();
            if (!ended) {
                // The record stays: a stop or the next start still ends this Core.
                log_.append("Helper could not learn whether the Core exited: " + ended.error().text());
                return;
            }
            if (ended->has_value()) {
                log_.append("Core exited on its own: " + core_exit_code_text(**ended));
                slot_.reset();
                return;
            }
        }
        if (clock_.now() >= deadline) {
            return;
        }
        clock_.sleep_for(EXIT_POLL);
    }
}

std::optional<std::string> CoreSupervisor::managed_session_id() {
    const std::lock_guard lock(mutex_);
    if (!slot_) {
        return std::nullopt;
    }
    return slot_->session_id;
}

Result<void> CoreSupervisor::release_managed_core() {
    if (!slot_) {
        return {};
    }
    if (Result<void> ended = end_process(*slot_->process); !ended) {
        return ended;
    }
    slot_.reset();
    return {};
}

Result<void> CoreSupervisor::end_process(CoreProcess& process) {
    const Result<bool> ended_at_once = process.terminate(TERMINATION_EXIT_CODE, CoreProcess::TERMINATION_WAIT);
    if (!ended_at_once) {
        return fail(ended_at_once.error());
    }
    if (*ended_at_once) {
        return {};
    }
    const Clock::time_point deadline = clock_.now() + EXIT_WAIT;
    for (;;) {
        const Result<std::optional<std::uint32_t>> ended = process.exit_code_if_ended();
        if (!ended) {
            return fail(ended.error());
        }
        if (ended->has_value()) {
            return {};
        }
        if (clock_.now() >= deadline) {
            return fail(Error::message("Core did not exit after termination"));
        }
        clock_.sleep_for(EXIT_POLL);
    }
}

void CoreSupervisor::discard_core(CoreProcess& process) {
    if (Result<void> ended = end_process(process); !ended) {
        log_.append("Helper could not end the unmanaged Core: " + ended.error().text());
    }
}

void CoreSupervisor::start_detached_relay(std::string session_id, std::unique_ptr<CoreOutput> output) {
    start_detached_thread([this, session = std::move(session_id), pipe = std::move(output)]() mutable {
        try {
            relay_core_output(std::move(pipe), log_, [this, &session] { watch_core_exit(session); });
        } catch (const std::exception& e) {
            // Out of memory or a broken lock: the relay ends and its pipe closes with it; the
            // service goes on. The line may fail for the same reason: then nothing is said.
            try {
                log_.append(std::string("Helper Core output relay failed: ") + e.what());
            } catch (const std::exception&) {}
        }
    });
}

} // namespace quorvex::hub
