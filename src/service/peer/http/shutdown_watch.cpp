#include "service/peer/http/shutdown_watch.hpp"

#include <boost/asio/post.hpp>

namespace quorvex::http {

ShutdownWatch::ShutdownWatch(boost::asio::any_io_executor strand) : strand_(std::move(strand)) {}

void ShutdownWatch::request()
{
    boost::asio::post(strand_, [self = shared_from_this()] {
        if (self->requested_) {
            return;
        }
        self->requested_ = true;
        if (self->hook_) {
            self->hook_();
        }
    });
}

ShutdownWatch::HookGuard ShutdownWatch::install_hook(std::function<void()> hook)
{
    hook_ = std::move(hook);
    return HookGuard(*this);
}

} // namespace quorvex::http
