#pragma once
// The head of an HTTP/1.x reply as bytes: status line, the reply's headers in order, then the
// framing the transport owns. Written into one buffer and sent with the body beside it, so a reply
// goes out in one gather write without a serializer walking its pieces.

#include "service/peer/http/http_message.hpp"

#include <string>
#include <string_view>

namespace quorvex::http {

// Appends the head to `out`. `version` is 10 or 11. The reply's own "content-length",
// "transfer-encoding" and "connection" headers are dropped: "Content-Length" always states the
// body's size (a HEAD reply's too), and "Connection" says what the connection does next, "close"
// on HTTP/1.1 and "keep-alive" on HTTP/1.0, where either is not the version's default.
void append_reply_head(std::string& out, const Reply& reply, unsigned version, bool keep_alive);

} // namespace quorvex::http
