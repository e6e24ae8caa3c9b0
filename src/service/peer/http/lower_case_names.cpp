#include "service/peer/http/lower_case_names.hpp"

#include "common/ascii_case.hpp"

#include <algorithm>

namespace quorvex::http {

std::optional<std::string_view> LowerCaseNames::find_or_add(std::string_view name) {
    for (std::size_t i = 0; i < count_; ++i) {
        if (entries_[i].original == name.data() && entries_[i].size == name.size()) {
            return std::string_view(entries_[i].folded, name.size());
        }
    }
    if (count_ == NAMES || BYTES - used_ < name.size()) {
        return std::nullopt;
    }
    char* const folded = folded_.data() + used_;
    std::transform(name.begin(), name.end(), folded, ascii_lower);
    used_ += name.size();
    entries_[count_++] = {name.data(), name.size(), folded};
    return std::string_view(folded, name.size());
}

} // namespace quorvex::http
