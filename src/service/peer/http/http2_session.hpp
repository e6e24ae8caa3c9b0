#pragma once
// The HTTP/2 protocol state of one connection (nghttp2, server side, prior knowledge). It never
// sees a socket: bytes go in through receive(), bytes to send come out of take_output(), and
// want_read()/want_write() tell the connection what it still has to do. So it is tested by
// feeding it frames.
//
// Request bodies are flow-controlled by hand: received DATA is acknowledged (WINDOW_UPDATE) only
// as a reader takes it, so a body nobody asked for never grows past the stream window.

#include "service/peer/http/lower_case_names.hpp"
#include "service/peer/http/request_handler.hpp"
#include "service/peer/http/recycling_heap.hpp"

#include <boost/container/static_vector.hpp>
#include <nghttp2/nghttp2.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <memory_resource>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quorvex::http {

inline constexpr std::uint32_t HTTP2_MAX_CONCURRENT_STREAMS = 100;
inline constexpr std::uint32_t HTTP2_MAX_HEADER_LIST_SIZE = 16 * 1024;
inline constexpr std::uint32_t HTTP2_STREAM_WINDOW = 64 * 1024;
// Bounds the unread body bytes of all streams together, above one stream's window so that one
// unread body does not hold up the others.
inline constexpr std::int32_t HTTP2_CONNECTION_WINDOW = 1024 * 1024;

// Frees an nghttp2 object through the call its kind names: the deleter of a std::unique_ptr.
template <auto Free>
struct FreedBy {
    template <class Object>
    void operator()(Object* object) const noexcept {
        Free(object);
    }
};
using UniqueNghttp2Session = std::unique_ptr<nghttp2_session, FreedBy<nghttp2_session_del>>;

// NOLINTNEXTLINE(bugprone-exception-escape): moves cannot throw; small_vector does not say so
struct StartedRequest {
    std::int32_t stream_id = 0;
    RequestHead head;
};

// One stream of an Http2Session: the state it starts afresh with, and its request head, kept
// apart so that a finished stream's head can serve the next stream.
struct Http2StreamState {
    std::size_t header_bytes = 0;
    std::size_t head_fields = 0; // header fields of the head's block so far
    bool head_request = false;
    bool started = false;       // handed to the application
    bool app_done = false;      // the application replied or gave up
    std::string body;           // received, not yet taken
    std::size_t received = 0;   // body bytes received in total
    std::size_t unconsumed = 0; // received, not yet acknowledged to the peer
    bool body_complete = false;
    bool body_failed = false; // over the reader's limit: further DATA is dropped
    bool body_taken = false;
    bool closed = false;
    ReplyBody reply_body;
    std::size_t reply_sent = 0;
};
struct Http2Stream : Http2StreamState {
    RequestHead head;
};

class Http2Session {
public:
    // Queues the server's SETTINGS.
    Http2Session();
    // The same over the given allocator, which must outlive the session.
    explicit Http2Session(nghttp2_mem* memory);
    Http2Session(const Http2Session&) = delete;
    Http2Session& operator=(const Http2Session&) = delete;

    // Feeds bytes from the peer, starting with the connection preface. Fails when the input broke
    // the protocol; GOAWAY with the matching error code is then queued and nothing more is read.
    // (Most protocol errors are answered by nghttp2 itself without a failure here: want_read()
    // turns false once their GOAWAY is out.)
    Result<void> receive(std::string_view bytes);
    // The peer sent its last byte: bodies still incomplete can no longer complete.
    void end_of_input();

    // Every byte ready to be sent now. The bytes live in a buffer the session keeps and reuses:
    // they stay valid until the next call.
    [[nodiscard]] std::string_view take_output();
    [[nodiscard]] bool want_read() const;
    [[nodiscard]] bool want_write() const;

    // Requests whose head has arrived since the last call, in arrival order.
    [[nodiscard]] std::vector<StartedRequest> take_started_requests();
    // The same without moving the heads: `visit(stream_id, head)` for each, where the head stays
    // the session's until the stream is answered (move it out to keep it longer). `visit` may
    // answer the stream; it must not feed the session.
    template <class Visit>
    void visit_started_requests(Visit&& visit) {
        for (const std::int32_t stream_id : started_) {
            if (RequestHead* head = started_head(stream_id)) {
                visit(stream_id, *head);
            }
        }
        started_.clear();
    }

    // The whole body once END_STREAM has arrived; nullopt while more may come. Fails when more
    // than `limit` bytes arrive, when the stream is reset or the input ends early, or when the
    // body was already taken.
    [[nodiscard]] std::optional<Result<std::string>> poll_body(std::int32_t stream_id, std::size_t limit);

    // Answers a started request. Connection-specific headers are dropped, names lower-cased and
    // "content-length" set from the body. A request body left unread is cut off with
    // RST_STREAM(NO_ERROR) once the reply is complete. A reply nghttp2 refuses fails its stream:
    // RST_STREAM(INTERNAL_ERROR).
    void submit_reply(std::int32_t stream_id, Reply&& reply);
    // The handler of a started request gave up without a reply: RST_STREAM(INTERNAL_ERROR).
    void abandon_stream(std::int32_t stream_id);

    // Graceful shutdown: a shutdown notice, then GOAWAY naming the last stream taken. Open streams
    // finish; afterwards want_read() and want_write() turn false.
    void begin_shutdown();

    // Why this server ended the connection on an error (a flood limit, a protocol error, a
    // failure of nghttp2), once it has: the first cause only. Nothing for a graceful end.
    [[nodiscard]] const std::optional<std::string>& connection_error() const { return connection_error_; }

private:
    using StreamState = Http2StreamState;
    using Stream = Http2Stream;

    // The nghttp2 callbacks, defined beside the implementation.
    friend struct Http2Callbacks;

    // nghttp2 must not be driven from inside its own callbacks: resets and window updates that
    // callbacks decide on are applied here, between calls.
    void apply_deferred() {
        // Inline: there is rarely anything to apply.
        if (!deferred_resets_.empty() || deferred_connection_consumed_ != 0) {
            apply_deferred_now();
        }
    }
    void apply_deferred_now();
    void release_to_connection(std::size_t bytes);
    // The reply is complete while the peer is still sending its body: tell it to stop.
    void cut_off_unread_body(std::int32_t stream_id, const Stream& stream);
    // Queues RST_STREAM; when even that is refused the stream could never end, so the whole
    // connection is given up.
    void reset_stream(std::int32_t stream_id, std::uint32_t error_code);
    // Logs a refused submit as one line, naming the stream if given; true when it was refused. The
    // line is only built then, out of line: a reply costs one comparison.
    static bool submit_refused(int result, std::string_view what, std::optional<std::int32_t> stream_id = {}) {
        if (result == 0) {
            return false;
        }
        log_refused_submit(result, what, stream_id);
        return true;
    }
    static void log_refused_submit(int result, std::string_view what, std::optional<std::int32_t> stream_id);
    void note_connection_error(std::string cause);
    using StreamTable = std::pmr::unordered_map<std::int32_t, Stream>;
    void forget_if_finished(StreamTable::iterator stream);
    // A new stream, made from a finished one when there is one: the finished head's strings keep
    // their room, so a client that sends the same headers again allocates nothing for them.
    [[nodiscard]] Stream& open_stream(std::int32_t stream_id);

    RecyclingHeap heap_; // first: outlives the session and the stream table
    StreamTable streams_{&heap_};
    // Finished streams kept for open_stream(), at most SPARE_STREAMS, each with a fresh state and
    // its last head.
    static constexpr std::size_t SPARE_STREAMS = 16;
    boost::container::static_vector<StreamTable::node_type, SPARE_STREAMS> spare_streams_;
    [[nodiscard]] RequestHead* started_head(std::int32_t stream_id);
    // The stream whose frame is arriving: a request's header fields and then the end of its block
    // come one callback each, so the stream is looked up once per block, not once per callback.
    // Null when it is gone.
    [[nodiscard]] Stream* receiving_stream(std::int32_t stream_id);
    Stream* receiving_stream_ = nullptr;
    std::int32_t receiving_stream_id_ = 0;

    std::vector<std::int32_t> started_; // streams whose head arrived, not yet handed on
    std::string output_;                // what take_output() returned last; keeps its capacity
    std::vector<std::int32_t> deferred_resets_;
    std::size_t deferred_connection_consumed_ = 0;
    bool input_ended_ = false;
    bool broken_ = false; // nghttp2 reported a fatal error: nothing more can be done
    bool resets_received_ = false;
    bool priority_on_stream_zero_ = false;
    std::optional<std::string> connection_error_;
    // Before the session: nghttp2 keeps pointers to these names until their HEADERS are sent.
    LowerCaseNames reply_names_;
    // Last: deleted before the state its callbacks reach, and before its heap.
    UniqueNghttp2Session session_;
};

} // namespace quorvex::http
