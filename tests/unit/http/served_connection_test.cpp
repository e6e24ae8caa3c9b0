#include "service/peer/http/served_connection.hpp"

#include <gtest/gtest.h>

#include <string>

namespace quorvex::http {
namespace {

TEST(ProtocolDetection, DecidesAtTheFirstDifferingByte) {
    struct Case {
        std::string bytes;
        WireProtocol expected;
    };
    const Case cases[] = {
        {"", WireProtocol::undecided},
        {"P", WireProtocol::undecided},
        {"PRI * HTTP/2.0\r\n", WireProtocol::undecided},
        {std::string(HTTP2_PREFACE.substr(0, 23)), WireProtocol::undecided},
        {std::string(HTTP2_PREFACE), WireProtocol::http2},
        {std::string(HTTP2_PREFACE) + std::string("\x00\x00\x00\x04", 4), WireProtocol::http2},
        {"G", WireProtocol::http1},
        {"GET / HTTP/1.0\r\n\r\n", WireProtocol::http1},
        {"POST / HTTP/1.1\r\n", WireProtocol::http1},
        {"PRI * HTTP/1.1\r\n", WireProtocol::http1},
        {std::string(HTTP2_PREFACE.substr(0, 23)) + "X", WireProtocol::http1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(detect_protocol(c.bytes), c.expected) << '"' << c.bytes << '"';
    }
}

TEST(ProtocolDetection, EveryPrefixOfThePrefaceWaitsAndEveryAlteredByteDecidesHttp1) {
    for (std::size_t length = 0; length < HTTP2_PREFACE.size(); ++length) {
        const std::string prefix(HTTP2_PREFACE.substr(0, length));
        EXPECT_EQ(detect_protocol(prefix), WireProtocol::undecided) << length;
        auto altered = std::string(HTTP2_PREFACE.substr(0, length + 1));
        altered.back() = static_cast<char>(altered.back() ^ 0x20);
        EXPECT_EQ(detect_protocol(altered), WireProtocol::http1) << length;
    }
}

} // namespace
} // namespace quorvex::http
