#include "loopback_client.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>
#include <utility>

namespace quorvex::http::test {

using namespace std::chrono_literals;

RawClient::RawClient(unsigned short port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

RawClient::~RawClient() { ::close(fd_); }

bool RawClient::send(const std::string& bytes) const {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const auto n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

void RawClient::finish_sending() const { ::shutdown(fd_, SHUT_WR); }

namespace {

// /proc/net/tcp's form of an IPv4 end: the address's bytes as one native word, then the port.
std::string proc_net_tcp_end(const sockaddr_in& end) {
    char text[16];
    (void)std::snprintf(text, sizeof text, "%08X:%04X", end.sin_addr.s_addr, ntohs(end.sin_port));
    return text;
}

// The receive queue of the connection whose local end is `local` and remote end `remote`.
std::optional<unsigned long> receive_queue(const std::string& local, const std::string& remote) {
    std::ifstream table("/proc/net/tcp");
    std::string line;
    std::getline(table, line); // the column names
    while (std::getline(table, line)) {
        std::istringstream row(line);
        std::string slot, row_local, row_remote, state, queues;
        row >> slot >> row_local >> row_remote >> state >> queues;
        if (row_local == local && row_remote == remote) {
            return std::stoul(queues.substr(queues.find(':') + 1), nullptr, 16);
        }
    }
    return std::nullopt;
}

} // namespace

bool RawClient::wait_until_peer_has_read(std::chrono::milliseconds wait) const {
    sockaddr_in own{}, peer{};
    socklen_t own_size = sizeof own, peer_size = sizeof peer;
    if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&own), &own_size) != 0 ||
        ::getpeername(fd_, reinterpret_cast<sockaddr*>(&peer), &peer_size) != 0) {
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (std::chrono::steady_clock::now() < deadline) {
        int unsent = 0;
        // Everything left this end, and the server's end holds none of it unread.
        if (::ioctl(fd_, TIOCOUTQ, &unsent) == 0 && unsent == 0 &&
            receive_queue(proc_net_tcp_end(peer), proc_net_tcp_end(own)) == 0UL) {
            return true;
        }
        std::this_thread::sleep_for(5ms);
    }
    return false;
}

bool RawClient::read_more(std::chrono::milliseconds wait) {
    pollfd ready{fd_, POLLIN, 0};
    if (::poll(&ready, 1, static_cast<int>(wait.count())) <= 0) {
        return true;
    }
    char buffer[16384];
    const auto n = ::recv(fd_, buffer, sizeof buffer, 0);
    if (n <= 0) {
        return false;
    }
    received_.append(buffer, static_cast<std::size_t>(n));
    return true;
}

std::string RawClient::read_reply() {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (std::chrono::steady_clock::now() < deadline) {
        const auto head_end = received_.find("\r\n\r\n");
        if (head_end != std::string::npos) {
            const auto length_at = lower(received_.substr(0, head_end)).find("content-length: ");
            const auto length = length_at == std::string::npos ? 0 : std::stoul(received_.substr(length_at + 16));
            const auto total = head_end + 4 + length;
            if (received_.size() >= total) {
                auto reply = received_.substr(0, total);
                received_.erase(0, total);
                return reply;
            }
        }
        if (!read_more(100ms)) {
            break;
        }
    }
    return std::exchange(received_, {});
}

bool RawClient::read_until_closed(std::chrono::milliseconds wait) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (std::chrono::steady_clock::now() < deadline) {
        if (!read_more(50ms)) {
            return true;
        }
    }
    return false;
}

bool RawClient::flood(const std::string& bytes, std::chrono::milliseconds wait) {
    const int flags = ::fcntl(fd_, F_GETFL);
    ::fcntl(fd_, F_SETFL, flags | O_NONBLOCK);
    const auto deadline = std::chrono::steady_clock::now() + wait;
    std::size_t sent = 0;
    bool closed = false;
    while (!closed && std::chrono::steady_clock::now() < deadline) {
        const bool sending = sent < bytes.size();
        pollfd ready{fd_, static_cast<short>(POLLIN | (sending ? POLLOUT : 0)), 0};
        if (::poll(&ready, 1, 50) <= 0) {
            continue;
        }
        if ((ready.revents & POLLOUT) != 0) {
            const auto n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n > 0) {
                sent += static_cast<std::size_t>(n);
            } else if (errno != EAGAIN && errno != EWOULDBLOCK) {
                sent = bytes.size(); // the peer takes no more
            }
        }
        if ((ready.revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            char buffer[16384];
            const auto n = ::recv(fd_, buffer, sizeof buffer, 0);
            if (n > 0) {
                received_.append(buffer, static_cast<std::size_t>(n));
            } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
                closed = true;
            }
        }
    }
    ::fcntl(fd_, F_SETFL, flags);
    return closed;
}

std::string RawClient::lower(std::string text) {
    for (auto& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

bool Http2LoopbackClient::exchange_until(const std::function<bool()>& done, std::chrono::milliseconds wait) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        if (const auto output = session.take_output(); !output.empty()) {
            (void)raw.send(output);
        }
        if (done()) {
            return true;
        }
        if (server_closed || std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        server_closed = !raw.read_more(20ms);
        if (raw.received().size() > fed_) {
            (void)session.receive(raw.received().substr(fed_));
            fed_ = raw.received().size();
        }
    }
}

std::string Http2LoopbackClient::get_status(const std::string& path) {
    const auto stream = session.request("GET", path);
    (void)exchange_until([&] { return session.streams[stream].closed; });
    return session.streams[stream].header(":status").value_or("");
}

CommandResult run_command(const std::string& command, int seconds) {
    CommandResult result;
    // NOLINTNEXTLINE(cert-env33-c): the tests drive curl, nghttp and h2load through the shell on purpose.
    FILE* pipe = ::popen(("timeout " + std::to_string(seconds) + " " + command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) {
        return result;
    }
    char buffer[4096];
    while (const auto n = std::fread(buffer, 1, sizeof buffer, pipe)) {
        result.output.append(buffer, n);
    }
    const int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

} // namespace quorvex::http::test
