#include "client/ctl/doctor_advice.hpp"

namespace quorvex::client::ctl {

std::string_view advice_for(ClientErrorKind kind) {
    switch (kind) {
    case ClientErrorKind::ServiceNotInstalled:
        return "install it, elevated: QuorvexHelper.exe install --owner-pid <the desktop application's process ID>";
    case ClientErrorKind::ServiceNotRunning:
        return "start it (sc start QuorvexHelperService), or install it again";
    case ClientErrorKind::ServiceProcessGone:
    case ClientErrorKind::NoPortPublished:
    case ClientErrorKind::StalePort:
        return "the service's process ended abnormally or has not published its port yet: wait a moment and try "
               "again; if it persists, install the helper again";
    case ClientErrorKind::NoListener:
    case ClientErrorKind::ConnectFailed:
        return "the helper does not accept connections on its port: restart the service or install it again";
    case ClientErrorKind::ListenerNotHelper:
    case ClientErrorKind::ConnectionNotHelper:
        return "another program holds the helper's port: send it nothing, find that program (netstat -ano names "
               "it), then restart the service";
    case ClientErrorKind::ConnectionRefused:
        return "the helper serves another Windows account: install it again with a process of this user";
    case ClientErrorKind::ProtocolMismatch:
        return "the helper and this tool come from different releases: install matching versions";
    case ClientErrorKind::CoreSha256Mismatch:
        return "the installed helper expects another Core build: install the matching helper and Core";
    case ClientErrorKind::CoreFileUnavailable:
    case ClientErrorKind::CoreVerificationFailed:
        return "QuorvexCore.exe beside the helper is missing, unreadable or altered: repair the installation";
    case ClientErrorKind::ProcessLaunchFailed:
        return "the Core could not be launched: repair the installation if the error is about the file";
    case ClientErrorKind::CoreStopFailed:
        return "the Core could not be ended: try once more, then restart the service";
    case ClientErrorKind::InvalidRequest:
    case ClientErrorKind::InvalidArgument:
        return "a malformed request: check the arguments; report it if they are right";
    case ClientErrorKind::InternalError:
    case ClientErrorKind::UnexpectedReply:
    case ClientErrorKind::SystemError:
        return "try once more, then report the failure with the output of QuorvexHelperCtl.exe logs";
    }
    return "report the failure";
}

} // namespace quorvex::client::ctl
