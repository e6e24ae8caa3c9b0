#include "common/detached_thread.hpp"

#include <thread>

namespace quorvex {

void start_detached_thread(std::move_only_function<void()> body) { std::thread(std::move(body)).detach(); }

} // namespace quorvex
