#include "service/hub/ping_query.hpp"

#include "common/utf.hpp"

namespace quorvex::hub {
namespace {

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

} // namespace

std::string decode_form_component(std::string_view text) {
    std::string bytes;
    bytes.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '+') {
            bytes += ' ';
        } else if (c == '%' && i + 2 < text.size() && hex_value(text[i + 1]) >= 0 && hex_value(text[i + 2]) >= 0) {
            bytes += static_cast<char>(hex_value(text[i + 1]) * 16 + hex_value(text[i + 2]));
            i += 2;
        } else {
            bytes += c;
        }
    }
    return utf8_lossy(bytes);
}

std::optional<PingQuery> read_ping_query(std::string_view target) {
    const auto question = target.find('?');
    std::string_view query = question == std::string_view::npos ? std::string_view() : target.substr(question + 1);

    std::optional<std::string> core_sha256;
    while (!query.empty()) {
        const auto amp = query.find('&');
        const auto piece = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
        if (piece.empty()) continue;

        const auto eq = piece.find('=');
        const auto name = decode_form_component(piece.substr(0, eq));
        auto value = eq == std::string_view::npos ? std::string() : decode_form_component(piece.substr(eq + 1));
        if (name != "coreSha256" || core_sha256) return std::nullopt;
        core_sha256 = std::move(value);
    }
    if (!core_sha256) return std::nullopt;
    return PingQuery{std::move(*core_sha256)};
}

} // namespace quorvex::hub
