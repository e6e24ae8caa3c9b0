#include "service/hub/request_head.hpp"

#include "common/utf.hpp"

#include <algorithm>
#include <array>
#include <limits>

namespace quorvex::hub {

bool is_visible_ascii(std::string_view value) {
    return std::all_of(value.begin(), value.end(), [](char c) { return c == '\t' || (c >= 0x20 && c <= 0x7E); });
}

std::optional<std::string_view> first_header(const http::Headers& headers, std::string_view name) {
    for (const auto& header : headers) {
        if (equals_ascii_nocase(header.name, name)) {
            return std::string_view(header.value);
        }
    }
    return std::nullopt;
}

std::vector<std::string_view> all_headers(const http::Headers& headers, std::string_view name) {
    std::vector<std::string_view> values;
    for (const auto& header : headers) {
        if (equals_ascii_nocase(header.name, name)) {
            values.emplace_back(header.value);
        }
    }
    return values;
}

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Every request with a "host" runs each of its bytes through this: a table, not a search.
constexpr auto AUTHORITY_BYTES = [] {
    std::array<bool, 256> bytes{};
    for (const char c :
         std::string_view("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789!$&'()*+,-.;=_~:@[]%")) {
        bytes[static_cast<unsigned char>(c)] = true;
    }
    return bytes;
}();

bool is_authority_byte(char c) { return AUTHORITY_BYTES[static_cast<unsigned char>(c)]; }

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
        if (c == '/' || c == '?' || c == '#') {
            return false; // something follows the authority
        }
        if (!is_authority_byte(c)) {
            return false;
        }
        switch (c) {
        case ':':
            if (colons >= MAX_COLONS) {
                return false;
            }
            ++colons;
            break;
        case '[':
            if (percent || open_bracket) {
                return false;
            }
            open_bracket = true;
            break;
        case ']':
            if (!open_bracket || close_bracket) {
                return false;
            }
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
    if (open_bracket != close_bracket) {
        return false;
    }
    if (colons > 1) {
        return false;
    }
    if (last_at && *last_at + 1 == value.size()) {
        return false;
    }
    return !percent;
}

std::string_view host_of(std::string_view authority) {
    if (const auto at = authority.rfind('@'); at != std::string_view::npos) {
        authority.remove_prefix(at + 1);
    }
    if (authority.starts_with('[')) {
        return authority.substr(0, authority.find(']') + 1);
    }
    return authority.substr(0, authority.find(':'));
}

// The form nearly every client sends: a local name, perhaps a port of digits. Each value it
// accepts is a whole authority whose host is that name, so it only saves the general scan.
bool is_plain_local_host(std::string_view value) {
    for (const std::string_view name : LOCAL_HOST_NAMES) {
        if (value.size() < name.size() || !equals_ascii_nocase(value.substr(0, name.size()), name)) {
            continue;
        }
        const auto port = value.substr(name.size());
        return port.empty() || (port.front() == ':' && std::all_of(port.begin() + 1, port.end(), is_digit));
    }
    return false;
}

bool is_local_host(std::string_view value) {
    if (is_plain_local_host(value)) {
        return true;
    }
    if (value.empty() || !is_whole_authority(value)) {
        return false;
    }
    const auto host = host_of(value);
    return std::any_of(LOCAL_HOST_NAMES.begin(), LOCAL_HOST_NAMES.end(),
                       [host](std::string_view name) { return equals_ascii_nocase(host, name); });
}

} // namespace

GateOutcome check_request_gate(const http::Headers& headers) {
    // One pass for both headers; only the first of each counts.
    const std::string* origin = nullptr;
    const std::string* host = nullptr;
    for (const auto& header : headers) {
        if (origin == nullptr && equals_ascii_nocase(header.name, "origin")) {
            origin = &header.value;
        } else if (host == nullptr && equals_ascii_nocase(header.name, "host")) {
            host = &header.value;
        }
    }
    // Both headers are checked for bad bytes before either decides anything. A local host is
    // visible ASCII by its grammar, so only a host that is not local needs the byte check.
    if (origin != nullptr && !is_visible_ascii(*origin)) {
        return InvalidGateHeader{};
    }
    if (host != nullptr && !is_local_host(*host)) {
        return is_visible_ascii(*host) ? GateOutcome(GateRefusal{}) : GateOutcome(InvalidGateHeader{});
    }
    if (origin != nullptr) {
        return GateRefusal{};
    }
    return GatePass{};
}

namespace {

bool is_ows(char c) { return c == ' ' || c == '\t'; }

std::string_view trim_ows(std::string_view text) {
    while (!text.empty() && is_ows(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && is_ows(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

bool is_token_char(char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || is_digit(c)) {
        return true;
    }
    return std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

// Scans media-type grammar over a cursor; each step consumes what it accepts.
class MediaTypeScanner {
public:
    explicit MediaTypeScanner(std::string_view text) : text_(text) {}

    std::string_view token() {
        std::size_t n = 0;
        while (n < text_.size() && is_token_char(text_[n])) {
            ++n;
        }
        const auto taken = text_.substr(0, n);
        text_.remove_prefix(n);
        return taken;
    }
    bool take(char c) {
        if (text_.empty() || text_.front() != c) {
            return false;
        }
        text_.remove_prefix(1);
        return true;
    }
    void skip_ows() {
        while (!text_.empty() && is_ows(text_.front())) {
            text_.remove_prefix(1);
        }
    }
    bool quoted_string() {
        if (!take('"')) {
            return false;
        }
        while (!text_.empty()) {
            const char c = text_.front();
            text_.remove_prefix(1);
            if (c == '"') {
                return true;
            }
            if (c == '\\') {
                if (text_.empty()) {
                    return false;
                }
                text_.remove_prefix(1);
            }
        }
        return false;
    }
    [[nodiscard]] bool at_end() const { return text_.empty(); }
    [[nodiscard]] char peek() const { return text_.front(); }

private:
    std::string_view text_;
};

// type "/" subtype *( OWS ";" OWS [ name "=" ( token / quoted-string ) ] )
bool is_json_media_type(std::string_view value) {
    MediaTypeScanner scan(trim_ows(value));
    const auto type = scan.token();
    if (type.empty() || !scan.take('/')) {
        return false;
    }
    const auto subtype = scan.token();
    if (subtype.empty()) {
        return false;
    }
    for (;;) {
        scan.skip_ows();
        if (scan.at_end()) {
            break;
        }
        if (!scan.take(';')) {
            return false;
        }
        scan.skip_ows();
        if (scan.at_end() || scan.peek() == ';') {
            continue;
        }
        if (scan.token().empty() || !scan.take('=')) {
            return false;
        }
        if (!scan.at_end() && scan.peek() == '"') {
            if (!scan.quoted_string()) {
                return false;
            }
        } else if (scan.token().empty()) {
            return false;
        }
    }
    return equals_ascii_nocase(type, "application") && equals_ascii_nocase(subtype, "json");
}

} // namespace

std::optional<std::uint64_t> declared_body_length(const http::Headers& headers) {
    const auto values = all_headers(headers, "content-length");
    if (values.empty()) {
        return std::nullopt;
    }

    std::string_view agreed; // the digits without leading zeros, so "010" agrees with "10"
    for (std::size_t i = 0; i < values.size(); ++i) {
        auto digits = trim_ows(values[i]);
        if (digits.empty() || !std::all_of(digits.begin(), digits.end(), is_digit)) {
            return std::nullopt;
        }
        while (digits.size() > 1 && digits.front() == '0') {
            digits.remove_prefix(1);
        }
        if (i == 0) {
            agreed = digits;
        } else if (digits != agreed) {
            return std::nullopt;
        }
    }

    constexpr auto MAX = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t length = 0;
    for (const char c : agreed) {
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (length > (MAX - digit) / 10) {
            return MAX;
        }
        length = length * 10 + digit;
    }
    return length;
}

bool accepts_json_content_type(const http::Headers& headers) {
    const auto values = all_headers(headers, "content-type");
    return std::all_of(values.begin(), values.end(),
                       [](std::string_view value) { return is_visible_ascii(value) && is_json_media_type(value); });
}

namespace {

int hex_value(char c) {
    if (is_digit(c)) {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
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
        if (piece.empty()) {
            continue;
        }

        const auto eq = piece.find('=');
        const auto name = decode_form_component(piece.substr(0, eq));
        auto value = eq == std::string_view::npos ? std::string() : decode_form_component(piece.substr(eq + 1));
        if (name != "coreSha256" || core_sha256) {
            return std::nullopt;
        }
        core_sha256 = std::move(value);
    }
    if (!core_sha256) {
        return std::nullopt;
    }
    return PingQuery{std::move(*core_sha256)};
}

} // namespace quorvex::hub
