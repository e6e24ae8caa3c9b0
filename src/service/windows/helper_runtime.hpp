#pragma once
// The asynchronous runtime of the running service: one io_context run by a worker thread per
// logical processor (network I/O, timers, the accept loop and connection tasks), and a pool of
// blocking threads, started on demand, for work that reads files, creates processes or waits
// for them.

#include "common/error.hpp"
#include "service/peer/blocking_pool.hpp"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>

#include <cstddef>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

namespace quorvex::service {

class HelperRuntime {
public:
    static constexpr std::size_t BLOCKING_THREADS = 8;

    // Starts `worker_threads` workers (0 counts as 1); the blocking pool starts its threads when
    // work arrives.
    [[nodiscard]] static Result<std::unique_ptr<HelperRuntime>> create(unsigned worker_threads);
    HelperRuntime(const HelperRuntime&) = delete;
    HelperRuntime& operator=(const HelperRuntime&) = delete;
    ~HelperRuntime();

    [[nodiscard]] boost::asio::io_context& io() { return io_; }
    [[nodiscard]] peer::BlockingPool& blocking() { return blocking_; }
    [[nodiscard]] std::size_t worker_count() const { return workers_.size(); }

    // Lends the calling thread to the io_context: it runs handlers as a worker does until the
    // io_context is stopped (io().stop() or shutdown()). A thread that would only wait anyway
    // works instead of holding a worker's place.
    void run_on_this_thread() { run_worker(); }

    // Stops both pools and waits for their threads; pending tasks are dropped. Idempotent.
    void shutdown();

private:
    // Lets shutdown() drop the pending handlers while the blocking pool is still alive.
    class IoContext : public boost::asio::io_context {
    public:
        using boost::asio::io_context::shutdown;
    };

    HelperRuntime();
    void run_worker();

    IoContext io_;
    peer::BlockingPool blocking_{BLOCKING_THREADS};
    std::optional<boost::asio::executor_work_guard<boost::asio::io_context::executor_type>> keep_running_;
    std::vector<std::thread> workers_;
};

// Logical processors of this machine, at least 1.
[[nodiscard]] unsigned logical_processor_count();

} // namespace quorvex::service
