#include "service/hub/request_body.hpp"

#include <boost/json/basic_parser_impl.hpp>

#include <cstdint>
#include <limits>
#include <span>
#include <vector>

namespace quorvex::hub {
namespace {

namespace json = boost::json;

// Parse events straight into the declared string fields. The DOM parser keeps only the last
// of duplicate keys, so duplicates are caught here, at the key.
class FieldsHandler {
public:
    static constexpr std::size_t max_array_size = std::numeric_limits<std::size_t>::max();
    static constexpr std::size_t max_object_size = std::numeric_limits<std::size_t>::max();
    static constexpr std::size_t max_string_size = std::numeric_limits<std::size_t>::max();
    static constexpr std::size_t max_key_size = std::numeric_limits<std::size_t>::max();

    explicit FieldsHandler(std::span<const std::string_view> names)
        : names_(names), values_(names.size()), claimed_(names.size()) {}

    [[nodiscard]] std::optional<std::vector<std::string>> take_result() {
        if (!complete_) {
            return std::nullopt;
        }
        std::vector<std::string> values;
        for (auto& value : values_) {
            values.push_back(std::move(*value));
        }
        return values;
    }

    bool on_document_begin(json::error_code&) { return true; }
    bool on_document_end(json::error_code&) {
        complete_ = true;
        return true;
    }

    bool on_object_begin(json::error_code& ec) {
        if (shape_ != Shape::none) {
            return refuse(ec);
        }
        shape_ = Shape::object;
        return true;
    }
    bool on_object_end(std::size_t, json::error_code& ec) { return all_present() || refuse(ec); }

    bool on_array_begin(json::error_code& ec) {
        if (shape_ != Shape::none) {
            return refuse(ec);
        }
        shape_ = Shape::array;
        return true;
    }
    bool on_array_end(std::size_t, json::error_code& ec) { return all_present() || refuse(ec); }

    bool on_key_part(json::string_view s, std::size_t, json::error_code&) {
        text_.append(s.data(), s.size());
        return true;
    }
    bool on_key(json::string_view s, std::size_t, json::error_code& ec) {
        text_.append(s.data(), s.size());
        for (std::size_t i = 0; i < names_.size(); ++i) {
            if (names_[i] != text_) {
                continue;
            }
            if (claimed_[i]) {
                return refuse(ec); // a duplicate key
            }
            claimed_[i] = true;
            target_ = i;
            text_.clear();
            return true;
        }
        return refuse(ec);
    }

    bool on_string_part(json::string_view s, std::size_t, json::error_code&) {
        text_.append(s.data(), s.size());
        return true;
    }
    bool on_string(json::string_view s, std::size_t, json::error_code& ec) {
        text_.append(s.data(), s.size());
        std::size_t index = 0;
        if (shape_ == Shape::object) {
            index = target_;
        } else if (shape_ == Shape::array && next_element_ < names_.size()) {
            index = next_element_++;
        } else {
            return refuse(ec);
        }
        values_[index] = std::move(text_);
        text_.clear();
        return true;
    }

    bool on_number_part(json::string_view, json::error_code& ec) { return refuse(ec); }
    bool on_int64(std::int64_t, json::string_view, json::error_code& ec) { return refuse(ec); }
    bool on_uint64(std::uint64_t, json::string_view, json::error_code& ec) { return refuse(ec); }
    bool on_double(double, json::string_view, json::error_code& ec) { return refuse(ec); }
    bool on_bool(bool, json::error_code& ec) { return refuse(ec); }
    bool on_null(json::error_code& ec) { return refuse(ec); }
    bool on_comment_part(json::string_view, json::error_code& ec) { return refuse(ec); }
    bool on_comment(json::string_view, json::error_code& ec) { return refuse(ec); }

private:
    enum class Shape { none, object, array };

    static bool refuse(json::error_code& ec) {
        ec = json::make_error_code(json::error::syntax);
        return false;
    }
    [[nodiscard]] bool all_present() const {
        for (const auto& value : values_) {
            if (!value) {
                return false;
            }
        }
        return true;
    }

    std::span<const std::string_view> names_;
    std::vector<std::optional<std::string>> values_;
    std::vector<bool> claimed_; // keys seen in the object
    Shape shape_ = Shape::none;
    std::string text_;       // the key or string being assembled
    std::size_t target_ = 0; // the field the next object value belongs to
    std::size_t next_element_ = 0;
    bool complete_ = false;
};

std::optional<std::vector<std::string>> parse_string_fields(std::string_view body,
                                                            std::span<const std::string_view> names) {
    json::basic_parser<FieldsHandler> parser(json::parse_options{}, names);
    json::error_code ec;
    const auto consumed = parser.write_some(false, body.data(), body.size(), ec);
    if (ec || consumed != body.size()) {
        return std::nullopt;
    }
    return parser.handler().take_result();
}

constexpr std::string_view START_FIELDS[] = {"address", "sessionId"};
constexpr std::string_view STOP_FIELDS[] = {"sessionId"};

} // namespace

std::optional<StartParams> parse_start_params(std::string_view body) {
    auto fields = parse_string_fields(body, START_FIELDS);
    if (!fields) {
        return std::nullopt;
    }
    return StartParams{std::move((*fields)[0]), std::move((*fields)[1])};
}

std::optional<StopParams> parse_stop_params(std::string_view body) {
    auto fields = parse_string_fields(body, STOP_FIELDS);
    if (!fields) {
        return std::nullopt;
    }
    return StopParams{std::move((*fields)[0])};
}

} // namespace quorvex::hub
