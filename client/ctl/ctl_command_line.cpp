#include "client/ctl/ctl_command_line.hpp"

#include "client/client_error_table.hpp"
#include "client/session_tokens.hpp"

#include <array>
#include <utility>

namespace quorvex::client::ctl {
namespace {

Result<CtlCommand> usage(std::string text) { return quorvex::fail(Error::message(std::move(text))); }

std::optional<CtlVerb> verb_named(std::string_view name) {
    constexpr std::array<std::pair<std::string_view, CtlVerb>, 8> VERBS{{{"status", CtlVerb::Status},
                                                                         {"ping", CtlVerb::Ping},
                                                                         {"start", CtlVerb::Start},
                                                                         {"stop", CtlVerb::Stop},
                                                                         {"logs", CtlVerb::Logs},
                                                                         {"doctor", CtlVerb::Doctor},
                                                                         {"help", CtlVerb::Help},
                                                                         {"--help", CtlVerb::Help}}};
    for (const auto& [verb_name, verb] : VERBS) {
        if (verb_name == name) {
            return verb;
        }
    }
    return std::nullopt;
}

bool takes_core_sha256(CtlVerb verb) {
    return verb == CtlVerb::Status || verb == CtlVerb::Ping || verb == CtlVerb::Doctor;
}

} // namespace

Result<CtlCommand> parse_ctl_command(std::span<const std::string> args) {
    if (args.empty()) {
        return usage("no command given");
    }
    const auto verb = verb_named(args[0]);
    if (!verb) {
        return usage("unknown command \"" + args[0] + "\"");
    }
    CtlCommand command{.verb = *verb};
    bool session_given = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= args.size()) {
                return std::nullopt;
            }
            return args[++i];
        };
        if (arg == "--json" && !command.json) {
            command.json = true;
        } else if (arg == "--core-sha256" && takes_core_sha256(command.verb) && !command.core_sha256) {
            command.core_sha256 = value();
            if (!command.core_sha256) {
                return usage("--core-sha256 needs a digest");
            }
            if (!check_core_sha256(*command.core_sha256)) {
                return usage("--core-sha256 takes 64 lowercase hexadecimal digits");
            }
        } else if (arg == "--session" && command.verb == CtlVerb::Stop && !session_given) {
            const auto session = value();
            if (!session) {
                return usage("--session needs a session ID");
            }
            if (!check_session_id(*session)) {
                return usage("--session takes 32 lowercase hexadecimal digits");
            }
            command.session_id = *session;
            session_given = true;
        } else if (arg == "--follow" && command.verb == CtlVerb::Logs && !command.follow) {
            command.follow = true;
        } else {
            return usage("unexpected argument \"" + arg + "\" for " + args[0]);
        }
    }
    if (command.verb == CtlVerb::Stop && !session_given) {
        return usage("stop needs --session <session ID>");
    }
    return command;
}

int exit_code_of(ClientErrorKind kind) { return row_of(kind).exit_code; }

} // namespace quorvex::client::ctl
