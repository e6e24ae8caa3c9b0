#include "command/service_owner.hpp"

namespace quorvex::command {

ServiceOwnerCell SERVICE_OWNER;

bool ServiceOwnerCell::store(std::string owner_sid) {
    std::lock_guard lock(mutex_);
    if (owner_sid_) return false;
    owner_sid_ = std::move(owner_sid);
    return true;
}

std::optional<std::string> ServiceOwnerCell::load() const {
    std::lock_guard lock(mutex_);
    return owner_sid_;
}

} // namespace quorvex::command
