#include "service/peer/http/wake_signal.hpp"

#include <boost/asio/redirect_error.hpp>
#include <boost/asio/use_awaitable.hpp>

namespace quorvex::http {

WakeSignal::WakeSignal(const boost::asio::any_io_executor& strand)
    : timer_(strand, boost::asio::steady_timer::time_point::max())
{
}

boost::asio::awaitable<void> WakeSignal::wait()
{
    boost::system::error_code cancelled;
    co_await timer_.async_wait(boost::asio::redirect_error(boost::asio::use_awaitable, cancelled));
}

void WakeSignal::notify()
{
    timer_.cancel();
}

} // namespace quorvex::http
