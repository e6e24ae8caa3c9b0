#pragma once
// SERVICE_OWNER: carries the owner's SID text from the command line to the service main
// function, which the dispatcher calls on another thread. Filled once, never cleared.

#include <mutex>
#include <optional>
#include <string>

namespace quorvex::command {

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

} // namespace quorvex::command
