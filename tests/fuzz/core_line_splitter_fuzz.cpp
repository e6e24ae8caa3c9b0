// The relay's line splitter on any byte stream in any chunking. Every line handed out is UTF-8,
// at most MAX_LINE_BYTES long and holds no line feed; the chunking changes nothing; and a
// stream of short valid lines comes out exactly as written.
//
// Input: byte 0 picks the chunk sizes, byte 1 how often the rest is repeated (so lines longer
// than the cap come from small inputs), the rest is the stream.

#include "common/utf.hpp"
#include "service/hub/core_output_relay.hpp"

#include "fuzz_check.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

using namespace quorvex;
using hub::CoreLineSplitter;

namespace {

struct Split {
    std::vector<std::string> lines;
    bool accepted = true; // feed() never said false
};

Split split(std::string_view stream, std::size_t chunk) {
    CoreLineSplitter splitter;
    Split out;
    const auto sink = [&out](std::string line) { out.lines.push_back(std::move(line)); };
    for (std::size_t at = 0; at < stream.size(); at += chunk) {
        const auto before = out.lines.size();
        const bool ok = splitter.feed(stream.substr(at, chunk), sink);
        // Once a line was not UTF-8, nothing more comes out.
        if (!out.accepted) {
            FUZZ_CHECK(!ok && out.lines.size() == before);
        }
        if (!ok) {
            out.accepted = false;
        }
        FUZZ_CHECK(splitter.held_bytes() <= CoreLineSplitter::MAX_LINE_BYTES + 4);
    }
    splitter.finish(sink);
    return out;
}

// The lines as written, when every one is valid and within the cap; nothing otherwise.
std::optional<std::vector<std::string>> plain_lines(std::string_view stream) {
    std::vector<std::string> lines;
    while (!stream.empty()) {
        const auto lf = stream.find('\n');
        std::string line(stream.substr(0, lf));
        if (lf != std::string_view::npos && !line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        stream.remove_prefix(lf == std::string_view::npos ? stream.size() : lf + 1);
        if (line.size() > CoreLineSplitter::MAX_LINE_BYTES || !is_valid_utf8(line)) {
            return std::nullopt;
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    static constexpr std::size_t CHUNKS[] = {1, 2, 3, 7, 64, 4096, 65535, 65536, 65537, 1 << 20};
    const std::size_t chunk = CHUNKS[data[0] % std::size(CHUNKS)];
    const std::string_view piece(reinterpret_cast<const char*>(data + 2), size - 2);
    std::string stream;
    for (std::size_t i = 0, n = 1 + data[1] * (data[1] >= 128 ? 16 : 1); i < n && stream.size() < (1 << 18); ++i) {
        stream += piece;
    }

    const auto whole = split(stream, stream.size() + 1);
    // Tiny reads only on short streams: a megabyte fed byte by byte would slow the target down.
    const auto chunked = split(stream, stream.size() > 4096 ? std::max<std::size_t>(chunk, 61) : chunk);
    FUZZ_CHECK(whole.lines == chunked.lines);
    FUZZ_CHECK(whole.accepted == chunked.accepted);
    for (const auto& line : whole.lines) {
        FUZZ_CHECK(is_valid_utf8(line));
        FUZZ_CHECK(line.size() <= CoreLineSplitter::MAX_LINE_BYTES);
        FUZZ_CHECK(line.find('\n') == std::string::npos);
    }
    if (const auto plain = plain_lines(stream)) {
        FUZZ_CHECK(whole.accepted);
        FUZZ_CHECK(whole.lines == *plain);
    }
    return 0;
}
