#include "client/log_text.hpp"

#include "common/lowercase_hex.hpp"
#include "common/utf.hpp"

#include <cstdint>
#include <span>

namespace quorvex::client {
namespace {

void append_hex(std::string& out, std::string_view prefix, unsigned char byte) {
    out += prefix;
    out += lowercase_hex(std::span<const std::uint8_t>(&byte, 1));
}

bool is_c1_control(std::string_view sequence) {
    return sequence.size() == 2 && static_cast<unsigned char>(sequence[0]) == 0xC2 &&
           static_cast<unsigned char>(sequence[1]) <= 0x9F;
}

} // namespace

std::string displayable_log_text(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte == '\t' || byte == '\n' || (byte == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) {
            out += static_cast<char>(byte);
            ++i;
            continue;
        }
        if (byte < 0x20 || byte == 0x7F) {
            append_hex(out, "\\x", byte);
            ++i;
            continue;
        }
        const std::size_t length = utf8_sequence_length(text.substr(i));
        if (length == 0) {
            append_hex(out, "\\x", byte);
            ++i;
            continue;
        }
        const std::string_view sequence = text.substr(i, length);
        if (is_c1_control(sequence)) {
            append_hex(out, "\\u00", static_cast<unsigned char>(sequence[1]));
        } else {
            out += sequence;
        }
        i += length;
    }
    return out;
}

std::string with_json_controls_escaped(std::string_view json) {
    std::string out;
    out.reserve(json.size());
    for (std::size_t i = 0; i < json.size(); ++i) {
        const auto byte = static_cast<unsigned char>(json[i]);
        if (byte == 0x7F) {
            out += "\\u007f";
        } else if (is_c1_control(json.substr(i, 2))) {
            append_hex(out, "\\u00", static_cast<unsigned char>(json[++i]));
        } else {
            out += static_cast<char>(byte);
        }
    }
    return out;
}

std::string log_text_without_nul(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        if (c == '\0') {
            out += "\xEF\xBF\xBD";
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace quorvex::client
