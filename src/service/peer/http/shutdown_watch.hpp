#pragma once
// The drain signal as one connection sees it. The server may request the shutdown from any
// thread; the request is carried onto the connection's strand, where the session's hook reacts
// (close an idle connection, announce GOAWAY). Everything but request() runs on that strand.

#include <boost/asio/any_io_executor.hpp>

#include <functional>
#include <memory>

namespace quorvex::http {

class ShutdownWatch : public std::enable_shared_from_this<ShutdownWatch> {
public:
    explicit ShutdownWatch(boost::asio::any_io_executor strand);

    // Any thread, any number of times.
    void request();

    [[nodiscard]] bool requested() const { return requested_; }

    // Installs the session's reaction for as long as the returned guard lives; a session must
    // never leave a hook behind that refers to its own, ended, state.
    class HookGuard {
    public:
        explicit HookGuard(ShutdownWatch& watch) : watch_(watch) {}
        HookGuard(const HookGuard&) = delete;
        HookGuard& operator=(const HookGuard&) = delete;
        ~HookGuard() { watch_.hook_ = nullptr; }

    private:
        ShutdownWatch& watch_;
    };
    [[nodiscard]] HookGuard install_hook(std::function<void()> hook);

private:
    boost::asio::any_io_executor strand_;
    bool requested_ = false;
    std::function<void()> hook_;
};

} // namespace quorvex::http
