#pragma once
// Reply header names folded to lower case, as HTTP/2 sends them, once per connection instead of
// once per reply. A reply's header names are the helper's constant text (see ReplyHeader): the
// same name always has the same address, so it is found again by that address, and its folded
// copy stays in place for as long as this object lives.

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

namespace quorvex::http {

class LowerCaseNames {
public:
    // Distinct names and their bytes kept at most; a name beyond them is not kept.
    static constexpr std::size_t NAMES = 8;
    static constexpr std::size_t BYTES = 256;

    // The folded copy of `name`, which must be constant text; nothing when no room is left.
    [[nodiscard]] std::optional<std::string_view> find_or_add(std::string_view name);

private:
    struct Entry {
        const char* original;
        std::size_t size;
        const char* folded;
    };
    std::array<Entry, NAMES> entries_{};
    std::size_t count_ = 0;
    std::array<char, BYTES> folded_{};
    std::size_t used_ = 0;
};

} // namespace quorvex::http
