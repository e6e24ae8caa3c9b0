#pragma once
// A thread that nobody joins, for work that outlives its starter (a Core's relay).

#include <functional>

namespace quorvex {

// Runs `body` on a new thread, detached. Throws std::system_error when no thread can be started;
// `body` is then destroyed unrun.
void start_detached_thread(std::move_only_function<void()> body);

} // namespace quorvex
