#pragma once
// What went wrong on the client's side of the helper, by kind. Each failed step of the verified
// connect and each error reply of the API has its own kind, so that callers (the C interface,
// the control tool's exit codes) act on the kind and show the error chain to people.

#include "common/error.hpp"

#include <cstddef>
#include <expected>
#include <string_view>

namespace quorvex::client {

enum class ClientErrorKind {
    InvalidArgument,        // a bad value from the caller (a digest or session ID of the wrong form)
    ServiceNotInstalled,    // the service manager knows no QuorvexHelperService
    ServiceNotRunning,      // installed, in another state than running
    ServiceProcessGone,     // reported running, but its process has ended
    NoPortPublished,        // no Runtime key or no Port value
    StalePort,              // the Port value was written before the service's process started
    NoListener,             // nothing listens on the published port
    ListenerNotHelper,      // another process listens on the published port
    ConnectionNotHelper,    // the connection was accepted by another process
    ConnectFailed,          // the TCP connect failed
    ConnectionRefused,      // the helper closed the connection without a reply: not its owner's account
    ProtocolMismatch,       // the helper speaks another protocol version
    CoreSha256Mismatch,     // the helper expects another Core build
    CoreFileUnavailable,    // the helper cannot open the Core file beside itself
    CoreVerificationFailed, // the Core file failed its digest check at start
    ProcessLaunchFailed,    // the Core could not be launched
    CoreStopFailed,         // the managed Core could not be stopped
    InvalidRequest,         // the helper refused the request as malformed (a client bug)
    InternalError,          // the helper failed internally
    UnexpectedReply,        // a reply that the API does not describe
    SystemError,            // a system call on the client's side failed
    // New kinds go above: the count below, and with it the error table's size, follows the last.
};
inline constexpr std::size_t CLIENT_ERROR_KIND_COUNT = static_cast<std::size_t>(ClientErrorKind::SystemError) + 1;

struct ClientError {
    ClientErrorKind kind;
    Error error;
};

template <class T>
using ClientResult = std::expected<T, ClientError>;

[[nodiscard]] inline std::unexpected<ClientError> fail(ClientErrorKind kind, Error error) {
    return std::unexpected<ClientError>(ClientError{kind, std::move(error)});
}

// A stable camelCase name per kind ("serviceNotRunning"), for scripts.
[[nodiscard]] std::string_view kind_name(ClientErrorKind kind);

} // namespace quorvex::client
