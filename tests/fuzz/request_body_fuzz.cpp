// The strict start and stop bodies. Whatever they accept, Boost.JSON's own DOM parser reads as
// the same values in one of the two accepted shapes; and any two strings written as such a body
// come back exactly.

#include "common/utf.hpp"
#include "service/hub/request_body.hpp"

#include "fuzz_check.hpp"

#include <boost/json.hpp>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

using namespace quorvex;
namespace json = boost::json;

namespace {

// The strings of `body` read by the DOM parser in the order of `names`: an object with exactly
// those keys, or an array of exactly that many strings.
std::optional<std::vector<std::string>> dom_fields(std::string_view body, const std::vector<std::string>& names) {
    json::error_code ec;
    const auto value = json::parse(body, ec);
    if (ec) {
        return std::nullopt;
    }
    std::vector<std::string> fields;
    if (const auto* object = value.if_object()) {
        if (object->size() != names.size()) {
            return std::nullopt;
        }
        for (const auto& name : names) {
            const auto* member = object->if_contains(name);
            if (!member || !member->is_string()) {
                return std::nullopt;
            }
            fields.emplace_back(member->get_string());
        }
    } else if (const auto* array = value.if_array()) {
        if (array->size() != names.size()) {
            return std::nullopt;
        }
        for (const auto& element : *array) {
            if (!element.is_string()) {
                return std::nullopt;
            }
            fields.emplace_back(element.get_string());
        }
    } else {
        return std::nullopt;
    }
    return fields;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view body(reinterpret_cast<const char*>(data), size);

    if (const auto start = hub::parse_start_params(body)) {
        const auto dom = dom_fields(body, {"address", "sessionId"});
        FUZZ_CHECK(dom && (*dom)[0] == start->address && (*dom)[1] == start->session_id);
    }
    if (const auto stop = hub::parse_stop_params(body)) {
        const auto dom = dom_fields(body, {"sessionId"});
        FUZZ_CHECK(dom && (*dom)[0] == stop->session_id);
    }

    // Two strings cut from the input at its first NUL, written by Boost.JSON in both shapes.
    const auto nul = body.find('\0');
    const auto address = utf8_lossy(body.substr(0, nul));
    const auto session = utf8_lossy(nul == std::string_view::npos ? std::string_view() : body.substr(nul + 1));
    const auto object = json::serialize(json::object{{"sessionId", session}, {"address", address}});
    const auto start = hub::parse_start_params(" \n" + object + "\t");
    FUZZ_CHECK(start && start->address == address && start->session_id == session);
    const auto array = json::serialize(json::array{json::string(address), json::string(session)});
    const auto from_array = hub::parse_start_params(array);
    FUZZ_CHECK(from_array && from_array->address == address && from_array->session_id == session);
    const auto stop = hub::parse_stop_params(json::serialize(json::object{{"sessionId", session}}));
    FUZZ_CHECK(stop && stop->session_id == session);
    // A member too many, or one missing, is refused.
    FUZZ_CHECK(!hub::parse_stop_params(object));
    FUZZ_CHECK(!hub::parse_start_params(json::serialize(json::object{{"address", address}})));
    return 0;
}
