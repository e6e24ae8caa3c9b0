// The HTTP/2 server session fed raw bytes (preface, frames) in pieces, with an application that
// answers, reads, ignores or abandons the requests it is handed. Started requests carry odd
// client stream ids, bodies never exceed the reader's limit, and a session that rejected its
// input wants to read nothing more once its GOAWAY is out.

#include "service/peer/http/http2_session.hpp"

#include "fuzz_check.hpp"

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>

using namespace quorvex::http;

namespace {

constexpr std::size_t BODY_LIMIT = 4096;

class Application {
public:
    explicit Application(Http2Session& session) : session_(session) {}

    // What a connection does between reads: take new requests and move every pending one on.
    void serve() {
        for (auto& started : session_.take_started_requests()) {
            FUZZ_CHECK(started.stream_id > 0 && started.stream_id % 2 == 1);
            FUZZ_CHECK(seen_.insert(started.stream_id).second); // each stream is handed out once
            switch (started.stream_id % 8) {
            case 1:
                session_.submit_reply(started.stream_id, Reply{.status = 204});
                break; // body left unread
            case 3:
                session_.abandon_stream(started.stream_id);
                break;
            default:
                pending_.insert(started.stream_id);
                break;
            }
        }
        for (auto it = pending_.begin(); it != pending_.end();) {
            auto body = session_.poll_body(*it, BODY_LIMIT);
            if (!body) {
                ++it;
                continue;
            }
            if (*body) {
                FUZZ_CHECK((*body)->size() <= BODY_LIMIT);
                session_.submit_reply(*it, Reply{.status = 200,
                                                 .headers = {{"Content-Type", "text/plain"}, {"Connection", "close"}},
                                                 .body = std::move(**body) + "!"});
                // Taken once only.
                const auto again = session_.poll_body(*it, BODY_LIMIT);
                FUZZ_CHECK(again && !*again);
            } else {
                session_.submit_reply(*it, Reply{.status = 400, .body = "bad body"});
            }
            it = pending_.erase(it);
        }
    }

    [[nodiscard]] bool idle() const { return pending_.empty(); }

private:
    Http2Session& session_;
    std::set<std::int32_t> pending_;
    std::set<std::int32_t> seen_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    Http2Session session;
    Application app(session);
    std::size_t output_bytes = session.take_output().size();

    // Pieces of varying size, so frames also arrive cut in two.
    std::size_t at = 0;
    for (std::size_t piece = 0; at < input.size() && session.want_read(); ++piece) {
        const std::size_t length = piece % 3 == 0 ? 9 : piece % 3 == 1 ? 100 : 1000;
        const auto received = session.receive(input.substr(at, length));
        at += length;
        if (!received) {
            // Its GOAWAY out, the session wants nothing more from the peer.
            output_bytes += session.take_output().size();
            FUZZ_CHECK(!session.want_read());
            break;
        }
        app.serve();
        output_bytes += session.take_output().size();
    }
    session.end_of_input();
    app.serve();
    FUZZ_CHECK(app.idle()); // every body completes or fails once the input ended
    session.begin_shutdown();
    output_bytes += session.take_output().size();
    FUZZ_CHECK(output_bytes > 0); // the server's SETTINGS at least
    return 0;
}
