#include "service/hub/request_gate.hpp"

#include "service/hub/header_fields.hpp"

#include <algorithm>
#include <optional>

namespace quorvex::hub {
namespace {

bool is_authority_byte(char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
    return std::string_view("!$&'()*+,-.;=_~:@[]%").find(c) != std::string_view::npos;
}

// True when the whole value is one URI authority: userinfo "@", then a host (an IPv6 literal in
// brackets, or a name) and at most one port colon. The port itself is not examined.
bool is_whole_authority(std::string_view value) {
    constexpr int MAX_COLONS = 8; // a full IPv6 literal
    int colons = 0;
    bool open_bracket = false;
    bool close_bracket = false;
    bool percent = false; // a "%" not yet known to belong to userinfo or to brackets
    std::optional<std::size_t> last_at;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (c == '/' || c == '?' || c == '#') return false; // something follows the authority
        if (!is_authority_byte(c)) return false;
        switch (c) {
        case ':':
            if (colons >= MAX_COLONS) return false;
            ++colons;
            break;
        case '[':
            if (percent || open_bracket) return false;
            open_bracket = true;
            break;
        case ']':
            if (!open_bracket || close_bracket) return false;
            close_bracket = true;
            colons = 0;
            percent = false;
            break;
        case '@':
            last_at = i;
            colons = 0;
            percent = false;
            break;
        case '%':
            percent = true;
            break;
        default:
            break;
        }
    }
    if (open_bracket != close_bracket) return false;
    if (colons > 1) return false;
    if (last_at && *last_at + 1 == value.size()) return false;
    return !percent;
}

std::string_view host_of(std::string_view authority) {
    if (const auto at = authority.rfind('@'); at != std::string_view::npos) authority.remove_prefix(at + 1);
    if (authority.starts_with('[')) return authority.substr(0, authority.find(']') + 1);
    return authority.substr(0, authority.find(':'));
}

bool is_local_host(std::string_view value) {
    if (value.empty() || !is_whole_authority(value)) return false;
    const auto host = host_of(value);
    return std::any_of(LOCAL_HOST_NAMES.begin(), LOCAL_HOST_NAMES.end(),
                       [host](std::string_view name) { return equals_ascii_nocase(host, name); });
}

} // namespace

GateOutcome check_request_gate(const http::Headers& headers) {
    // Both headers are checked for bad bytes before either decides anything.
    const auto origin = first_header(headers, "origin");
    if (origin && !is_visible_ascii(*origin)) return InvalidGateHeader{};
    const auto host = first_header(headers, "host");
    if (host && !is_visible_ascii(*host)) return InvalidGateHeader{};

    if (host && !is_local_host(*host)) return GateRefusal{};
    if (origin) return GateRefusal{};
    return GatePass{};
}

} // namespace quorvex::hub
