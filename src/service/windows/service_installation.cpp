#include "service/windows/service_installation.hpp"

#include <array>

namespace quorvex::service {
namespace {

constexpr std::string_view OWNER_SID_OPTION = "--owner-sid";

bool has_code(const Error& error, std::int32_t code) { return error.os_code() == code; }

// Sends stop controls until the service reports stopped. Returns once it is stopped or stopping
// is no longer possible because it is not active.
Result<void> stop_service(InstalledService& service, Clock& clock) {
    const auto started = clock.now();
    for (;;) {
        const auto state = checked_service_state(service.query_state());
        if (!state) {
            return fail(scm_call_failure(state.error(), "query helper service before stopping"));
        }
        if (*state == SERVICE_STATE_STOPPED) {
            return {};
        }

        // While it is stopping, a further control would only be refused.
        if (*state != SERVICE_STATE_STOP_PENDING) {
            const auto reply = checked_service_state(service.send_stop());
            if (!reply) {
                if (has_code(reply.error(), SCM_ERROR_SERVICE_NOT_ACTIVE)) {
                    return {};
                }
                // Still starting or already stopping: ask again next pass.
                if (!has_code(reply.error(), SCM_ERROR_SERVICE_CANNOT_ACCEPT_CTRL)) {
                    return fail(scm_call_failure(reply.error(), "stop helper service"));
                }
            }
        }

        if (clock.now() - started >= SERVICE_WAIT_LIMIT) {
            return fail(Error::message("timed out waiting for helper service to stop from " +
                                       std::string(*service_state_name(*state))));
        }
        clock.sleep_for(SERVICE_POLL_INTERVAL);
    }
}

} // namespace

std::optional<std::string_view> service_state_name(std::uint32_t state) {
    static constexpr std::array<std::string_view, 7> NAMES{"Stopped",         "StartPending", "StopPending", "Running",
                                                           "ContinuePending", "PausePending", "Paused"};
    if (state < 1 || state > NAMES.size()) {
        return std::nullopt;
    }
    return NAMES[state - 1];
}

Result<std::uint32_t> checked_service_state(Result<std::uint32_t> state) {
    if (state && !service_state_name(*state)) {
        return fail(Error::message("unknown service state " + std::to_string(*state)));
    }
    return state;
}

Error scm_call_failure(Error cause, std::string step) {
    // A message of our own (an unknown state) is shown as it is; only system errors get the link.
    if (!cause.os_code()) {
        return std::move(cause).context(std::move(step));
    }
    return winapi_call_failure(std::move(cause)).context(std::move(step));
}

Error winapi_call_failure(Error cause) { return std::move(cause).context("IO error in winapi call"); }

std::string quote_service_argument(std::string_view text) {
    if (text.find_first_of("\" \n\t\v") == std::string_view::npos) {
        return std::string(text);
    }

    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (const char c : text) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        // Backslashes escape only when a quote follows them.
        quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        quoted += c;
        backslashes = 0;
    }
    // Doubled so that they do not escape the closing quote.
    quoted.append(2 * backslashes, '\\');
    quoted += '"';
    return quoted;
}

ServiceRegistration helper_service_registration(std::string binary_path) {
    return {.name = std::string(HELPER_SERVICE_NAME),
            .display_name = std::string(HELPER_SERVICE_NAME),
            .access = SERVICE_INSTALL_ACCESS,
            .service_type = SERVICE_TYPE_OWN_PROCESS,
            .start_type = START_TYPE_AUTO,
            .error_control = ERROR_CONTROL_NORMAL,
            .binary_path = std::move(binary_path),
            .account = std::nullopt};
}

ServiceFailureActions helper_service_failure_actions() {
    constexpr ServiceFailureAction RESTART{FAILURE_ACTION_RESTART, 5000};
    return {.reset_period_s = 86400, .actions = {RESTART, RESTART, RESTART}};
}

Result<void> install_helper_service(std::uint32_t owner_pid, InstallationPlatform& platform, Clock& clock) {
    // The owner first: a wrong process ID must not cost the old registration.
    auto owner_sid = platform.account_sid_of_process(owner_pid);
    if (!owner_sid) {
        return fail(std::move(owner_sid.error()).context("read the account of process " + std::to_string(owner_pid)));
    }

    auto manager = platform.open_manager(MANAGER_INSTALL_ACCESS);
    if (!manager) {
        return fail(scm_call_failure(std::move(manager.error()), "open Windows service manager"));
    }

    if (auto removed = remove_helper_service(**manager, clock); !removed) {
        return removed;
    }

    auto path = platform.own_executable_path();
    if (!path) {
        return fail(std::move(path.error()).context("resolve helper executable path"));
    }

    const std::string command_line = quote_service_argument(*path) + ' ' + quote_service_argument(OWNER_SID_OPTION) +
                                     ' ' + quote_service_argument(*owner_sid);
    auto service = (*manager)->create_service(helper_service_registration(command_line));
    if (!service) {
        return fail(scm_call_failure(std::move(service.error()), "create helper service"));
    }

    if (auto configured = (*service)->set_failure_actions(helper_service_failure_actions()); !configured) {
        return fail(scm_call_failure(std::move(configured.error()), "configure helper service recovery"));
    }

    // Someone else may have started it already; then we only wait.
    if (auto started = (*service)->start();
        !started && started.error().os_code() != SCM_ERROR_SERVICE_ALREADY_RUNNING) {
        return fail(scm_call_failure(std::move(started.error()), "start helper service"));
    }

    return wait_for_helper_service_running(**service, clock);
}

Result<void> wait_for_helper_service_running(InstalledService& service, Clock& clock) {
    const auto started = clock.now();
    for (;;) {
        const auto state = checked_service_state(service.query_state());
        if (!state) {
            return fail(scm_call_failure(state.error(), "query helper service after starting"));
        }
        if (*state == SERVICE_STATE_RUNNING) {
            return {};
        }
        if (*state == SERVICE_STATE_STOPPED) {
            return fail(Error::message("helper service stopped during startup"));
        }
        if (clock.now() - started >= SERVICE_WAIT_LIMIT) {
            return fail(Error::message("timed out waiting for helper service to run from " +
                                       std::string(*service_state_name(*state))));
        }
        clock.sleep_for(SERVICE_POLL_INTERVAL);
    }
}

Result<void> uninstall_helper_service(InstallationPlatform& platform, Clock& clock) {
    auto manager = platform.open_manager(MANAGER_CONNECT_ACCESS);
    if (!manager) {
        return fail(scm_call_failure(std::move(manager.error()), "open Windows service manager"));
    }
    return remove_helper_service(**manager, clock);
}

Result<void> remove_helper_service(ServiceManager& manager, Clock& clock) {
    {
        auto service = manager.open_service(HELPER_SERVICE_NAME, SERVICE_REMOVAL_ACCESS);
        if (!service) {
            if (has_code(service.error(), SCM_ERROR_SERVICE_DOES_NOT_EXIST)) {
                return {};
            }
            if (has_code(service.error(), SCM_ERROR_SERVICE_MARKED_FOR_DELETE)) {
                return wait_for_helper_service_deletion(manager, clock);
            }
            return fail(scm_call_failure(std::move(service.error()), "open existing helper service"));
        }

        if (auto stopped = stop_service(**service, clock); !stopped) {
            return stopped;
        }

        if (auto deleted = (*service)->mark_for_deletion();
            !deleted && !has_code(deleted.error(), SCM_ERROR_SERVICE_DOES_NOT_EXIST) &&
            !has_code(deleted.error(), SCM_ERROR_SERVICE_MARKED_FOR_DELETE)) {
            return fail(scm_call_failure(std::move(deleted.error()), "delete helper service"));
        }
    } // our own handle must be closed, or the deletion could never complete

    return wait_for_helper_service_deletion(manager, clock);
}

Result<void> wait_for_helper_service_deletion(ServiceManager& manager, Clock& clock) {
    const auto started = clock.now();
    for (;;) {
        // A handle that opens is closed again at once: the deletion waits for every handle.
        if (auto probe = manager.open_service(HELPER_SERVICE_NAME, SERVICE_PROBE_ACCESS); !probe) {
            if (has_code(probe.error(), SCM_ERROR_SERVICE_DOES_NOT_EXIST)) {
                return {};
            }
            if (!has_code(probe.error(), SCM_ERROR_SERVICE_MARKED_FOR_DELETE)) {
                return fail(scm_call_failure(std::move(probe.error()), "check helper service deletion"));
            }
        }
        if (clock.now() - started >= SERVICE_WAIT_LIMIT) {
            return fail(Error::message("timed out waiting for helper service deletion"));
        }
        clock.sleep_for(SERVICE_POLL_INTERVAL);
    }
}

} // namespace quorvex::service
