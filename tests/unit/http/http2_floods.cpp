#include "http2_floods.hpp"

#include "http2_test_client.hpp"
#include "service/peer/http/served_connection.hpp"

#include <cstdint>

namespace quorvex::http::test {
namespace {

std::string preface_and_settings() { return std::string(HTTP2_PREFACE) + frame(0x4, 0, 0, ""); }

// HEADERS that open a GET / on `stream_id`: static-table entries and a literal authority.
std::string request_headers(std::uint32_t stream_id, std::uint8_t flags) {
    const std::string block = "\x82\x86\x84\x41\x09localhost"; // GET, http, /, :authority
    return frame(0x1, flags, stream_id, block);
}

} // namespace

std::string rapid_reset(int streams) {
    std::string bytes = preface_and_settings();
    for (int i = 0; i < streams; ++i) {
        const auto id = static_cast<std::uint32_t>(2 * i + 1);
        bytes += request_headers(id, 0x5);                        // END_STREAM | END_HEADERS
        bytes += frame(0x3, 0, id, std::string("\0\0\0\x08", 4)); // RST_STREAM(CANCEL)
    }
    return bytes;
}

std::string endless_continuation(int frames) {
    std::string bytes = preface_and_settings() + request_headers(1, 0x1); // END_STREAM only
    for (int i = 0; i < frames; ++i) {
        bytes += frame(0x9, 0, 1, "");
    }
    return bytes;
}

std::string settings_with_entries(int entries) {
    std::string payload;
    for (int i = 0; i < entries; ++i) {
        payload += std::string("\0\x03\0\0\0\x64", 6); // MAX_CONCURRENT_STREAMS = 100
    }
    return std::string(HTTP2_PREFACE) + frame(0x4, 0, 0, payload);
}

std::string pings(int count) {
    std::string bytes = preface_and_settings();
    const auto ping = frame(0x6, 0, 0, "12345678");
    bytes.reserve(bytes.size() + ping.size() * static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        bytes += ping;
    }
    return bytes;
}

} // namespace quorvex::http::test
