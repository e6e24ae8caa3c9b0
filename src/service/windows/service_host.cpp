#include "service/windows/service_host.hpp"

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/use_future.hpp>

#include <exception>
#include <future>

namespace quorvex::service {
namespace {

// Runs the server on the runtime and blocks this (the service main) thread until it returns.
Result<void> serve_on(HelperRuntime& runtime, const HelperServer& server, std::string owner_sid, StopSignal stop,
                      ServiceStatusReporter& status) {
    try {
        std::future<Result<void>> done = boost::asio::co_spawn(
            runtime.io(), server(std::move(owner_sid), std::move(stop), status), boost::asio::use_future);
        // The server's coroutine frame, and the StopSignal in it, are gone once this returns.
        return done.get();
    } catch (const std::exception& e) {
        return fail(Error::message(std::string("the helper server task failed: ") + e.what()));
    }
}

} // namespace

Result<std::unique_ptr<HelperRuntime>> build_helper_runtime() {
    return HelperRuntime::create(logical_processor_count());
}

Result<void> run_helper_service(std::optional<std::string> owner_sid, const ServiceHostParts& parts) {
    if (!owner_sid || owner_sid->empty()) return fail(Error::message("the helper service has no owner"));

    StopFlag flag = make_stop_flag();
    auto status = parts.register_control_handler(std::move(flag.writer));
    if (!status) return fail(std::move(status.error()).context("register helper service control handler"));
    ServiceStatusReporter& reporter = **status;

    if (auto sent = reporter.report(STARTING_REPORT); !sent)
        return fail(std::move(sent.error()).context("report helper service startup"));

    auto runtime = parts.build_runtime();
    if (!runtime) {
        (void)reporter.report(stopped_report(true));
        return fail(std::move(runtime.error()).context("create helper runtime"));
    }

    const Result<void> served =
        serve_on(**runtime, parts.run_server, std::move(*owner_sid), StopSignal(flag.reader_state, reporter), reporter);
    flag.reader_state.reset();

    const Result<void> stopped = reporter.report(stopped_report(!served));
    // Only after the stopped report: the SCM must not wait on our threads to learn we stopped.
    (*runtime)->shutdown();

    if (!served) return fail(served.error().context("run helper service"));
    if (!stopped) return fail(stopped.error().context("report helper service stopped"));
    return {};
}

} // namespace quorvex::service

