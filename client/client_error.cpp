#include "client/client_error.hpp"

namespace quorvex::client {

std::string_view kind_name(ClientErrorKind kind) {
    switch (kind) {
    case ClientErrorKind::InvalidArgument:
        return "invalidArgument";
    case ClientErrorKind::ServiceNotInstalled:
        return "serviceNotInstalled";
    case ClientErrorKind::ServiceNotRunning:
        return "serviceNotRunning";
    case ClientErrorKind::ServiceProcessGone:
        return "serviceProcessGone";
    case ClientErrorKind::NoPortPublished:
        return "noPortPublished";
    case ClientErrorKind::StalePort:
        return "stalePort";
    case ClientErrorKind::NoListener:
        return "noListener";
    case ClientErrorKind::ListenerNotHelper:
        return "listenerNotHelper";
    case ClientErrorKind::ConnectionNotHelper:
        return "connectionNotHelper";
    case ClientErrorKind::ConnectFailed:
        return "connectFailed";
    case ClientErrorKind::ConnectionRefused:
        return "connectionRefused";
    case ClientErrorKind::ProtocolMismatch:
        return "protocolMismatch";
    case ClientErrorKind::CoreSha256Mismatch:
        return "coreSha256Mismatch";
    case ClientErrorKind::CoreFileUnavailable:
        return "coreFileUnavailable";
    case ClientErrorKind::CoreVerificationFailed:
        return "coreVerificationFailed";
    case ClientErrorKind::ProcessLaunchFailed:
        return "processLaunchFailed";
    case ClientErrorKind::CoreStopFailed:
        return "coreStopFailed";
    case ClientErrorKind::InvalidRequest:
        return "invalidRequest";
    case ClientErrorKind::InternalError:
        return "internalError";
    case ClientErrorKind::UnexpectedReply:
        return "unexpectedReply";
    case ClientErrorKind::SystemError:
        return "systemError";
    }
    return "unknown";
}

} // namespace quorvex::client
