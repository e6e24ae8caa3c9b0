#pragma once
// StopFlag: the stop request, written by the control handler's thread (outside the runtime) and
// read by the StopSignal on the runtime. StopSignal: what the helper server awaits as its
// shutdown trigger; it sends the stop-pending report before it completes.

#include "service/windows/service_status.hpp"

#include <boost/asio/awaitable.hpp>

#include <memory>

namespace quorvex::service {

class StopFlagState; // shared between the writer and the reader

// The writer side, held by the control handler's context for the life of the process.
// Should it be destroyed, a waiting reader wakes as if a stop had been requested.
class StopFlagWriter {
public:
    explicit StopFlagWriter(std::shared_ptr<StopFlagState> state);
    StopFlagWriter(StopFlagWriter&&) noexcept = default;
    StopFlagWriter& operator=(StopFlagWriter&&) noexcept;
    StopFlagWriter(const StopFlagWriter&) = delete;
    StopFlagWriter& operator=(const StopFlagWriter&) = delete;
    ~StopFlagWriter();

    // True while the StopSignal (the reader) still exists.
    [[nodiscard]] bool has_reader() const;
    // Sets the flag and wakes the reader. Safe from any thread.
    void request_stop();

private:
    std::shared_ptr<StopFlagState> state_;
};

// The reader side. Its destruction tells the writer that nobody waits for a stop any more.
class StopSignal {
public:
    StopSignal(std::shared_ptr<StopFlagState> state, ServiceStatusReporter& status);
    StopSignal(StopSignal&&) noexcept;
    StopSignal& operator=(StopSignal&&) noexcept;
    StopSignal(const StopSignal&) = delete;
    StopSignal& operator=(const StopSignal&) = delete;
    ~StopSignal();

    // Completes once a stop was requested (at once if it already was) and the stop-pending
    // report was sent (its failure is ignored). Awaited once. Cancelling the awaiting operation
    // (an awaitable operator, a cancellation slot) ends it with operation_aborted and no report.
    // The StopSignal may be destroyed while this waits.
    boost::asio::awaitable<void> wait();

private:
    std::shared_ptr<StopFlagState> state_;
    ServiceStatusReporter* status_;
};

// A new flag, false, with its two sides.
struct StopFlag {
    StopFlagWriter writer;
    std::shared_ptr<StopFlagState> reader_state;
};
[[nodiscard]] StopFlag make_stop_flag();

} // namespace quorvex::service
