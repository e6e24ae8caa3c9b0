#include "service/peer/http/protocol_detection.hpp"

#include <algorithm>

namespace quorvex::http {

WireProtocol detect_protocol(std::string_view first_bytes)
{
    const auto compared = std::min(first_bytes.size(), HTTP2_PREFACE.size());
    if (first_bytes.substr(0, compared) != HTTP2_PREFACE.substr(0, compared)) {
        return WireProtocol::http1;
    }
    return compared == HTTP2_PREFACE.size() ? WireProtocol::http2 : WireProtocol::undecided;
}

} // namespace quorvex::http
