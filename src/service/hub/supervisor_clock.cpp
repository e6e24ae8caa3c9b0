#include "service/hub/supervisor_clock.hpp"

#include <thread>

namespace quorvex::hub {

SupervisorClock::time_point SteadySupervisorClock::now() { return std::chrono::steady_clock::now(); }

void SteadySupervisorClock::sleep_for(std::chrono::milliseconds duration) { std::this_thread::sleep_for(duration); }

} // namespace quorvex::hub
