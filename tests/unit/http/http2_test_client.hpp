#pragma once
// A real HTTP/2 client (nghttp2, client side, memory only) for feeding the server session frames
// and reading what it answers.

#include <nghttp2/nghttp2.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quorvex::http::test {

struct ClientStream {
    std::vector<std::pair<std::string, std::string>> headers; // ":status" included
    std::string body;
    bool closed = false;
    std::optional<std::uint32_t> reset_code; // RST_STREAM received
    std::size_t body_sent = 0;

    [[nodiscard]] std::optional<std::string> header(const std::string& name) const;
};

// One raw frame: the 9-byte frame header, then `payload`.
std::string frame(std::uint8_t type, std::uint8_t flags, std::uint32_t stream_id, const std::string& payload);

// The error code of the first GOAWAY frame in raw server output, found by walking the frames
// without a client session (which would stop at frames for streams it never opened).
std::optional<std::uint32_t> goaway_code_in(std::string_view server_bytes);

class Http2TestClient {
public:
    Http2TestClient();
    ~Http2TestClient();
    Http2TestClient(const Http2TestClient&) = delete;
    Http2TestClient& operator=(const Http2TestClient&) = delete;

    // Submits a request; `body` nullopt sends HEADERS with END_STREAM.
    std::int32_t request(const std::string& method, const std::string& path,
                         std::vector<std::pair<std::string, std::string>> headers = {},
                         std::optional<std::string> body = std::nullopt);
    // A CONNECT request: ":authority" and no ":scheme" or ":path".
    std::int32_t connect_request(const std::string& authority);
    void reset(std::int32_t stream_id);

    // Bytes the client wants to send (the preface first).
    std::string take_output();
    // Bytes from the server; false when the client session rejected them.
    bool receive(std::string_view bytes);

    std::map<std::int32_t, ClientStream> streams;
    std::optional<std::uint32_t> goaway_code;
    std::optional<std::int32_t> goaway_last_stream;

private:
    nghttp2_session* session_ = nullptr;
    std::map<std::int32_t, std::string> bodies_;
    friend struct ClientCallbacks;
};

} // namespace quorvex::http::test
