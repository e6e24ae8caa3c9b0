#include "service/peer/http/http1_reply_head.hpp"

#include "common/ascii_case.hpp"
#include "service/peer/http/decimal_digits.hpp"

#include <boost/beast/http/status.hpp>

#include <algorithm>
#include <cstddef>

namespace quorvex::http {
namespace {

bool is_transport_header(std::string_view name) {
    return equals_ascii_nocase(name, "content-length") || equals_ascii_nocase(name, "transfer-encoding") ||
           equals_ascii_nocase(name, "connection");
}

// The head is measured first and then copied into place: one size check, not one per piece.
class HeadWriter {
public:
    HeadWriter(std::string& out, std::size_t size) : out_(out), at_(out.size()) { out.resize(at_ + size); }
    void put(std::string_view text) {
        std::copy(text.begin(), text.end(), out_.begin() + static_cast<std::ptrdiff_t>(at_));
        at_ += text.size();
    }

private:
    std::string& out_;
    std::size_t at_;
};

} // namespace

void append_reply_head(std::string& out, const Reply& reply, unsigned version, bool keep_alive) {
    DecimalDigits status_digits{};
    const std::string_view status = decimal(reply.status, status_digits);
    DecimalDigits length_digits{};
    const std::string_view length = decimal(reply.body.size(), length_digits);
    // Beast's table of reason phrases, as its serializer would write them.
    const auto beast_reason =
        boost::beast::http::obsolete_reason(static_cast<boost::beast::http::status>(reply.status));
    const std::string_view reason(beast_reason.data(), beast_reason.size());
    std::string_view connection;
    if (version == 10 && keep_alive) {
        connection = "Connection: keep-alive\r\n";
    } else if (version != 10 && !keep_alive) {
        connection = "Connection: close\r\n";
    }
    constexpr std::string_view STATUS_PREFIX = "HTTP/1.1 ";
    constexpr std::string_view LENGTH_PREFIX = "Content-Length: ";

    std::size_t size = STATUS_PREFIX.size() + status.size() + 1 + reason.size() + 2;
    for (const auto& header : reply.headers) {
        if (!is_transport_header(header.name())) {
            size += header.name().size() + 2 + header.value().size() + 2;
        }
    }
    size += LENGTH_PREFIX.size() + length.size() + 2 + connection.size() + 2;

    HeadWriter head(out, size);
    head.put(version == 10 ? "HTTP/1.0 " : STATUS_PREFIX);
    head.put(status);
    head.put(" ");
    head.put(reason);
    head.put("\r\n");
    for (const auto& header : reply.headers) {
        if (!is_transport_header(header.name())) {
            head.put(header.name());
            head.put(": ");
            head.put(header.value());
            head.put("\r\n");
        }
    }
    head.put(LENGTH_PREFIX);
    head.put(length);
    head.put("\r\n");
    head.put(connection);
    head.put("\r\n");
}

} // namespace quorvex::http
