#include "http2_test_client.hpp"

#include <array>

#include <algorithm>
#include <stdexcept>

namespace quorvex::http::test {

std::string frame(std::uint8_t type, std::uint8_t flags, std::uint32_t stream_id, const std::string& payload) {
    std::string bytes;
    const auto length = payload.size();
    bytes += static_cast<char>((length >> 16) & 0xff);
    bytes += static_cast<char>((length >> 8) & 0xff);
    bytes += static_cast<char>(length & 0xff);
    bytes += static_cast<char>(type);
    bytes += static_cast<char>(flags);
    for (int shift = 24; shift >= 0; shift -= 8) {
        bytes += static_cast<char>((stream_id >> shift) & 0xff);
    }
    return bytes + payload;
}

std::optional<std::uint32_t> goaway_code_in(std::string_view bytes) {
    std::size_t at = 0;
    while (at + 9 <= bytes.size()) {
        const auto byte = [&](std::size_t i) {
            return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i]));
        };
        const auto length = (byte(at) << 16) | (byte(at + 1) << 8) | byte(at + 2);
        if (byte(at + 3) == 0x7 && at + 9 + 8 <= bytes.size()) {
            const auto p = at + 9 + 4;
            return (byte(p) << 24) | (byte(p + 1) << 16) | (byte(p + 2) << 8) | byte(p + 3);
        }
        at += 9 + length;
    }
    return std::nullopt;
}

std::optional<std::string> ClientStream::header(const std::string& name) const {
    for (const auto& [n, v] : headers) {
        if (n == name) {
            return v;
        }
    }
    return std::nullopt;
}

struct ClientCallbacks {
    static Http2TestClient& self(void* user) { return *static_cast<Http2TestClient*>(user); }

    static int on_header(nghttp2_session*, const nghttp2_frame* frame, const std::uint8_t* name, std::size_t namelen,
                         const std::uint8_t* value, std::size_t valuelen, std::uint8_t, void* user) {
        self(user).streams[frame->hd.stream_id].headers.emplace_back(
            std::string(reinterpret_cast<const char*>(name), namelen),
            std::string(reinterpret_cast<const char*>(value), valuelen));
        return 0;
    }

    static int on_data(nghttp2_session*, std::uint8_t, std::int32_t stream_id, const std::uint8_t* data,
                       std::size_t len, void* user) {
        self(user).streams[stream_id].body.append(reinterpret_cast<const char*>(data), len);
        return 0;
    }

    static int on_frame_recv(nghttp2_session*, const nghttp2_frame* frame, void* user) {
        auto& client = self(user);
        if (frame->hd.type == NGHTTP2_GOAWAY) {
            client.goaway_code = frame->goaway.error_code;
            client.goaway_last_stream = frame->goaway.last_stream_id;
        } else if (frame->hd.type == NGHTTP2_RST_STREAM) {
            client.streams[frame->hd.stream_id].reset_code = frame->rst_stream.error_code;
        }
        return 0;
    }

    static int on_close(nghttp2_session*, std::int32_t stream_id, std::uint32_t, void* user) {
        self(user).streams[stream_id].closed = true;
        return 0;
    }

    static ssize_t read_body(nghttp2_session*, std::int32_t stream_id, std::uint8_t* buf, std::size_t length,
                             std::uint32_t* flags, nghttp2_data_source*, void* user) {
        auto& client = self(user);
        auto& body = client.bodies_[stream_id];
        auto& sent = client.streams[stream_id].body_sent;
        const auto n = std::min(length, body.size() - sent);
        std::copy_n(body.data() + sent, n, buf);
        sent += n;
        if (sent == body.size()) {
            *flags |= NGHTTP2_DATA_FLAG_EOF;
        }
        return static_cast<ssize_t>(n);
    }
};

Http2TestClient::Http2TestClient() {
    nghttp2_session_callbacks* callbacks = nullptr;
    nghttp2_session_callbacks_new(&callbacks);
    nghttp2_session_callbacks_set_on_header_callback(callbacks, ClientCallbacks::on_header);
    nghttp2_session_callbacks_set_on_data_chunk_recv_callback(callbacks, ClientCallbacks::on_data);
    nghttp2_session_callbacks_set_on_frame_recv_callback(callbacks, ClientCallbacks::on_frame_recv);
    nghttp2_session_callbacks_set_on_stream_close_callback(callbacks, ClientCallbacks::on_close);
    nghttp2_session_client_new(&session_, callbacks, this);
    nghttp2_session_callbacks_del(callbacks);
    nghttp2_submit_settings(session_, NGHTTP2_FLAG_NONE, nullptr, 0);
}

Http2TestClient::~Http2TestClient() { nghttp2_session_del(session_); }

std::int32_t Http2TestClient::request(const std::string& method, const std::string& path,
                                      std::vector<std::pair<std::string, std::string>> headers,
                                      std::optional<std::string> body) {
    std::vector<std::pair<std::string, std::string>> fields = {
        {":method", method}, {":scheme", "http"}, {":authority", "127.0.0.1"}, {":path", path}};
    fields.insert(fields.end(), headers.begin(), headers.end());
    std::vector<nghttp2_nv> nv;
    nv.reserve(fields.size());
    for (auto& [name, value] : fields) {
        nv.push_back(nghttp2_nv{reinterpret_cast<std::uint8_t*>(name.data()),
                                reinterpret_cast<std::uint8_t*>(value.data()), name.size(), value.size(),
                                NGHTTP2_NV_FLAG_NONE});
    }
    std::int32_t id = 0;
    if (body) {
        nghttp2_data_provider provider{};
        provider.read_callback = ClientCallbacks::read_body;
        id = nghttp2_submit_request(session_, nullptr, nv.data(), nv.size(), &provider, nullptr);
        bodies_[id] = std::move(*body);
    } else {
        id = nghttp2_submit_request(session_, nullptr, nv.data(), nv.size(), nullptr, nullptr);
    }
    if (id < 0) {
        throw std::runtime_error(nghttp2_strerror(id));
    }
    streams[id];
    return id;
}

std::int32_t Http2TestClient::connect_request(const std::string& authority) {
    std::string method = "CONNECT";
    std::string authority_value = authority;
    const std::array<nghttp2_nv, 2> nv = {{
        {reinterpret_cast<std::uint8_t*>(const_cast<char*>(":method")), reinterpret_cast<std::uint8_t*>(method.data()),
         7, method.size(), NGHTTP2_NV_FLAG_NONE},
        {reinterpret_cast<std::uint8_t*>(const_cast<char*>(":authority")),
         reinterpret_cast<std::uint8_t*>(authority_value.data()), 10, authority_value.size(), NGHTTP2_NV_FLAG_NONE},
    }};
    const auto id = nghttp2_submit_request(session_, nullptr, nv.data(), nv.size(), nullptr, nullptr);
    if (id < 0) {
        throw std::runtime_error(nghttp2_strerror(id));
    }
    streams[id];
    return id;
}

void Http2TestClient::reset(std::int32_t stream_id) {
    nghttp2_submit_rst_stream(session_, NGHTTP2_FLAG_NONE, stream_id, NGHTTP2_CANCEL);
}

std::string Http2TestClient::take_output() {
    std::string out;
    for (;;) {
        const std::uint8_t* data = nullptr;
        const auto n = nghttp2_session_mem_send(session_, &data);
        if (n <= 0) {
            return out;
        }
        out.append(reinterpret_cast<const char*>(data), static_cast<std::size_t>(n));
    }
}

bool Http2TestClient::receive(std::string_view bytes) {
    return nghttp2_session_mem_recv(session_, reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()) >= 0;
}

} // namespace quorvex::http::test
