#pragma once
// The command line of QuorvexHelperCtl.exe and its exit codes.

#include "client/client_error.hpp"

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace quorvex::client::ctl {

enum class CtlVerb { Status, Ping, Start, Stop, Logs, Doctor, Help };

struct CtlCommand {
    CtlVerb verb = CtlVerb::Help;
    bool json = false;                      // --json: one JSON object per result, for scripts
    std::optional<std::string> core_sha256; // --core-sha256 (status, ping, doctor)
    std::string session_id;                 // --session (stop)
    bool follow = false;                    // --follow (logs)
};

inline constexpr std::string_view CTL_USAGE =
    "Usage: QuorvexHelperCtl.exe <command> [--json]\n"
    "Commands:\n"
    "  status [--core-sha256 D]   the service, its port, the verified listener, the helper's path and protocol\n"
    "  ping [--core-sha256 D]     the helper's path and protocol, for a helper that expects the Core D\n"
    "  start                      start the Core with a fresh session; prints the session ID, address and pid\n"
    "  stop --session S           stop the Core of session S\n"
    "  logs [--follow]            the helper's last 100 log lines; --follow keeps printing new ones\n"
    "  doctor [--core-sha256 D]   every check in order; names the first that fails and what to do\n"
    "D defaults to the digest of the Core this tool was built with.\n"
    "Exit codes: 0 success, 1 failed, 2 usage, 3 not installed, 4 not running,\n"
    "            5 listener not verified, 6 connection refused for this account, 7 the helper refused the request.\n";

// The arguments after the executable's path; a usage failure is a single-link error.
[[nodiscard]] Result<CtlCommand> parse_ctl_command(std::span<const std::string> args);

inline constexpr int EXIT_SUCCESS_CODE = 0;
inline constexpr int EXIT_FAILED = 1;
inline constexpr int EXIT_USAGE = 2;
inline constexpr int EXIT_NOT_INSTALLED = 3;
inline constexpr int EXIT_NOT_RUNNING = 4;
inline constexpr int EXIT_NOT_VERIFIED = 5;
inline constexpr int EXIT_REFUSED_ACCOUNT = 6;
inline constexpr int EXIT_REQUEST_REFUSED = 7;

// The exit code that tells a script what kind of failure ended the command.
[[nodiscard]] int exit_code_of(ClientErrorKind kind);

} // namespace quorvex::client::ctl
