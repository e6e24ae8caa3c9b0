#pragma once
// The helper's log holds the Core's lines unchanged, control characters included. Whatever shows
// them must keep them from acting: a terminal obeys escape sequences (window title, reset,
// cursor moves), and a C string ends at the first NUL.

#include <string>
#include <string_view>

namespace quorvex::client {

// The log's text for a terminal: every C0 control but tab and line feed, a carriage return not
// followed by a line feed, DEL and any byte outside valid UTF-8 as "\xhh"; every C1 control
// (U+0080 to U+009F) as "\u00hh". Everything else, backslashes included, stays as it is.
[[nodiscard]] std::string displayable_log_text(std::string_view text);

// Serialized JSON with DEL and the C1 controls escaped too ("\u007f", "\u0080"...), which JSON
// allows raw but a terminal that shows the output would obey.
[[nodiscard]] std::string with_json_controls_escaped(std::string_view json);

// The log's text as a C string: each NUL becomes U+FFFD, so that nothing after it is lost.
[[nodiscard]] std::string log_text_without_nul(std::string_view text);

} // namespace quorvex::client
