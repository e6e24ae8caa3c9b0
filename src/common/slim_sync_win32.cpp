#include "common/slim_sync.hpp"

#include <windows.h>

namespace quorvex {
namespace {

static_assert(sizeof(SRWLOCK) == sizeof(void*) && sizeof(CONDITION_VARIABLE) == sizeof(void*));

// Both start as a null pointer (SRWLOCK_INIT, CONDITION_VARIABLE_INIT); the system only ever
// reads and writes them in place.
SRWLOCK* srw_lock(void*& slot) { return reinterpret_cast<SRWLOCK*>(&slot); }
CONDITION_VARIABLE* condition(void*& slot) { return reinterpret_cast<CONDITION_VARIABLE*>(&slot); }

} // namespace

void SlimMutex::lock() noexcept { ::AcquireSRWLockExclusive(srw_lock(srw_lock_)); }
void SlimMutex::unlock() noexcept { ::ReleaseSRWLockExclusive(srw_lock(srw_lock_)); }

void SlimCondition::notify_one() noexcept { ::WakeConditionVariable(condition(condition_)); }
void SlimCondition::notify_all() noexcept { ::WakeAllConditionVariable(condition(condition_)); }

void SlimCondition::wait_at_most(std::unique_lock<SlimMutex>& lock, unsigned long milliseconds) {
    // FALSE means the time ran out; the lock is held again either way, and the callers look at
    // their predicate and deadline again.
    (void)::SleepConditionVariableSRW(condition(condition_), srw_lock(lock.mutex()->srw_lock_), milliseconds, 0);
}

} // namespace quorvex
