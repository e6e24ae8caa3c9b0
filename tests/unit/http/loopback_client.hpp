#pragma once
// Loopback clients for tests of the real server: a blocking raw socket with every wait bounded,
// and a runner for real client programs (curl, nghttp, h2load). Native only.

#include "http2_test_client.hpp"

#include <chrono>
#include <functional>
#include <string>

namespace quorvex::http::test {

class RawClient {
public:
    explicit RawClient(unsigned short port);
    ~RawClient();
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    [[nodiscard]] bool connected() const { return connected_; }
    [[nodiscard]] int fd() const { return fd_; }

    // Sends all of `bytes`; false if the peer stopped taking them (reset or closed).
    bool send(const std::string& bytes) const;

    // Ends the sending half: the peer reads the end of the stream after what was sent.
    void finish_sending() const;

    // Waits until the server's end has read every byte sent so far out of its receive queue, so
    // that bytes sent after this arrive in a read of their own; false if it did not within `wait`.
    [[nodiscard]] bool wait_until_peer_has_read(std::chrono::milliseconds wait = std::chrono::milliseconds(5000)) const;

    // Appends what arrives within `wait` to received(); false once the peer has closed.
    bool read_more(std::chrono::milliseconds wait);

    // One complete HTTP/1 reply (head and Content-Length body), or what came within 5 s.
    std::string read_reply();

    // Everything until the peer closes; false if it did not close within `wait`.
    bool read_until_closed(std::chrono::milliseconds wait = std::chrono::milliseconds(5000));

    // Sends `bytes` while reading what comes back, as a client that floods but still listens
    // would; stops sending when the peer takes no more. True once the peer has closed, false if
    // it did not close within `wait`.
    bool flood(const std::string& bytes, std::chrono::milliseconds wait = std::chrono::milliseconds(10000));

    [[nodiscard]] const std::string& received() const { return received_; }

    static std::string lower(std::string text);

private:
    int fd_ = -1;
    bool connected_ = false;
    std::string received_;
};

// An HTTP/2 client session over a real loopback connection.
class Http2LoopbackClient {
public:
    explicit Http2LoopbackClient(unsigned short port) : raw(port) {}

    // Sends what the session has queued and feeds it what the server sends, until `done` holds,
    // the server closes, or `wait` has passed; whether `done` held.
    bool exchange_until(const std::function<bool()>& done,
                        std::chrono::milliseconds wait = std::chrono::milliseconds(5000));
    // Sends a GET and waits for its complete reply; the reply's status, empty if none came.
    std::string get_status(const std::string& path);

    Http2TestClient session;
    RawClient raw;
    bool server_closed = false;

private:
    std::size_t fed_ = 0;
};

struct CommandResult {
    int status = -1;
    std::string output; // stdout and stderr
};

// Runs a shell command with a time limit of `seconds`; its output and exit status.
CommandResult run_command(const std::string& command, int seconds = 10);

} // namespace quorvex::http::test
