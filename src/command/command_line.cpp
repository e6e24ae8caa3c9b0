#include "command/command_line.hpp"

#include "common/utf.hpp"

namespace quorvex::command {
namespace {

bool is_blank(char16_t c) { return c == u' ' || c == u'\t'; }

// The executable's path: quotes only toggle quoting, backslashes are always literal.
std::size_t split_program_name(std::u16string_view text, std::vector<std::u16string>& out) {
    std::u16string arg;
    bool quoted = false;
    std::size_t i = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c == u'"') quoted = !quoted;
        else if (is_blank(c) && !quoted) break;
        else arg += c;
    }
    out.push_back(std::move(arg));
    return i;
}

} // namespace

std::vector<std::u16string> split_command_line(std::u16string_view text) {
    std::vector<std::u16string> args;
    std::size_t i = split_program_name(text, args);
    for (;;) {
        while (i < text.size() && is_blank(text[i])) ++i;
        if (i >= text.size()) break;
        std::u16string arg;
        bool quoted = false;
        while (i < text.size() && (quoted || !is_blank(text[i]))) {
            if (text[i] == u'\\') {
                std::size_t backslashes = 0;
                while (i < text.size() && text[i] == u'\\') { ++backslashes; ++i; }
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
    for (std::size_t i = 1; i < all.size(); ++i) args.push_back(utf16_to_utf8_lossy(all[i]));
    return args;
}

} // namespace quorvex::command
