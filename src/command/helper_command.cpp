#include "command/helper_command.hpp"

#include "common/utf.hpp"

#include <limits>

namespace quorvex::command {
namespace {

constexpr std::string_view INSTALL = "install";
constexpr std::string_view UNINSTALL = "uninstall";
constexpr std::string_view OWNER_PID = "--owner-pid";
constexpr std::string_view OWNER_SID = "--owner-sid";
constexpr std::size_t MAX_SID_GROUPS = 16;

bool is_ascii_digit(char c) { return c >= '0' && c <= '9'; }

Error usage(std::string text) { return Error::message(std::move(text)); }

} // namespace

bool is_valid_sid_text(std::string_view text) {
    constexpr std::string_view PREFIX = "S-1-";
    if (!is_valid_utf8(text) || !text.starts_with(PREFIX)) return false;
    std::string_view rest = text.substr(PREFIX.size());
    std::size_t groups = 0;
    for (;;) {
        const std::size_t dash = rest.find('-');
        const std::string_view group = rest.substr(0, dash);
        if (group.empty() || ++groups > MAX_SID_GROUPS) return false;
        for (const char c : group)
            if (!is_ascii_digit(c)) return false;
        if (dash == std::string_view::npos) return true;
        rest.remove_prefix(dash + 1);
    }
}

std::optional<std::uint32_t> parse_owner_pid(std::string_view text) {
    if (text.starts_with('+')) text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : text) {
        if (!is_ascii_digit(c)) return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
        if (value > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
    }
    if (value == 0) return std::nullopt;
    return static_cast<std::uint32_t>(value);
}

Result<HelperCommand> choose_helper_command(std::span<const std::string> args) {
    if (args.empty()) return fail(usage("the helper service was registered without an owner; reinstall it"));
    const std::string& first = args[0];
    if (args.size() == 2 && first == OWNER_SID) {
        if (!is_valid_sid_text(args[1])) return fail(usage(std::string(OWNER_SID) + " is not a SID"));
        return RunService{args[1]};
    }
    if (args.size() == 1 && first == UNINSTALL) return Uninstall{};
    if (first == INSTALL) {
        if (args.size() != 3 || args[1] != OWNER_PID)
            return fail(usage(std::string(INSTALL) + " takes exactly " + std::string(OWNER_PID) + " <pid>"));
        const auto pid = parse_owner_pid(args[2]);
        if (!pid) return fail(usage(std::string(OWNER_PID) + " is not a process ID"));
        return Install{*pid};
    }
    // The arguments are already UTF-8, but keep the message valid whatever the caller passed.
    return fail(usage("unknown helper command: " + utf8_lossy(first)));
}

} // namespace quorvex::command
