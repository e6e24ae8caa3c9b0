#pragma once
// The service main function's work (everything between reading the owner and the final
// report), written against narrow parts so that the whole report sequence runs in tests with a
// recording reporter and a scripted server. The Win32 callback around it is helper_service_main.

#include "common/error.hpp"
#include "service/windows/helper_runtime.hpp"
#include "service/windows/service_status.hpp"
#include "service/windows/stop_signal.hpp"

#include <boost/asio/awaitable.hpp>

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace quorvex::service {

// run_helper_server's shape: owner SID, the StopSignal (consumed), the status reporter.
using HelperServer =
    std::function<boost::asio::awaitable<Result<void>>(std::string, StopSignal, ServiceStatusReporter&)>;

struct ServiceHostParts {
    // Registers the control handler with `writer` as its context, kept for the life of the
    // process (released when registration fails), and returns the reporter over the status
    // handle it got.
    std::function<Result<std::unique_ptr<ServiceStatusReporter>>(StopFlagWriter writer)> register_control_handler;
    std::function<Result<std::unique_ptr<HelperRuntime>>()> build_runtime;
    HelperServer run_server;
};

// The runtime the service uses: one worker per logical processor.
[[nodiscard]] Result<std::unique_ptr<HelperRuntime>> build_helper_runtime();

// Runs the service for `owner_sid` (the contents of SERVICE_OWNER) until the server returns;
// the last report sent is stopped, with exit code 1 when the server or the runtime failed.
// Returns the failure with the context of the step that failed.
[[nodiscard]] Result<void> run_helper_service(std::optional<std::string> owner_sid, const ServiceHostParts& parts);

} // namespace quorvex::service
