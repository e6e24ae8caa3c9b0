#pragma once
// Failures are values: an Error is a chain of links, outermost first. The innermost link is the
// failure itself (an operating-system error or a message of our own); callers wrap it in
// context links naming the step that failed.

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <vector>

namespace quorvex {

class Error {
public:
    // A failure of our own, with no cause.
    [[nodiscard]] static Error message(std::string text);
    // An operating-system error: "<system text> (os error N)". The text comes from the platform.
    [[nodiscard]] static Error os(std::int32_t code, std::string system_text);

    // Wraps this chain in a context link ("open Windows service manager").
    [[nodiscard]] Error context(std::string text) &&;
    [[nodiscard]] Error context(std::string text) const&;
    // Folds this chain into one link: "<phrase>: <outermost text>".
    [[nodiscard]] Error folded_into(const std::string& phrase) const;

    // The outermost link's text: what "the error's text" means throughout the helper.
    [[nodiscard]] const std::string& text() const { return links_.front(); }
    // Every link, outermost first.
    [[nodiscard]] const std::vector<std::string>& links() const { return links_; }
    // The operating-system error number, when the innermost link is one.
    [[nodiscard]] std::optional<std::int32_t> os_code() const { return os_code_; }

private:
    Error(std::string text, std::optional<std::int32_t> os_code);

    std::vector<std::string> links_;
    std::optional<std::int32_t> os_code_;
};

template <class T>
using Result = std::expected<T, Error>;

// Shorthand for returning a failure: `return fail(Error::message("..."));`
[[nodiscard]] inline std::unexpected<Error> fail(Error error) { return std::unexpected<Error>(std::move(error)); }

} // namespace quorvex
