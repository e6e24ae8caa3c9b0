#include "service/peer/http/http1_reply_head.hpp"

#include "common/ascii_case.hpp"

#include <boost/beast/http/status.hpp>

#include <array>
#include <charconv>

namespace quorvex::http {
namespace {

bool is_transport_header(std::string_view name) {
    return equals_ascii_nocase(name, "content-length") || equals_ascii_nocase(name, "transfer-encoding") ||
           equals_ascii_nocase(name, "connection");
}

void append_decimal(std::pmr::string& out, std::size_t value) {
    std::array<char, 24> digits{};
    const auto end = std::to_chars(digits.data(), digits.data() + digits.size(), value).ptr;
    out.append(digits.data(), end);
}

} // namespace

void append_reply_head(std::pmr::string& out, const Reply& reply, unsigned version, bool keep_alive) {
    out += version == 10 ? "HTTP/1.0 " : "HTTP/1.1 ";
    append_decimal(out, reply.status);
    out += ' ';
    // Beast's table of reason phrases, as its serializer would write them.
    const auto reason = boost::beast::http::obsolete_reason(static_cast<boost::beast::http::status>(reply.status));
    out.append(reason.data(), reason.size());
    out += "\r\n";
    for (const auto& header : reply.headers) {
        if (!is_transport_header(header.name())) {
            out += header.name();
            out += ": ";
            out += header.value();
            out += "\r\n";
        }
    }
    out += "Content-Length: ";
    append_decimal(out, reply.body.size());
    out += "\r\n";
    if (version == 10 && keep_alive) {
        out += "Connection: keep-alive\r\n";
    } else if (version != 10 && !keep_alive) {
        out += "Connection: close\r\n";
    }
    out += "\r\n";
}

} // namespace quorvex::http
