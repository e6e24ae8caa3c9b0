#pragma once
// The client of the helper API: it makes sure it talks to the helper service before it sends a
// byte, and turns every reply into a result or a typed error (Windows only). One keep-alive
// HTTP/1.1 connection, verified again whenever it is opened again. Not thread-safe: one thread
// at a time per client.

#include "client/api_replies.hpp"
#include "client/client_error.hpp"
#include "client/helper_service.hpp"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace quorvex::client {

class HelperConnection;

// A Core started by this client: what stops it (the session ID) and where it listens.
struct StartedCore {
    std::string session_id;
    std::string address;
    std::uint32_t pid = 0;
};

class HelperClient {
public:
    HelperClient();
    // The system's reads the checks rest on (for the control tool's step-by-step report).
    [[nodiscard]] HelperSystem& system() { return *system_; }
    ~HelperClient();
    HelperClient(HelperClient&&) noexcept;
    HelperClient& operator=(HelperClient&&) noexcept;

    // The verified connect: the service runs, its process is alive, its port was published after
    // the process started, the listener and then the server's end of the connection are the
    // service's. Requests connect on their own; this only says early whether they could.
    [[nodiscard]] ClientResult<HelperEndpoint> connect();
    // Drops the connection; the next request opens and verifies a new one.
    void disconnect();

    // The helper's path and protocol for a helper that expects the Core of `core_sha256`.
    [[nodiscard]] ClientResult<PingReply> ping(std::string_view core_sha256);
    // Starts the Core with a fresh session ID and pipe address from the system's generator.
    [[nodiscard]] ClientResult<StartedCore> start();
    [[nodiscard]] ClientResult<StopResult> stop(std::string_view session_id);
    // The helper's last 100 log lines, joined by line feeds.
    [[nodiscard]] ClientResult<std::string> logs();

private:
    enum class Method { Get, Post };
    [[nodiscard]] ClientResult<HttpReply> request(Method method, std::string_view target, const std::string& body);

    std::unique_ptr<HelperSystem> system_;
    std::unique_ptr<HelperConnection> connection_;
    HelperEndpoint endpoint_;
};

} // namespace quorvex::client
