#pragma once
// The service main function's work (everything between reading the owner and the final
// report), written against narrow parts so that the whole report sequence runs in tests with a
// recording reporter and a scripted server. The Win32 callbacks around it are in
// service_host_win32.cpp.

#include "common/error.hpp"
#include "service/peer/helper_server.hpp"
#include "service/windows/helper_runtime.hpp"
#include "service/windows/service_status.hpp"
#include "service/windows/stop_request.hpp"
#include "service/windows/stop_signal.hpp"

#include <boost/asio/awaitable.hpp>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

namespace quorvex::service {

// SERVICE_OWNER: carries the owner's SID text from the command line to the service main
// function, which the dispatcher calls on another thread. Filled once, never cleared.
class ServiceOwnerCell {
public:
    // Keeps the first value stored; a later one is dropped. True if this call filled the cell.
    bool store(std::string owner_sid);
    // A copy of the stored SID text, or nothing while the cell is empty.
    [[nodiscard]] std::optional<std::string> load() const;

private:
    mutable std::mutex mutex_;
    std::optional<std::string> owner_sid_;
};

// The process-wide cell.
extern ServiceOwnerCell SERVICE_OWNER;

// The service as the helper server sees it, and the one sender of the running and stop-pending
// reports: the StopSignal only signals.
class ScmServerHost final : public peer::ServerHost {
public:
    ScmServerHost(StopSignal stop, ServiceStatusReporter& status) : stop_(std::move(stop)), status_(status) {}

    Result<void> report_running() override;
    // The stop-pending report's failure is ignored: the stop goes on regardless.
    boost::asio::awaitable<void> stop_requested() override;

private:
    StopSignal stop_;
    ServiceStatusReporter& status_;
};

// The server the service runs: given the owner SID, the service as the server sees it, and the
// runtime it runs on (HelperWiring::serve in the product).
using HelperServer =
    std::function<boost::asio::awaitable<Result<void>>(std::string, peer::ServerHost&, HelperRuntime&)>;

struct ServiceHostParts {
    // Registers the control handler with `stop` as its context, kept for the life of the process
    // (released when registration fails), and returns the reporter over the status handle it got.
    std::function<Result<std::unique_ptr<ServiceStatusReporter>>(std::shared_ptr<StopRequest> stop)>
        register_control_handler;
    std::function<Result<std::unique_ptr<HelperRuntime>>()> build_runtime;
    HelperServer run_server;
};

// The runtime the service uses: one worker per logical processor, the service main thread being
// one of them while the server runs (on one processor, a worker besides it).
[[nodiscard]] Result<std::unique_ptr<HelperRuntime>> build_helper_runtime();

// Runs the service for `owner_sid` (the contents of SERVICE_OWNER) until the server returns;
// the last report sent is stopped, with exit code 1 when the server or the runtime failed.
// Returns the failure with the context of the step that failed.
[[nodiscard]] Result<void> run_helper_service(std::optional<std::string> owner_sid, const ServiceHostParts& parts);

// The run-service command: stores the owner in SERVICE_OWNER and hands this thread to the
// Service Control Manager's dispatcher, which runs the service with the real SCM, runtime and
// helper server. Blocks until the service has stopped. Windows only.
[[nodiscard]] Result<void> run_as_helper_service(std::string owner_sid);

} // namespace quorvex::service
