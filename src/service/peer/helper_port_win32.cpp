#include "service/peer/helper_port.hpp"

#include "platform/win32/system_error.hpp"
#include "platform/win32/unique_handle.hpp"
#include "platform/win32/wide.hpp"

#include <ws2tcpip.h>

#include <string>

namespace quorvex::peer {
namespace {

const std::wstring& runtime_key_path() {
    static const std::wstring path = win32::to_wide(RUNTIME_KEY_PATH);
    return path;
}

} // namespace

Result<boost::asio::ip::tcp::acceptor> open_loopback_listener(const boost::asio::any_io_executor& executor) {
    win32::UniqueSocket socket(
        ::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT));
    if (!socket) {
        return fail(win32::os_error(static_cast<DWORD>(::WSAGetLastError())));
    }

    u_long non_blocking = 1;
    if (::ioctlsocket(socket.get(), FIONBIO, &non_blocking) != 0) {
        return fail(win32::os_error(static_cast<DWORD>(::WSAGetLastError())));
    }

    // No other socket may bind 127.0.0.1 on this port, with SO_REUSEADDR or without, of any
    // account. Windows still lets another account bind the wildcard address on the same port;
    // the more specific bind keeps the loopback connections (docs/security.md).
    const BOOL exclusive = TRUE;
    if (::setsockopt(socket.get(), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive),
                     sizeof exclusive) != 0) {
        return fail(win32::os_error(static_cast<DWORD>(::WSAGetLastError())));
    }

    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (::bind(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        return fail(win32::os_error(static_cast<DWORD>(::WSAGetLastError())));
    }
    if (::listen(socket.get(), LISTEN_BACKLOG) != 0) {
        return fail(win32::os_error(static_cast<DWORD>(::WSAGetLastError())));
    }

    boost::asio::ip::tcp::acceptor acceptor(executor);
    boost::system::error_code error;
    acceptor.assign(boost::asio::ip::tcp::v4(), socket.get(), error);
    if (error) {
        return fail(win32::os_error(static_cast<DWORD>(error.value())));
    }
    (void)socket.release(); // the acceptor owns it now
    return acceptor;
}

Result<void> publish_port(std::uint16_t port) {
    win32::UniqueRegistryKey key;
    const LSTATUS created = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, runtime_key_path().c_str(), 0, nullptr,
                                              REG_OPTION_VOLATILE, KEY_SET_VALUE, nullptr, key.put(), nullptr);
    if (created != ERROR_SUCCESS) {
        return fail(win32::os_error(static_cast<DWORD>(created)));
    }
    const DWORD value = port;
    const LSTATUS written =
        ::RegSetValueExW(key.get(), PORT_VALUE_NAME, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    if (written != ERROR_SUCCESS) {
        return fail(win32::os_error(static_cast<DWORD>(written)));
    }
    return {};
}

void unpublish_port() { ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, runtime_key_path().c_str()); }

} // namespace quorvex::peer
