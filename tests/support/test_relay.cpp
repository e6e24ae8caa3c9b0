// A Wine-side TCP relay for tests: native clients (curl, nghttp) are Linux processes that the
// helper refuses, so they reach it through this Windows process, which forwards bytes both ways.
//
//   test_relay.exe <port-file>
//
// Listens on 127.0.0.1 with a system-chosen port and writes "<port> <pid>" to <port-file> (its
// process serves as the owner process of test installations). For each client it reads the
// helper's published port from the registry and opens its own connection to it, holding the
// socket's Wine descriptor across the connect so that the helper sees this process as its owner.

#include "platform/win32/wine_socket_owner.hpp"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdio>
#include <string>
#include <thread>

namespace {

void pump(SOCKET from, SOCKET to) {
    char buffer[16384];
    for (;;) {
        const int n = ::recv(from, buffer, sizeof buffer, 0);
        if (n <= 0) {
            break;
        }
        for (int sent = 0; sent < n;) {
            const int m = ::send(to, buffer + sent, n - sent, 0);
            if (m <= 0) {
                return;
            }
            sent += m;
        }
    }
    ::shutdown(to, SD_SEND);
}

unsigned short published_helper_port() {
    DWORD port = 0;
    DWORD size = sizeof port;
    ::RegGetValueW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services\\QuorvexHelperService\\Runtime", L"Port",
                   RRF_RT_REG_DWORD, nullptr, &port, &size);
    return static_cast<unsigned short>(port);
}

void relay(SOCKET client) {
    const unsigned short helper_port = published_helper_port();
    SOCKET helper = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(helper_port);
    if (helper == INVALID_SOCKET) {
        ::closesocket(client);
        return;
    }
    quorvex::win32::keep_wine_descriptor_of(helper);
    if (::connect(helper, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::closesocket(client);
        ::closesocket(helper);
        return;
    }
    const BOOL on = TRUE;
    ::setsockopt(helper, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    std::thread upstream(pump, client, helper);
    pump(helper, client);
    upstream.join();
    ::shutdown(helper, SD_BOTH); // the kept descriptor outlives closesocket
    ::closesocket(helper);
    ::closesocket(client);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        (void)std::fputs("usage: test_relay <port-file>\n", stderr);
        return 2;
    }
    WSADATA wsa;
    if (::WSAStartup(MAKEWORD(2, 2), &wsa) != 0) {
        return 1;
    }

    SOCKET listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    if (listener == INVALID_SOCKET || ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, SOMAXCONN) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return 1;
    }

    // Written under another name and renamed, so a reader never sees a half-written port.
    const std::string port_file = argv[1];
    const std::string partial = port_file + ".partial";
    FILE* f = std::fopen(partial.c_str(), "w");
    if (f == nullptr) {
        return 1;
    }
    const bool written =
        std::fprintf(f, "%u %lu\n", static_cast<unsigned>(ntohs(address.sin_port)), ::GetCurrentProcessId()) > 0;
    if (std::fclose(f) != 0 || !written ||
        !::MoveFileExA(partial.c_str(), port_file.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        return 1;
    }

    for (;;) {
        SOCKET client = ::accept(listener, nullptr, nullptr);
        if (client == INVALID_SOCKET) {
            continue;
        }
        std::thread(relay, client).detach();
    }
}
