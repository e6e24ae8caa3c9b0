#include "service/windows/service_removal.hpp"

namespace quorvex::service {
namespace {

bool has_code(const Error& error, std::int32_t code) { return error.os_code() == code; }

// Sends stop controls until the service reports stopped. Returns once it is stopped or stopping
// is no longer possible because it is not active.
Result<void> stop_service(InstalledService& service, Clock& clock) {
    const auto started = clock.now();
    for (;;) {
        const auto state = checked_service_state(service.query_state());
        if (!state) return fail(scm_call_failure(state.error(), "query helper service before stopping"));
        if (*state == SERVICE_STATE_STOPPED) return {};

        // While it is stopping, a further control would only be refused.
        if (*state != SERVICE_STATE_STOP_PENDING) {
            const auto reply = checked_service_state(service.send_stop());
            if (!reply) {
                if (has_code(reply.error(), SCM_ERROR_SERVICE_NOT_ACTIVE)) return {};
                // Still starting or already stopping: ask again next pass.
                if (!has_code(reply.error(), SCM_ERROR_SERVICE_CANNOT_ACCEPT_CTRL))
                    return fail(scm_call_failure(reply.error(), "stop helper service"));
            }
        }

        if (clock.now() - started >= SERVICE_WAIT_LIMIT)
            return fail(Error::message("timed out waiting for helper service to stop from " +
                                       std::string(*service_state_name(*state))));
        clock.sleep(SERVICE_POLL_INTERVAL);
    }
}

} // namespace

Result<void> uninstall_helper_service(InstallationPlatform& platform, Clock& clock) {
    auto manager = platform.open_manager(MANAGER_CONNECT_ACCESS);
    if (!manager) return fail(scm_call_failure(std::move(manager.error()), "open Windows service manager"));
    return remove_helper_service(**manager, clock);
}

Result<void> remove_helper_service(ServiceManager& manager, Clock& clock) {
    {
        auto service = manager.open_service(HELPER_SERVICE_NAME, SERVICE_REMOVAL_ACCESS);
        if (!service) {
            if (has_code(service.error(), SCM_ERROR_SERVICE_DOES_NOT_EXIST)) return {};
            if (has_code(service.error(), SCM_ERROR_SERVICE_MARKED_FOR_DELETE))
                return wait_for_helper_service_deletion(manager, clock);
            return fail(scm_call_failure(std::move(service.error()), "open existing helper service"));
        }

        if (auto stopped = stop_service(**service, clock); !stopped) return stopped;

        if (auto deleted = (*service)->mark_for_deletion();
            !deleted && !has_code(deleted.error(), SCM_ERROR_SERVICE_DOES_NOT_EXIST) &&
            !has_code(deleted.error(), SCM_ERROR_SERVICE_MARKED_FOR_DELETE))
            return fail(scm_call_failure(std::move(deleted.error()), "delete helper service"));
    } // our own handle must be closed, or the deletion could never complete

    return wait_for_helper_service_deletion(manager, clock);
}

Result<void> wait_for_helper_service_deletion(ServiceManager& manager, Clock& clock) {
    const auto started = clock.now();
    for (;;) {
        // A handle that opens is closed again at once: the deletion waits for every handle.
        if (auto probe = manager.open_service(HELPER_SERVICE_NAME, SERVICE_PROBE_ACCESS); !probe) {
            if (has_code(probe.error(), SCM_ERROR_SERVICE_DOES_NOT_EXIST)) return {};
            if (!has_code(probe.error(), SCM_ERROR_SERVICE_MARKED_FOR_DELETE))
                return fail(scm_call_failure(std::move(probe.error()), "check helper service deletion"));
        }
        if (clock.now() - started >= SERVICE_WAIT_LIMIT)
            return fail(Error::message("timed out waiting for helper service deletion"));
        clock.sleep(SERVICE_POLL_INTERVAL);
    }
}

} // namespace quorvex::service
