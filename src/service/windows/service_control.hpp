#pragma once
// The stop request: what the control handler does with each control code the Service Control
// Manager sends, and the StopFlag a stop control sets. The flag is written on the control
// handler's thread (outside the runtime) and read by a StopFlagReader on the runtime.

#include <boost/asio/awaitable.hpp>

#include <cstdint>
#include <memory>

namespace quorvex::service {

// Control codes and handler results, with names that stay clear of the windows.h macros.
inline constexpr std::uint32_t CONTROL_STOP = 1;              // SERVICE_CONTROL_STOP
inline constexpr std::uint32_t CONTROL_INTERROGATE = 4;       // SERVICE_CONTROL_INTERROGATE
inline constexpr std::uint32_t CONTROL_HANDLED = 0;           // NO_ERROR
inline constexpr std::uint32_t CONTROL_NOT_IMPLEMENTED = 120; // ERROR_CALL_NOT_IMPLEMENTED

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

    // True while the reader still exists.
    [[nodiscard]] bool has_reader() const;
    // Sets the flag and wakes the reader. Safe from any thread.
    void request_stop();

private:
    std::shared_ptr<StopFlagState> state_;
};

// The reader side. Its destruction tells the writer that nobody waits for a stop any more.
class StopFlagReader {
public:
    explicit StopFlagReader(std::shared_ptr<StopFlagState> state);
    StopFlagReader(StopFlagReader&&) noexcept = default;
    StopFlagReader& operator=(StopFlagReader&&) noexcept;
    StopFlagReader(const StopFlagReader&) = delete;
    StopFlagReader& operator=(const StopFlagReader&) = delete;
    ~StopFlagReader();

    // Completes once a stop was requested (at once if it already was) or the writer is gone.
    // Cancelling the awaiting operation ends it with operation_aborted. The wait holds the
    // state itself, so the reader may be destroyed while it waits.
    [[nodiscard]] boost::asio::awaitable<void> wait() const;

private:
    std::shared_ptr<StopFlagState> state_;
};

// A new flag, false, with its two sides.
struct StopFlag {
    StopFlagWriter writer;
    std::shared_ptr<StopFlagState> reader_state;
};
[[nodiscard]] StopFlag make_stop_flag();

// Stop sets the flag while a reader still waits for it; interrogate needs nothing (the SCM
// keeps the last report); every other control is refused. Never sends a report itself.
[[nodiscard]] std::uint32_t handle_service_control(std::uint32_t control, StopFlagWriter& writer);

} // namespace quorvex::service
