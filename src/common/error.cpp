#include "common/error.hpp"

namespace quorvex {

Error::Error(std::string text, std::optional<std::int32_t> os_code) : links_{std::move(text)}, os_code_(os_code) {}

Error Error::message(std::string text) { return Error(std::move(text), std::nullopt); }

Error Error::os(std::int32_t code, std::string system_text) {
    return Error(std::move(system_text) + " (os error " + std::to_string(code) + ")", code);
}

Error Error::context(std::string text) && {
    links_.insert(links_.begin(), std::move(text));
    return std::move(*this);
}

Error Error::context(std::string text) const& {
    Error copy = *this;
    return std::move(copy).context(std::move(text));
}

Error Error::folded_into(const std::string& phrase) const {
    // The folded error keeps the os number only as text: its innermost link is now our own.
    return Error(phrase + ": " + text(), std::nullopt);
}

} // namespace quorvex
