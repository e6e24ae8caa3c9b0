// The ping query decoder on any request target, and its round trip: a value percent-encoded
// (with "+" for blanks) decodes to itself.

#include "common/utf.hpp"
#include "service/hub/request_head.hpp"

#include "fuzz_check.hpp"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

using namespace quorvex;

namespace {

std::string form_encoded(std::string_view value) {
    static constexpr char HEX[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == ' ') {
            out += '+';
        } else if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
                   c == '_') {
            out += c;
        } else {
            out += '%';
            out += HEX[byte >> 4];
            out += HEX[byte & 15];
        }
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    const auto decoded = hub::decode_form_component(input);
    FUZZ_CHECK(is_valid_utf8(decoded));
    FUZZ_CHECK(decoded.size() <= 3 * input.size()); // at worst every byte became U+FFFD

    if (const auto query = hub::read_ping_query(input)) {
        FUZZ_CHECK(is_valid_utf8(query->core_sha256));
        FUZZ_CHECK(input.find("coreSha256") != std::string_view::npos || input.find('%') != std::string_view::npos);
    }

    const auto value = utf8_lossy(input);
    FUZZ_CHECK(hub::decode_form_component(form_encoded(value)) == value);
    const auto query = hub::read_ping_query("/ping?coreSha256=" + form_encoded(value));
    FUZZ_CHECK(query && query->core_sha256 == value);
    // Empty pieces are skipped; a second coreSha256 makes the query unreadable.
    FUZZ_CHECK(hub::read_ping_query("/ping?&coreSha256=" + form_encoded(value) + "&&"));
    FUZZ_CHECK(!hub::read_ping_query("/ping?coreSha256=" + form_encoded(value) + "&coreSha256=x"));
    return 0;
}
