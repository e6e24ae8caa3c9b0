#include "service/windows/helper_runtime.hpp"

#include "common/helper_log.hpp"

#include <boost/asio/execution/context.hpp>
#include <boost/asio/query.hpp>

#include <exception>
#include <system_error>

namespace quorvex::service {
namespace {

// Ties a blocking pool to an io_context, so code that only holds an executor can find it.
class BlockingPoolLink : public boost::asio::execution_context::service {
public:
    using key_type = BlockingPoolLink;
    static inline boost::asio::execution_context::id id;

    explicit BlockingPoolLink(boost::asio::execution_context& owner) : service(owner) {}
    peer::BlockingPool* pool = nullptr;

private:
    void shutdown() override {}
};

} // namespace

HelperRuntime::HelperRuntime() : keep_running_(boost::asio::make_work_guard(io_)) {
    boost::asio::use_service<BlockingPoolLink>(io_).pool = &blocking_;
}

Result<std::unique_ptr<HelperRuntime>> HelperRuntime::create(unsigned worker_threads) {
    std::unique_ptr<HelperRuntime> runtime;
    try {
        runtime.reset(new HelperRuntime());
        const unsigned count = worker_threads == 0 ? 1 : worker_threads;
        for (unsigned i = 0; i < count; ++i)
            runtime->workers_.emplace_back([raw = runtime.get()] { raw->run_worker(); });
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
    for (auto& worker : workers_)
        if (worker.joinable()) worker.join();
    blocking_.stop();
    // Handlers of either pool may hold work on the other: drop the io_context's while the
    // blocking pool still exists; the pool drops its own when it is destroyed, before io_.
    io_.shutdown();
}

unsigned logical_processor_count() {
    const unsigned count = std::thread::hardware_concurrency();
    return count == 0 ? 1 : count;
}

peer::BlockingPool* blocking_pool_of(const boost::asio::any_io_executor& executor) {
    auto& context = boost::asio::query(executor, boost::asio::execution::context);
    if (!boost::asio::has_service<BlockingPoolLink>(context)) return nullptr;
    return boost::asio::use_service<BlockingPoolLink>(context).pool;
}

} // namespace quorvex::service
