#pragma once
// Every kind of client error in one row: its name for scripts, its status in the C interface and
// that status's name, the control tool's exit code, and what a person should do about it
// (docs/integration.md's table of errors). Rows follow the enumeration's order.

#include "client/client_error.hpp"
#include "client/ctl/ctl_command_line.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quorvex::client {

struct ClientErrorRow {
    ClientErrorKind kind;
    std::string_view json_name; // stable camelCase, for scripts
    std::uint32_t c_status;     // its qvx_status
    std::string_view c_name;    // what qvx_status_name says for it
    int exit_code;              // QuorvexHelperCtl.exe's
    std::string_view advice;
};

namespace advice {
inline constexpr std::string_view MALFORMED = "a malformed request: check the arguments; report it if they are right";
inline constexpr std::string_view NOT_PUBLISHED =
    "the service's process ended abnormally or has not published its port yet: wait a moment and try again; if it "
    "persists, install the helper again";
inline constexpr std::string_view NOT_ACCEPTING =
    "the helper does not accept connections on its port: restart the service or install it again";
inline constexpr std::string_view PORT_TAKEN = "another program holds the helper's port: send it nothing, find that "
                                               "program (netstat -ano names it), then restart the service";
inline constexpr std::string_view CORE_FILE =
    "QuorvexCore.exe beside the helper is missing, unreadable or altered: repair the installation";
inline constexpr std::string_view REPORT =
    "try once more, then report the failure with the output of QuorvexHelperCtl.exe logs";
} // namespace advice

inline constexpr std::array<ClientErrorRow, CLIENT_ERROR_KIND_COUNT> CLIENT_ERROR_ROWS{{
    {ClientErrorKind::InvalidArgument, "invalidArgument", 1, "QVX_ERROR_INVALID_ARGUMENT", ctl::EXIT_USAGE,
     advice::MALFORMED},
    {ClientErrorKind::ServiceNotInstalled, "serviceNotInstalled", 2, "QVX_ERROR_SERVICE_NOT_INSTALLED",
     ctl::EXIT_NOT_INSTALLED,
     "install it, elevated: QuorvexHelper.exe install --owner-pid <the desktop application's process ID>"},
    {ClientErrorKind::ServiceNotRunning, "serviceNotRunning", 3, "QVX_ERROR_SERVICE_NOT_RUNNING", ctl::EXIT_NOT_RUNNING,
     "start it (sc start QuorvexHelperService), or install it again"},
    {ClientErrorKind::ServiceProcessGone, "serviceProcessGone", 4, "QVX_ERROR_SERVICE_PROCESS_GONE",
     ctl::EXIT_NOT_RUNNING, advice::NOT_PUBLISHED},
    {ClientErrorKind::NoPortPublished, "noPortPublished", 5, "QVX_ERROR_NO_PORT_PUBLISHED", ctl::EXIT_NOT_RUNNING,
     advice::NOT_PUBLISHED},
    {ClientErrorKind::StalePort, "stalePort", 6, "QVX_ERROR_STALE_PORT", ctl::EXIT_NOT_VERIFIED, advice::NOT_PUBLISHED},
    {ClientErrorKind::NoListener, "noListener", 7, "QVX_ERROR_NO_LISTENER", ctl::EXIT_NOT_VERIFIED,
     advice::NOT_ACCEPTING},
    {ClientErrorKind::ListenerNotHelper, "listenerNotHelper", 8, "QVX_ERROR_LISTENER_NOT_HELPER",
     ctl::EXIT_NOT_VERIFIED, advice::PORT_TAKEN},
    {ClientErrorKind::ConnectionNotHelper, "connectionNotHelper", 9, "QVX_ERROR_CONNECTION_NOT_HELPER",
     ctl::EXIT_NOT_VERIFIED, advice::PORT_TAKEN},
    {ClientErrorKind::ConnectFailed, "connectFailed", 10, "QVX_ERROR_CONNECT_FAILED", ctl::EXIT_FAILED,
     advice::NOT_ACCEPTING},
    {ClientErrorKind::ConnectionRefused, "connectionRefused", 11, "QVX_ERROR_CONNECTION_REFUSED",
     ctl::EXIT_REFUSED_ACCOUNT,
     "the helper serves another Windows account: install it again with a process of this user"},
    {ClientErrorKind::ProtocolMismatch, "protocolMismatch", 12, "QVX_ERROR_PROTOCOL_MISMATCH", ctl::EXIT_FAILED,
     "the helper and this tool come from different releases: install matching versions"},
    {ClientErrorKind::CoreSha256Mismatch, "coreSha256Mismatch", 13, "QVX_ERROR_CORE_SHA256_MISMATCH",
     ctl::EXIT_REQUEST_REFUSED,
     "the installed helper expects another Core build: install the matching helper and Core"},
    {ClientErrorKind::CoreFileUnavailable, "coreFileUnavailable", 14, "QVX_ERROR_CORE_FILE_UNAVAILABLE",
     ctl::EXIT_REQUEST_REFUSED, advice::CORE_FILE},
    {ClientErrorKind::CoreVerificationFailed, "coreVerificationFailed", 15, "QVX_ERROR_CORE_VERIFICATION_FAILED",
     ctl::EXIT_REQUEST_REFUSED, advice::CORE_FILE},
    {ClientErrorKind::ProcessLaunchFailed, "processLaunchFailed", 16, "QVX_ERROR_PROCESS_LAUNCH_FAILED",
     ctl::EXIT_REQUEST_REFUSED,
     "the Core could not be launched: repair the installation if the error is about the file"},
    {ClientErrorKind::CoreStopFailed, "coreStopFailed", 17, "QVX_ERROR_CORE_STOP_FAILED", ctl::EXIT_REQUEST_REFUSED,
     "the Core could not be ended: try once more, then restart the service"},
    {ClientErrorKind::InvalidRequest, "invalidRequest", 18, "QVX_ERROR_INVALID_REQUEST", ctl::EXIT_REQUEST_REFUSED,
     advice::MALFORMED},
    {ClientErrorKind::InternalError, "internalError", 19, "QVX_ERROR_INTERNAL", ctl::EXIT_REQUEST_REFUSED,
     advice::REPORT},
    {ClientErrorKind::UnexpectedReply, "unexpectedReply", 20, "QVX_ERROR_UNEXPECTED_REPLY", ctl::EXIT_FAILED,
     advice::REPORT},
    {ClientErrorKind::SystemError, "systemError", 21, "QVX_ERROR_SYSTEM", ctl::EXIT_FAILED, advice::REPORT},
}};

// A row left out (the array's size is the kinds' count, so a missing row is an empty one), out
// of order or incomplete fails the build.
static_assert([] {
    for (std::size_t i = 0; i < CLIENT_ERROR_ROWS.size(); ++i) {
        if (CLIENT_ERROR_ROWS[i].kind != static_cast<ClientErrorKind>(i) || CLIENT_ERROR_ROWS[i].c_status == 0 ||
            CLIENT_ERROR_ROWS[i].json_name.empty() || CLIENT_ERROR_ROWS[i].c_name.empty() ||
            CLIENT_ERROR_ROWS[i].advice.empty()) {
            return false;
        }
    }
    return true;
}());

[[nodiscard]] constexpr const ClientErrorRow& row_of(ClientErrorKind kind) {
    return CLIENT_ERROR_ROWS[static_cast<std::size_t>(kind)];
}

} // namespace quorvex::client
