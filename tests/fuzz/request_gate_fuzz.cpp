// The gate on arbitrary headers: lines of "name:value" cut at LF. Whatever passes carries no
// origin and a host, if any, that names one of the local names; only bad bytes make a header
// invalid.

#include "service/hub/request_head.hpp"

#include "fuzz_check.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

using namespace quorvex;

namespace {

http::Headers headers_of(std::string_view text) {
    http::Headers headers;
    while (!text.empty()) {
        const auto lf = text.find('\n');
        const auto line = text.substr(0, lf);
        text.remove_prefix(lf == std::string_view::npos ? text.size() : lf + 1);
        const auto colon = line.find(':');
        if (colon == std::string_view::npos) {
            headers.push_back({std::string(line), ""});
        } else {
            headers.push_back({std::string(line.substr(0, colon)), std::string(line.substr(colon + 1))});
        }
    }
    return headers;
}

// Case-insensitive containment: a passing host names a local name somewhere in its value.
bool mentions_local_name(std::string_view value) {
    for (const auto name : hub::LOCAL_HOST_NAMES) {
        for (std::size_t at = 0; at + name.size() <= value.size(); ++at) {
            if (equals_ascii_nocase(value.substr(at, name.size()), name)) {
                return true;
            }
        }
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto headers = headers_of({reinterpret_cast<const char*>(data), size});
    const auto outcome = hub::check_request_gate(headers);
    const auto origin = hub::first_header(headers, "origin");
    const auto host = hub::first_header(headers, "host");
    const bool bad_bytes = (origin && !hub::is_visible_ascii(*origin)) || (host && !hub::is_visible_ascii(*host));

    FUZZ_CHECK(std::holds_alternative<hub::InvalidGateHeader>(outcome) == bad_bytes);
    if (std::holds_alternative<hub::GatePass>(outcome)) {
        FUZZ_CHECK(!origin);
        if (host) {
            FUZZ_CHECK(mentions_local_name(*host));
            // Nothing but an authority: no path, query or fragment, and no blank.
            FUZZ_CHECK(host->find_first_of("/?# \t") == std::string_view::npos);
        }
    }
    // Only the first of each header counts: appending more of them changes nothing.
    auto more = headers;
    more.push_back({"Host", "example.com"});
    more.push_back({"ORIGIN", "null"});
    if (origin && host) {
        FUZZ_CHECK(hub::check_request_gate(more).index() == outcome.index());
    }
    return 0;
}
