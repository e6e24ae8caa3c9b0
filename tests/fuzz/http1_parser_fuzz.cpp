// The HTTP/1.1 parser as the session drives it: Beast's request parser with the session's header
// limit and read buffer, the head first, then the body only within BODY_LIMIT and only when the
// declared length allows it, then the next request on the same connection. The bytes arrive
// whole, and split at the offsets the input picks (every offset of a short input): the outcome
// must not depend on the split.
//
// Input: byte 0 and 1 pick the split points, the rest is what the client sent.

#include "service/hub/request_body.hpp"
#include "service/peer/http/served_connection.hpp"

#include "fuzz_check.hpp"

#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/string_body.hpp>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace bhttp = boost::beast::http;
using quorvex::http::HTTP1_HEADER_LIMIT;
using quorvex::http::HTTP1_READ_BUFFER_LIMIT;
using quorvex::hub::BODY_LIMIT;

namespace {

struct Request {
    std::string method, target;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    bool body_refused = false; // declared longer than BODY_LIMIT: not read
    bool keep_alive = false;
    friend bool operator==(const Request&, const Request&) = default;
};

struct Connection {
    std::vector<Request> requests;
    boost::system::error_code error; // what ended the connection (partial_message, a parse error, ...)
};

// The connection fed `chunks` in order, like reads from a socket into the session's buffer.
Connection serve(const std::vector<std::string_view>& chunks) {
    Connection connection;
    std::string buffer;              // received, not yet parsed
    std::size_t next = 0, taken = 0; // the chunk being read, and how much of it is read
    // One read from the socket into the session's fixed-size buffer: false at the end of the
    // stream, or with buffer_overflow when the buffer is full and the parser still needs more.
    const auto read = [&](boost::system::error_code& ec) {
        if (next == chunks.size()) {
            return false;
        }
        const auto room = HTTP1_READ_BUFFER_LIMIT - buffer.size();
        if (room == 0) {
            ec = bhttp::error::buffer_overflow;
            return false;
        }
        const auto part = chunks[next].substr(taken, room);
        buffer += part;
        taken += part.size();
        if (taken == chunks[next].size()) {
            ++next;
            taken = 0;
        }
        return true;
    };
    // Parses until `done` holds or the stream ends; Beast's read loop, byte for byte.
    const auto parse = [&](bhttp::request_parser<bhttp::string_body>& parser, auto done) {
        boost::system::error_code ec;
        while (!done()) {
            if (!buffer.empty()) {
                const auto used = parser.put(boost::asio::buffer(buffer), ec);
                buffer.erase(0, used);
                if (ec == bhttp::error::need_more) {
                    ec = {};
                } else if (ec) {
                    return ec;
                }
                if (used > 0) {
                    continue;
                }
            }
            if (!read(ec)) {
                if (ec) {
                    return ec;
                }
                // A clean close between requests, as Beast's read reports it.
                if (!parser.got_some()) {
                    return boost::system::error_code(bhttp::error::end_of_stream);
                }
                parser.put_eof(ec);
                return ec ? ec : bhttp::error::end_of_stream;
            }
        }
        return ec;
    };

    for (;;) {
        bhttp::request_parser<bhttp::string_body> parser;
        parser.header_limit(HTTP1_HEADER_LIMIT);
        parser.body_limit(boost::none);
        parser.eager(false);
        if (buffer.empty() && next == chunks.size()) {
            return connection;
        }
        if (const auto ec = parse(parser, [&] { return parser.is_header_done(); })) {
            connection.error = ec;
            return connection;
        }
        const auto& message = parser.get();
        Request request{std::string(message.method_string()), std::string(message.target())};
        for (const auto& field : message) {
            request.headers.emplace_back(field.name_string(), field.value());
        }
        request.keep_alive = parser.keep_alive();
        const auto declared = parser.content_length();
        if (declared && *declared > BODY_LIMIT) {
            // Refused on the declared length: no body byte is read, and the connection closes.
            FUZZ_CHECK(!parser.is_done());
            request.body_refused = true;
            connection.requests.push_back(std::move(request));
            return connection;
        }
        parser.body_limit(BODY_LIMIT);
        parser.eager(true);
        const auto ec = parse(parser, [&] { return parser.is_done(); });
        request.body = parser.get().body();
        FUZZ_CHECK(request.body.size() <= BODY_LIMIT);
        if (!ec) {
            FUZZ_CHECK(!declared || request.body.size() == *declared);
        }
        const bool keep_alive = request.keep_alive;
        connection.requests.push_back(std::move(request));
        if (ec) {
            connection.error = ec;
            return connection;
        }
        if (!keep_alive) {
            return connection;
        }
    }
}

bool is_incomplete(const boost::system::error_code& ec) { return ec == bhttp::error::partial_message; }

bool is_malformed(const boost::system::error_code& ec) {
    return ec && !is_incomplete(ec) && ec != bhttp::error::end_of_stream && ec != bhttp::error::buffer_overflow;
}

std::vector<std::string_view> split_at(std::string_view bytes, const std::vector<std::size_t>& offsets) {
    std::vector<std::string_view> chunks;
    std::size_t from = 0;
    for (const auto at : offsets) {
        if (at <= from || at >= bytes.size()) {
            continue;
        }
        chunks.push_back(bytes.substr(from, at - from));
        from = at;
    }
    chunks.push_back(bytes.substr(from));
    return chunks;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const std::string_view bytes(reinterpret_cast<const char*>(data + 2), size - 2);
    const auto whole = serve({bytes});

    // Every offset of a short input; otherwise steps of the size bytes 0 and 1 pick.
    std::vector<std::vector<std::size_t>> splits;
    if (bytes.size() <= 96) {
        for (std::size_t at = 1; at < bytes.size(); ++at) {
            splits.push_back({at});
        }
    }
    const std::size_t step = 1 + data[0] + (data[1] << 8) % 1024;
    std::vector<std::size_t> offsets;
    for (std::size_t at = step; at < bytes.size(); at += step) {
        offsets.push_back(at);
    }
    splits.push_back(offsets);
    splits.push_back(std::vector<std::size_t>(1, bytes.size() / 2));

    for (const auto& split : splits) {
        const auto parts = split_at(bytes, split);
        const auto pieces = serve(parts);
        FUZZ_CHECK(pieces.requests == whole.requests);
        // Beast judges a malformed field line only once it sees the end of the header when the
        // line arrived in pieces: such a request is refused as malformed or left incomplete,
        // never accepted.
        FUZZ_CHECK(pieces.error == whole.error || (is_incomplete(pieces.error) && is_malformed(whole.error)) ||
                   (is_malformed(pieces.error) && is_incomplete(whole.error)));
    }
    return 0;
}
