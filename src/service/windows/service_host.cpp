#include "service/windows/service_host.hpp"

#include <boost/asio/co_spawn.hpp>

#include <exception>
#include <future>

namespace quorvex::service {
namespace {

// Runs the server on the runtime until it returns, with this (the service main) thread as one of
// the runtime's workers: it would otherwise only wait. The server's end stops the io_context, so
// that this thread returns to send the stopped report; shutdown() then joins the other workers.
Result<void> serve_on(HelperRuntime& runtime, const HelperServer& server, std::string owner_sid, StopSignal stop,
                      ServiceStatusReporter& status) {
    try {
        // The StopSignal goes with this frame, once the server is done.
        ScmServerHost host(std::move(stop), status);
        std::promise<Result<void>> served;
        std::future<Result<void>> done = served.get_future();
        boost::asio::co_spawn(runtime.io(), server(std::move(owner_sid), host, runtime),
                              [&served, &io = runtime.io()](const std::exception_ptr& failure, Result<void> outcome) {
                                  if (failure) {
                                      served.set_exception(failure);
                                  } else {
                                      served.set_value(std::move(outcome));
                                  }
                                  io.stop();
                              });
        runtime.run_on_this_thread();
        return done.get();
    } catch (const std::exception& e) {
        return fail(Error::message(std::string("the helper server task failed: ") + e.what()));
    }
}

} // namespace

Result<void> ScmServerHost::report_running() { return status_.report(RUNNING_REPORT); }

boost::asio::awaitable<void> ScmServerHost::stop_requested() {
    co_await stop_.wait();
    (void)status_.report(STOPPING_REPORT);
}

ServiceOwnerCell SERVICE_OWNER;

bool ServiceOwnerCell::store(std::string owner_sid) {
    std::lock_guard lock(mutex_);
    if (owner_sid_) {
        return false;
    }
    owner_sid_ = std::move(owner_sid);
    return true;
}

std::optional<std::string> ServiceOwnerCell::load() const {
    std::lock_guard lock(mutex_);
    return owner_sid_;
}

Result<std::unique_ptr<HelperRuntime>> build_helper_runtime() {
    // The service main thread is lent to the runtime while the server runs (serve_on).
    return HelperRuntime::create(logical_processor_count() - 1);
}

Result<void> run_helper_service(std::optional<std::string> owner_sid, const ServiceHostParts& parts) {
    if (!owner_sid || owner_sid->empty()) {
        return fail(Error::message("the helper service has no owner"));
    }

    auto stop = std::make_shared<StopRequest>();
    auto status = parts.register_control_handler(stop);
    if (!status) {
        return fail(std::move(status.error()).context("register helper service control handler"));
    }
    ServiceStatusReporter& reporter = **status;

    if (auto sent = reporter.report(STARTING_REPORT); !sent) {
        return fail(std::move(sent.error()).context("report helper service startup"));
    }

    auto runtime = parts.build_runtime();
    if (!runtime) {
        (void)reporter.report(stopped_report(true));
        return fail(std::move(runtime.error()).context("create helper runtime"));
    }

    const StopSignal signal((*runtime)->io().get_executor());
    stop->listen([signal] { signal.trigger(); });
    const Result<void> served = serve_on(**runtime, parts.run_server, std::move(*owner_sid), signal, reporter);
    // From here a stop control is only recorded: nothing posts onto the runtime any more.
    stop->stop_listening();

    const Result<void> stopped = reporter.report(stopped_report(!served));
    // Only after the stopped report: the SCM must not wait on our threads to learn we stopped.
    (*runtime)->shutdown();

    if (!served) {
        return fail(served.error().context("run helper service"));
    }
    if (!stopped) {
        return fail(stopped.error().context("report helper service stopped"));
    }
    return {};
}

} // namespace quorvex::service
