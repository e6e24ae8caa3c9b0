#pragma once
// Makes a client under Wine the owner of its socket in the TCP table from the moment it
// connects, as Windows does. Wine names a socket's owning process as the process whose
// descriptor table holds the socket's Unix descriptor, else PID 0. wineserver performs the
// connect itself, and the client process fetches the descriptor only when it next needs it (a
// send, a setsockopt; not a getsockname). Until then the helper's peer check sees PID 0 and
// refuses an owner's connection. Taking a descriptor before the connect closes that window.
//
// Windows code cannot close a Unix descriptor (ntdll exports no release), so it stays open until
// the process exits: end such a connection with shutdown, which acts on the socket itself, before
// closesocket. On Windows ntdll has no such export and this does nothing.

#include <winsock2.h>

namespace quorvex::win32 {

inline void keep_wine_descriptor_of(SOCKET socket) {
    using HandleToFd = int(__cdecl*)(HANDLE, unsigned int, int*, unsigned int*);
    static const auto handle_to_fd = reinterpret_cast<HandleToFd>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_server_handle_to_fd")));
    int fd = -1;
    if (handle_to_fd) {
        // NOLINTNEXTLINE(performance-no-int-to-ptr): a SOCKET is a kernel handle that Winsock types as an integer
        handle_to_fd(reinterpret_cast<HANDLE>(socket), 0, &fd, nullptr);
    }
}

} // namespace quorvex::win32
