#include "service/windows/helper_runtime.hpp"

#include "common/helper_log.hpp"

#include <exception>
#include <system_error>

namespace quorvex::service {

HelperRuntime::HelperRuntime() : keep_running_(boost::asio::make_work_guard(io_)) {}

Result<std::unique_ptr<HelperRuntime>> HelperRuntime::create(unsigned worker_threads) {
    std::unique_ptr<HelperRuntime> runtime;
    try {
        runtime.reset(new HelperRuntime());
        const unsigned count = worker_threads == 0 ? 1 : worker_threads;
        for (unsigned i = 0; i < count; ++i) {
            runtime->workers_.emplace_back([raw = runtime.get()] { raw->run_worker(); });
        }
    } catch (const std::system_error& e) {
        // The destructor stops and joins whatever was started.
        return fail(Error::os(e.code().value(), e.code().message()));
    } catch (const std::exception& e) {
        return fail(Error::message(e.what()));
    }
    return runtime;
}

HelperRuntime::~HelperRuntime() { shutdown(); }

void HelperRuntime::run_worker() {
    for (;;) {
        try {
            io_.run();
            return;
        } catch (const std::exception& e) {
            // One failed task must not take the service down with it.
            append_log(std::string("Helper task failed: ") + e.what());
        } catch (...) {
            append_log("Helper task failed: unknown exception");
        }
    }
}

void HelperRuntime::shutdown() {
    keep_running_.reset();
    io_.stop();
    for (auto& worker : workers_) {
        if (worker.joinable()) {
            worker.join();
        }
    }
    blocking_.stop();
    // Handlers of either pool may hold work on the other: drop the io_context's while the
    // blocking pool still exists; the pool drops its own when it is destroyed, before io_.
    io_.shutdown();
}

unsigned logical_processor_count() {
    const unsigned count = std::thread::hardware_concurrency();
    return count == 0 ? 1 : count;
}

} // namespace quorvex::service
