#include "service/hub/body_headers.hpp"

#include "service/hub/header_fields.hpp"

#include <algorithm>
#include <limits>
#include <string_view>

namespace quorvex::hub {
namespace {

bool is_ows(char c) { return c == ' ' || c == '\t'; }

std::string_view trim_ows(std::string_view text) {
    while (!text.empty() && is_ows(text.front())) text.remove_prefix(1);
    while (!text.empty() && is_ows(text.back())) text.remove_suffix(1);
    return text;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool is_token_char(char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || is_digit(c)) return true;
    return std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

// Scans media-type grammar over a cursor; each step consumes what it accepts.
class MediaTypeScanner {
public:
    explicit MediaTypeScanner(std::string_view text) : text_(text) {}

    std::string_view token() {
        std::size_t n = 0;
        while (n < text_.size() && is_token_char(text_[n])) ++n;
        const auto taken = text_.substr(0, n);
        text_.remove_prefix(n);
        return taken;
    }
    bool take(char c) {
        if (text_.empty() || text_.front() != c) return false;
        text_.remove_prefix(1);
        return true;
    }
    void skip_ows() {
        while (!text_.empty() && is_ows(text_.front())) text_.remove_prefix(1);
    }
    bool quoted_string() {
        if (!take('"')) return false;
        while (!text_.empty()) {
            const char c = text_.front();
            text_.remove_prefix(1);
            if (c == '"') return true;
            if (c == '\\') {
                if (text_.empty()) return false;
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
    if (type.empty() || !scan.take('/')) return false;
    const auto subtype = scan.token();
    if (subtype.empty()) return false;
    for (;;) {
        scan.skip_ows();
        if (scan.at_end()) break;
        if (!scan.take(';')) return false;
        scan.skip_ows();
        if (scan.at_end() || scan.peek() == ';') continue;
        if (scan.token().empty() || !scan.take('=')) return false;
        if (!scan.at_end() && scan.peek() == '"') {
            if (!scan.quoted_string()) return false;
        } else if (scan.token().empty()) {
            return false;
        }
    }
    return equals_ascii_nocase(type, "application") && equals_ascii_nocase(subtype, "json");
}

} // namespace

std::optional<std::uint64_t> declared_body_length(const http::Headers& headers) {
    const auto values = all_headers(headers, "content-length");
    if (values.empty()) return std::nullopt;

    std::string_view agreed; // the digits without leading zeros, so "010" agrees with "10"
    for (std::size_t i = 0; i < values.size(); ++i) {
        auto digits = trim_ows(values[i]);
        if (digits.empty() || !std::all_of(digits.begin(), digits.end(), is_digit)) return std::nullopt;
        while (digits.size() > 1 && digits.front() == '0') digits.remove_prefix(1);
        if (i == 0) agreed = digits;
        else if (digits != agreed) return std::nullopt;
    }

    constexpr auto MAX = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t length = 0;
    for (const char c : agreed) {
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (length > (MAX - digit) / 10) return MAX;
        length = length * 10 + digit;
    }
    return length;
}

bool accepts_json_content_type(const http::Headers& headers) {
    const auto values = all_headers(headers, "content-type");
    return std::all_of(values.begin(), values.end(),
                       [](std::string_view value) { return is_visible_ascii(value) && is_json_media_type(value); });
}

} // namespace quorvex::hub
