#pragma once
// Raw HTTP/2 client bytes that attack a server: each begins with the connection preface.

#include <string>

namespace quorvex::http::test {

// Preface and empty SETTINGS, then `streams` times: HEADERS opening a GET /, RST_STREAM(CANCEL).
std::string rapid_reset(int streams);
// Preface and SETTINGS, HEADERS without END_HEADERS, then `frames` empty CONTINUATION frames.
std::string endless_continuation(int frames);
// Preface, then one SETTINGS frame of `entries` entries.
std::string settings_with_entries(int entries);
// Preface and SETTINGS, then `count` PING frames.
std::string pings(int count);

} // namespace quorvex::http::test
