#include "command/helper_command.hpp"

#include "common/utf.hpp"

#include <limits>
#include <string>

namespace quorvex::command {
namespace {

constexpr std::string_view INSTALL = "install";
constexpr std::string_view UNINSTALL = "uninstall";
constexpr std::string_view OWNER_PID = "--owner-pid";
constexpr std::string_view OWNER_SID = "--owner-sid";
constexpr std::size_t MAX_SID_GROUPS = 16;

bool is_ascii_digit(char c) { return c >= '0' && c <= '9'; }

Error usage(std::string text) { return Error::message(std::move(text)); }

bool is_blank(char16_t c) { return c == u' ' || c == u'\t'; }

// The executable's path: quotes only toggle quoting, backslashes are always literal.
std::size_t split_program_name(std::u16string_view text, std::vector<std::u16string>& out) {
    std::u16string arg;
    bool quoted = false;
    std::size_t i = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c == u'"') {
            quoted = !quoted;
        } else if (is_blank(c) && !quoted) {
            break;
        } else {
            arg += c;
        }
    }
    out.push_back(std::move(arg));
    return i;
}

} // namespace

std::vector<std::u16string> split_command_line(std::u16string_view text) {
    std::vector<std::u16string> args;
    std::size_t i = split_program_name(text, args);
    for (;;) {
        while (i < text.size() && is_blank(text[i])) {
            ++i;
        }
        if (i >= text.size()) {
            break;
        }
        std::u16string arg;
        bool quoted = false;
        while (i < text.size() && (quoted || !is_blank(text[i]))) {
            if (text[i] == u'\\') {
                std::size_t backslashes = 0;
                while (i < text.size() && text[i] == u'\\') {
                    ++backslashes;
                    ++i;
                }
                if (i < text.size() && text[i] == u'"') {
                    arg.append(backslashes / 2, u'\\');
                    if (backslashes % 2 == 1) {
                        arg += u'"';
                        ++i;
                    }
                    // An even run leaves the quote to toggle quoting below.
                } else {
                    arg.append(backslashes, u'\\');
                }
                continue;
            }
            if (text[i] == u'"') {
                if (quoted && i + 1 < text.size() && text[i + 1] == u'"') {
                    arg += u'"';
                    i += 2;
                    continue;
                }
                quoted = !quoted;
                ++i;
                continue;
            }
            arg += text[i++];
        }
        args.push_back(std::move(arg));
    }
    return args;
}

std::vector<std::string> helper_arguments(std::u16string_view command_line) {
    const std::vector<std::u16string> all = split_command_line(command_line);
    std::vector<std::string> args;
    for (std::size_t i = 1; i < all.size(); ++i) {
        args.push_back(utf16_to_utf8_lossy(all[i]));
    }
    return args;
}

bool is_valid_sid_text(std::string_view text) {
    constexpr std::string_view PREFIX = "S-1-";
    if (!is_valid_utf8(text) || !text.starts_with(PREFIX)) {
        return false;
    }
    std::string_view rest = text.substr(PREFIX.size());
    std::size_t groups = 0;
    for (;;) {
        const std::size_t dash = rest.find('-');
        const std::string_view group = rest.substr(0, dash);
        if (group.empty() || ++groups > MAX_SID_GROUPS) {
            return false;
        }
        for (const char c : group) {
            if (!is_ascii_digit(c)) {
                return false;
            }
        }
        if (dash == std::string_view::npos) {
            return true;
        }
        rest.remove_prefix(dash + 1);
    }
}

std::optional<std::uint32_t> parse_owner_pid(std::string_view text) {
    if (text.starts_with('+')) {
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const char c : text) {
        if (!is_ascii_digit(c)) {
            return std::nullopt;
        }
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
        if (value > std::numeric_limits<std::uint32_t>::max()) {
            return std::nullopt;
        }
    }
    if (value == 0) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

Result<HelperCommand> choose_helper_command(std::span<const std::string> args) {
    if (args.empty()) {
        return fail(usage("the helper service was registered without an owner; reinstall it"));
    }
    const std::string& first = args[0];
    if (args.size() == 2 && first == OWNER_SID) {
        if (!is_valid_sid_text(args[1])) {
            return fail(usage(std::string(OWNER_SID) + " is not a SID"));
        }
        return RunService{args[1]};
    }
    if (args.size() == 1 && first == UNINSTALL) {
        return Uninstall{};
    }
    if (first == INSTALL) {
        if (args.size() != 3 || args[1] != OWNER_PID) {
            return fail(usage(std::string(INSTALL) + " takes exactly " + std::string(OWNER_PID) + " <pid>"));
        }
        const auto pid = parse_owner_pid(args[2]);
        if (!pid) {
            return fail(usage(std::string(OWNER_PID) + " is not a process ID"));
        }
        return Install{*pid};
    }
    // The arguments are already UTF-8, but keep the message valid whatever the caller passed.
    return fail(usage("unknown helper command: " + utf8_lossy(first)));
}

void report_failure(const Error& error, std::ostream& out) {
    const auto& links = error.links();
    std::string block = "Error: " + links.front() + "\n";
    if (links.size() > 1) {
        block += "\nCaused by:\n";
        if (links.size() == 2) {
            block += "    " + links[1] + "\n";
        } else {
            for (std::size_t i = 1; i < links.size(); ++i) {
                std::string index = std::to_string(i - 1);
                if (index.size() < 5) {
                    index.insert(0, 5 - index.size(), ' ');
                }
                block += index + ": " + links[i] + "\n";
            }
        }
    }
    // One write, so the block is not interleaved with anything else on the stream.
    out << block << std::flush;
}

int finish_command(const Result<void>& outcome, std::ostream& out) {
    if (outcome) {
        return EXIT_STATUS_SUCCESS;
    }
    report_failure(outcome.error(), out);
    return EXIT_STATUS_FAILURE;
}

} // namespace quorvex::command
