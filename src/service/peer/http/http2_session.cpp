#include "service/peer/http/http2_session.hpp"

#include "common/ascii_case.hpp"
#include "common/helper_log.hpp"
#include "service/peer/http/decimal_digits.hpp"

#include <boost/container/small_vector.hpp>
#include <nghttp2/nghttp2.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <new>
#include <utility>

namespace quorvex::http {
namespace {

// Every HTTP/2 frame starts with a head of this size (RFC 9113, section 4.1).
constexpr std::size_t FRAME_HEAD_SIZE = 9;

std::string_view view_of(const std::uint8_t* data, std::size_t length) {
    return {reinterpret_cast<const char*>(data), length};
}

// Headers that describe one HTTP/1 connection; HTTP/2 forbids them. "content-length" is ours.
bool is_dropped_reply_header(std::string_view name) {
    // By length first: the headers a reply usually carries are decided without a comparison.
    switch (name.size()) {
    case 7:
        return equals_ascii_nocase(name, "upgrade");
    case 10:
        return equals_ascii_nocase(name, "connection") || equals_ascii_nocase(name, "keep-alive");
    case 14:
        return equals_ascii_nocase(name, "content-length");
    case 16:
        return equals_ascii_nocase(name, "proxy-connection");
    case 17:
        return equals_ascii_nocase(name, "transfer-encoding");
    default:
        return false;
    }
}

nghttp2_nv header_pair(std::string_view name, std::string_view value, std::uint8_t flags) {
    return nghttp2_nv{reinterpret_cast<std::uint8_t*>(const_cast<char*>(name.data())),
                      reinterpret_cast<std::uint8_t*>(const_cast<char*>(value.data())), name.size(), value.size(),
                      flags};
}

void* nghttp2_heap_malloc(std::size_t size, void* heap) {
    return static_cast<RecyclingHeap*>(heap)->allocate_block(size);
}

void nghttp2_heap_free(void* block, void* heap) { static_cast<RecyclingHeap*>(heap)->free_block(block); }

void* nghttp2_heap_calloc(std::size_t count, std::size_t size, void* heap) {
    if (size != 0 && count > SIZE_MAX / size) {
        return nullptr;
    }
    void* block = static_cast<RecyclingHeap*>(heap)->allocate_block(count * size);
    if (block != nullptr) {
        std::memset(block, 0, count * size);
    }
    return block;
}

void* nghttp2_heap_realloc(void* block, std::size_t size, void* heap) {
    return static_cast<RecyclingHeap*>(heap)->reallocate_block(block, size);
}

using UniqueNghttp2Callbacks = std::unique_ptr<nghttp2_session_callbacks, FreedBy<nghttp2_session_callbacks_del>>;
using UniqueNghttp2Option = std::unique_ptr<nghttp2_option, FreedBy<nghttp2_option_del>>;

// An nghttp2 object from its constructor, which hands it out through its first parameter.
template <class Owner, class Create, class... Args>
Owner created(Create create, Args... args) {
    typename Owner::pointer object = nullptr;
    if (create(&object, args...) != 0) {
        throw std::bad_alloc();
    }
    return Owner(object);
}

} // namespace

struct Http2Callbacks {
    static Http2Session& self(void* user_data) { return *static_cast<Http2Session*>(user_data); }

    // nghttp2 skips PRIORITY frames unseen while RFC 7540 priorities are off, including one on
    // stream 0, which RFC 9113 makes a connection error: the frame's header is the only place to
    // catch it.
    static int on_begin_frame(nghttp2_session*, const nghttp2_frame_hd* header, void* user_data) {
        if (header->type == NGHTTP2_PRIORITY && header->stream_id == 0) {
            self(user_data).priority_on_stream_zero_ = true;
            return NGHTTP2_ERR_CALLBACK_FAILURE;
        }
        return 0;
    }

    static int on_begin_headers(nghttp2_session*, const nghttp2_frame* frame, void* user_data) {
        if (frame->hd.type == NGHTTP2_HEADERS && frame->headers.cat == NGHTTP2_HCAT_REQUEST) {
            auto& session = self(user_data);
            session.receiving_stream_ = &session.open_stream(frame->hd.stream_id);
            session.receiving_stream_id_ = frame->hd.stream_id;
        }
        return 0;
    }

    static int on_header(nghttp2_session*, const nghttp2_frame* frame, const std::uint8_t* name,
                         std::size_t name_length, const std::uint8_t* value, std::size_t value_length, std::uint8_t,
                         void* user_data) {
        auto& session = self(user_data);
        if (frame->hd.type != NGHTTP2_HEADERS) {
            return 0;
        }
        Http2Session::Stream* const found = session.receiving_stream(frame->hd.stream_id);
        if (found == nullptr) {
            return 0;
        }
        auto& stream = *found;
        // The same accounting as SETTINGS_MAX_HEADER_LIST_SIZE; a stream over it is reset.
        stream.header_bytes += name_length + value_length + 32;
        if (stream.header_bytes > HTTP2_MAX_HEADER_LIST_SIZE) {
            return NGHTTP2_ERR_TEMPORAL_CALLBACK_FAILURE;
        }
        if (frame->headers.cat != NGHTTP2_HCAT_REQUEST) {
            return 0; // trailers carry nothing the application reads
        }
        const auto header_name = view_of(name, name_length);
        const auto header_value = view_of(value, value_length);
        if (!header_name.starts_with(':')) {
            // Over a finished stream's field where there is one: its strings have room already.
            auto& headers = stream.head.headers;
            if (stream.head_fields == headers.size()) {
                headers.emplace_back();
            }
            auto& header = headers[stream.head_fields++];
            header.name = header_name;
            header.value = header_value;
        } else if (header_name == ":method") {
            stream.head.method = header_value;
        } else if (header_name == ":path") {
            stream.head.target = header_value;
        }
        return 0;
    }

    static int on_frame_recv(nghttp2_session*, const nghttp2_frame* frame, void* user_data) {
        auto& session = self(user_data);
        if (frame->hd.type == NGHTTP2_RST_STREAM) {
            session.resets_received_ = true;
        }
        if (frame->hd.type != NGHTTP2_HEADERS && frame->hd.type != NGHTTP2_DATA) {
            return 0;
        }
        Http2Session::Stream* const found = session.receiving_stream(frame->hd.stream_id);
        if (found == nullptr) {
            return 0;
        }
        auto& stream = *found;
        if (frame->hd.type == NGHTTP2_HEADERS && frame->headers.cat == NGHTTP2_HCAT_REQUEST) {
            // Fields a finished stream's head had beyond this block's.
            auto& headers = stream.head.headers;
            headers.erase(headers.begin() + static_cast<std::ptrdiff_t>(stream.head_fields), headers.end());
            stream.started = true;
            stream.head_request = stream.head.method == "HEAD";
            session.started_.push_back(frame->hd.stream_id);
        }
        if ((frame->hd.flags & NGHTTP2_FLAG_END_STREAM) != 0) {
            stream.body_complete = true;
        }
        return 0;
    }

    static int on_data_chunk_recv(nghttp2_session*, std::uint8_t, std::int32_t stream_id, const std::uint8_t* data,
                                  std::size_t length, void* user_data) {
        auto& session = self(user_data);
        const auto found = session.streams_.find(stream_id);
        if (found == session.streams_.end() || found->second.body_failed || found->second.app_done) {
            // Nobody will read these bytes: give their window back at once.
            session.deferred_connection_consumed_ += length;
            return 0;
        }
        auto& stream = found->second;
        stream.body.append(view_of(data, length));
        stream.received += length;
        stream.unconsumed += length;
        return 0;
    }

    static int on_frame_send(nghttp2_session*, const nghttp2_frame* frame, void* user_data) {
        auto& session = self(user_data);
        if (frame->hd.type == NGHTTP2_GOAWAY && frame->goaway.error_code != NGHTTP2_NO_ERROR) {
            session.note_connection_error(goaway_cause(session, frame->goaway));
            return 0;
        }
        // A reply with a body ends in send_reply_body(), which has its stream at hand.
        if (frame->hd.type != NGHTTP2_HEADERS || (frame->hd.flags & NGHTTP2_FLAG_END_STREAM) == 0) {
            return 0;
        }
        if (const auto found = session.streams_.find(frame->hd.stream_id); found != session.streams_.end()) {
            session.cut_off_unread_body(frame->hd.stream_id, found->second);
        }
        return 0;
    }

    static int on_stream_close(nghttp2_session*, std::int32_t stream_id, std::uint32_t, void* user_data) {
        auto& session = self(user_data);
        const auto found = session.streams_.find(stream_id);
        if (found == session.streams_.end()) {
            return 0;
        }
        auto& stream = found->second;
        stream.closed = true;
        // Unacknowledged bytes of a closed stream still hold the connection window.
        session.deferred_connection_consumed_ += stream.unconsumed;
        stream.unconsumed = 0;
        if (!stream.started) {
            stream.app_done = true;
        }
        session.forget_if_finished(found);
        return 0;
    }

    // nghttp2 names most causes in the GOAWAY's debug data. The reset rate limit (Rapid Reset)
    // gives none: it is the one INTERNAL_ERROR that follows the peer's own resets.
    static std::string goaway_cause(const Http2Session& session, const nghttp2_goaway& goaway) {
        std::string cause = "sent GOAWAY ";
        cause += nghttp2_http2_strerror(goaway.error_code);
        if (goaway.opaque_data_len != 0) {
            cause += ": ";
            cause += view_of(goaway.opaque_data, goaway.opaque_data_len);
        } else if (goaway.error_code == NGHTTP2_INTERNAL_ERROR && session.resets_received_) {
            cause += ": the peer reset streams faster than the limit allows";
        }
        return cause;
    }

    // The source is the replying stream: nghttp2 asks for a stream's body only while the stream
    // is open, and a stream is forgotten only once nghttp2 has closed it.
    static Http2Session::Stream& replying_stream(const nghttp2_data_source* source) {
        return *static_cast<Http2Session::Stream*>(source->ptr);
    }

    // The body is not copied into nghttp2's frame: the frame is only sized here, and
    // send_reply_body() appends its head and the body's bytes to the output.
    static ssize_t read_reply_body(nghttp2_session*, std::int32_t, std::uint8_t*, std::size_t length,
                                   std::uint32_t* data_flags, nghttp2_data_source* source, void*) {
        const auto& stream = replying_stream(source);
        const auto n = std::min(length, stream.reply_body.size() - stream.reply_sent);
        *data_flags |= NGHTTP2_DATA_FLAG_NO_COPY;
        if (stream.reply_sent + n == stream.reply_body.size()) {
            *data_flags |= NGHTTP2_DATA_FLAG_EOF;
        }
        return static_cast<ssize_t>(n);
    }

    // No padding is ever selected, so the frame is its head and `length` body bytes.
    static int send_reply_body(nghttp2_session*, nghttp2_frame* frame, const std::uint8_t* frame_head,
                               std::size_t length, nghttp2_data_source* source, void* user_data) {
        auto& stream = replying_stream(source);
        auto& output = self(user_data).output_;
        output.append(view_of(frame_head, FRAME_HEAD_SIZE));
        output.append(stream.reply_body.view().substr(stream.reply_sent, length));
        stream.reply_sent += length;
        if ((frame->hd.flags & NGHTTP2_FLAG_END_STREAM) != 0) {
            self(user_data).cut_off_unread_body(frame->hd.stream_id, stream);
        }
        return 0;
    }
};

Http2Session::Http2Session() : Http2Session(nullptr) {}

Http2Session::Http2Session(nghttp2_mem* memory) {
    const auto callbacks = created<UniqueNghttp2Callbacks>(nghttp2_session_callbacks_new);
    const auto option = created<UniqueNghttp2Option>(nghttp2_option_new);
    nghttp2_session_callbacks_set_on_begin_frame_callback(callbacks.get(), Http2Callbacks::on_begin_frame);
    nghttp2_session_callbacks_set_on_begin_headers_callback(callbacks.get(), Http2Callbacks::on_begin_headers);
    nghttp2_session_callbacks_set_on_header_callback(callbacks.get(), Http2Callbacks::on_header);
    nghttp2_session_callbacks_set_on_frame_recv_callback(callbacks.get(), Http2Callbacks::on_frame_recv);
    nghttp2_session_callbacks_set_on_data_chunk_recv_callback(callbacks.get(), Http2Callbacks::on_data_chunk_recv);
    nghttp2_session_callbacks_set_on_frame_send_callback(callbacks.get(), Http2Callbacks::on_frame_send);
    nghttp2_session_callbacks_set_on_stream_close_callback(callbacks.get(), Http2Callbacks::on_stream_close);
    nghttp2_session_callbacks_set_send_data_callback(callbacks.get(), Http2Callbacks::send_reply_body);

    // Window updates follow what readers take, not what arrives.
    nghttp2_option_set_no_auto_window_update(option.get(), 1);
    // Flood limits, set explicitly rather than trusting defaults: RST_STREAM rate (Rapid Reset),
    // CONTINUATION frames per header block, SETTINGS entries, queued PING/SETTINGS acks.
    nghttp2_option_set_stream_reset_rate_limit(option.get(), 1000, 33);
    nghttp2_option_set_max_continuations(option.get(), 8);
    nghttp2_option_set_max_settings(option.get(), 32);
    nghttp2_option_set_max_outbound_ack(option.get(), 1000);
    // Closed streams are kept only to place later PRIORITY frames in the dependency tree; with
    // no RFC 7540 priorities (announced below) there is no tree, and nothing to keep them for.
    nghttp2_option_set_no_closed_streams(option.get(), 1);

    // nghttp2 keeps a copy of the allocator record, not the record itself.
    nghttp2_mem heap{&heap_, nghttp2_heap_malloc, nghttp2_heap_free, nghttp2_heap_calloc, nghttp2_heap_realloc};
    session_ = created<UniqueNghttp2Session>(nghttp2_session_server_new3, callbacks.get(), this, option.get(),
                                             memory != nullptr ? memory : &heap);

    const std::array<nghttp2_settings_entry, 4> settings = {{
        // Replies are small and sent as soon as they are ready: a dependency tree would order nothing.
        // Without it PRIORITY frames cost nothing and cannot make the server walk a tree.
        {NGHTTP2_SETTINGS_NO_RFC7540_PRIORITIES, 1},
        {NGHTTP2_SETTINGS_MAX_CONCURRENT_STREAMS, HTTP2_MAX_CONCURRENT_STREAMS},
        {NGHTTP2_SETTINGS_MAX_HEADER_LIST_SIZE, HTTP2_MAX_HEADER_LIST_SIZE},
        {NGHTTP2_SETTINGS_INITIAL_WINDOW_SIZE, HTTP2_STREAM_WINDOW},
    }};
    if (nghttp2_submit_settings(session_.get(), NGHTTP2_FLAG_NONE, settings.data(), settings.size()) != 0) {
        throw std::bad_alloc();
    }
    nghttp2_session_set_local_window_size(session_.get(), NGHTTP2_FLAG_NONE, 0, HTTP2_CONNECTION_WINDOW);
}

Result<void> Http2Session::receive(std::string_view bytes) {
    if (broken_) {
        return fail(Error::message("the HTTP/2 session has already failed"));
    }
    const auto consumed =
        nghttp2_session_mem_recv(session_.get(), reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    apply_deferred();
    if (consumed < 0) {
        const auto code = static_cast<int>(consumed);
        if (priority_on_stream_zero_) {
            nghttp2_session_terminate_session(session_.get(), NGHTTP2_PROTOCOL_ERROR);
            note_connection_error("HTTP/2 input rejected: PRIORITY frame on stream 0");
            return fail(Error::message(*connection_error_));
        }
        const auto reason = code == NGHTTP2_ERR_FLOODED ? NGHTTP2_ENHANCE_YOUR_CALM
                            : code == NGHTTP2_ERR_CALLBACK_FAILURE || code == NGHTTP2_ERR_NOMEM
                                ? NGHTTP2_INTERNAL_ERROR
                                : NGHTTP2_PROTOCOL_ERROR;
        // Fails harmlessly when nghttp2 has already queued its own GOAWAY.
        nghttp2_session_terminate_session(session_.get(), reason);
        note_connection_error(std::string("HTTP/2 input rejected: ") + nghttp2_strerror(code));
        return fail(Error::message(*connection_error_));
    }
    return {};
}

void Http2Session::end_of_input() { input_ended_ = true; }

std::string_view Http2Session::take_output() {
    std::string& output = output_;
    output.clear();
    while (!broken_) {
        apply_deferred();
        const std::uint8_t* data = nullptr;
        const auto n = nghttp2_session_mem_send(session_.get(), &data);
        if (n < 0) {
            broken_ = true;
            note_connection_error(std::string("HTTP/2 output failed: ") + nghttp2_strerror(static_cast<int>(n)));
            break;
        }
        if (n == 0 && deferred_resets_.empty() && deferred_connection_consumed_ == 0) {
            break;
        }
        output.append(reinterpret_cast<const char*>(data), static_cast<std::size_t>(n));
    }
    return output;
}

bool Http2Session::want_read() const {
    return !broken_ && !input_ended_ && nghttp2_session_want_read(session_.get()) != 0;
}

bool Http2Session::want_write() const {
    return !broken_ && (nghttp2_session_want_write(session_.get()) != 0 || !deferred_resets_.empty() ||
                        deferred_connection_consumed_ != 0);
}

std::vector<StartedRequest> Http2Session::take_started_requests() {
    std::vector<StartedRequest> taken;
    visit_started_requests([&taken](std::int32_t stream_id, RequestHead& head) {
        taken.push_back({stream_id, std::move(head)});
    });
    return taken;
}

RequestHead* Http2Session::started_head(std::int32_t stream_id) {
    const auto found = streams_.find(stream_id);
    return found == streams_.end() || found->second.app_done ? nullptr : &found->second.head;
}

std::optional<Result<std::string>> Http2Session::poll_body(std::int32_t stream_id, std::size_t limit) {
    const auto found = streams_.find(stream_id);
    if (found == streams_.end() || found->second.app_done) {
        return fail(Error::message("the request stream is gone"));
    }
    auto& stream = found->second;
    if (stream.body_taken) {
        return fail(Error::message("the request body was already read"));
    }
    if (stream.body_failed) {
        return fail(Error::message("the request body could not be read"));
    }
    if (stream.received > limit) {
        stream.body_failed = true;
        stream.body.clear();
        stream.body.shrink_to_fit();
        release_to_connection(std::exchange(stream.unconsumed, 0));
        return fail(Error::message("the request body exceeds " + std::to_string(limit) + " bytes"));
    }
    if (!stream.body_complete && (stream.closed || input_ended_ || broken_)) {
        stream.body_failed = true;
        return fail(Error::message("the request stream ended before its body was complete"));
    }
    if (stream.unconsumed != 0) {
        nghttp2_session_consume(session_.get(), stream_id, std::exchange(stream.unconsumed, 0));
    }
    if (!stream.body_complete) {
        return std::nullopt;
    }
    stream.body_taken = true;
    return std::move(stream.body);
}

void Http2Session::submit_reply(std::int32_t stream_id, Reply&& reply) {
    const auto found = streams_.find(stream_id);
    if (found == streams_.end() || found->second.app_done) {
        return;
    }
    auto& stream = found->second;
    stream.app_done = true;
    if (stream.closed) {
        forget_if_finished(found);
        return;
    }

    // A reply header is text known at compile time, so nghttp2 keeps its value without a copy,
    // and its name as folded once per connection. A name that finds no room is copied, and
    // nghttp2 lower-cases it as it does. The numbers only have to outlive the submit call.
    DecimalDigits status_digits{};
    DecimalDigits length_digits{};
    boost::container::small_vector<nghttp2_nv, 8> pairs;
    pairs.push_back(header_pair(":status", decimal(reply.status, status_digits), NGHTTP2_NV_FLAG_NO_COPY_NAME));
    pairs.push_back(
        header_pair("content-length", decimal(reply.body.size(), length_digits), NGHTTP2_NV_FLAG_NO_COPY_NAME));
    for (const auto& header : reply.headers) {
        if (is_dropped_reply_header(header.name())) {
            continue;
        }
        if (const auto name = reply_names_.find_or_add(header.name())) {
            pairs.push_back(
                header_pair(*name, header.value(), NGHTTP2_NV_FLAG_NO_COPY_NAME | NGHTTP2_NV_FLAG_NO_COPY_VALUE));
        } else {
            pairs.push_back(header_pair(header.name(), header.value(), NGHTTP2_NV_FLAG_NO_COPY_VALUE));
        }
    }

    int submitted = 0;
    if (stream.head_request || reply.body.empty()) {
        submitted = nghttp2_submit_response(session_.get(), stream_id, pairs.data(), pairs.size(), nullptr);
    } else {
        stream.reply_body = std::move(reply.body);
        nghttp2_data_provider provider{};
        provider.source.ptr = &stream;
        provider.read_callback = Http2Callbacks::read_reply_body;
        submitted = nghttp2_submit_response(session_.get(), stream_id, pairs.data(), pairs.size(), &provider);
    }
    // Bytes that arrive from now on are dropped; the ones already here are released.
    release_to_connection(std::exchange(stream.unconsumed, 0));
    stream.body.clear();
    if (submit_refused(submitted, "the reply", stream_id)) {
        stream.reply_body = {};
        reset_stream(stream_id, NGHTTP2_INTERNAL_ERROR);
    }
}

void Http2Session::abandon_stream(std::int32_t stream_id) {
    const auto found = streams_.find(stream_id);
    if (found == streams_.end() || found->second.app_done) {
        return;
    }
    found->second.app_done = true;
    release_to_connection(std::exchange(found->second.unconsumed, 0));
    if (found->second.closed) {
        forget_if_finished(found);
        return;
    }
    reset_stream(stream_id, NGHTTP2_INTERNAL_ERROR);
}

void Http2Session::begin_shutdown() {
    // The notice tells the peer to open no more streams; the GOAWAY that follows names the last
    // stream this server takes. Streams up to it are finished normally.
    (void)submit_refused(nghttp2_submit_shutdown_notice(session_.get()), "the HTTP/2 shutdown notice");
    if (submit_refused(nghttp2_submit_goaway(session_.get(), NGHTTP2_FLAG_NONE,
                                             nghttp2_session_get_last_proc_stream_id(session_.get()), NGHTTP2_NO_ERROR,
                                             nullptr, 0),
                       "the HTTP/2 GOAWAY")) {
        broken_ = true; // the connection must still end
    }
}

void Http2Session::apply_deferred_now() {
    // Submitting a reset calls no callback, so the list cannot grow meanwhile; it keeps its capacity.
    for (const auto stream_id : deferred_resets_) {
        reset_stream(stream_id, NGHTTP2_NO_ERROR);
    }
    deferred_resets_.clear();
    if (const auto bytes = std::exchange(deferred_connection_consumed_, 0); bytes != 0) {
        nghttp2_session_consume_connection(session_.get(), bytes);
    }
}

void Http2Session::reset_stream(std::int32_t stream_id, std::uint32_t error_code) {
    if (submit_refused(nghttp2_submit_rst_stream(session_.get(), NGHTTP2_FLAG_NONE, stream_id, error_code),
                       "RST_STREAM", stream_id)) {
        broken_ = true;
    }
}

void Http2Session::log_refused_submit(int result, std::string_view what, std::optional<std::int32_t> stream_id) {
    std::string line = "Helper could not submit ";
    line += what;
    if (stream_id) {
        line += " on HTTP/2 stream " + std::to_string(*stream_id);
    }
    append_log(line + ": " + nghttp2_strerror(result));
}

void Http2Session::note_connection_error(std::string cause) {
    if (!connection_error_) {
        connection_error_ = std::move(cause);
    }
}

void Http2Session::cut_off_unread_body(std::int32_t stream_id, const Stream& stream) {
    if (!stream.body_complete && !stream.closed) {
        deferred_resets_.push_back(stream_id);
    }
}

void Http2Session::release_to_connection(std::size_t bytes) { deferred_connection_consumed_ += bytes; }

Http2Session::Stream* Http2Session::receiving_stream(std::int32_t stream_id) {
    if (stream_id != receiving_stream_id_ || receiving_stream_ == nullptr) {
        const auto found = streams_.find(stream_id);
        receiving_stream_ = found == streams_.end() ? nullptr : &found->second;
        receiving_stream_id_ = stream_id;
    }
    return receiving_stream_;
}

void Http2Session::forget_if_finished(StreamTable::iterator stream) {
    if (stream->second.closed && stream->second.app_done) {
        if (stream->first == receiving_stream_id_) {
            receiving_stream_ = nullptr;
        }
        if (spare_streams_.size() < SPARE_STREAMS) {
            // Its bodies are let go now; only the head's room is kept.
            static_cast<StreamState&>(stream->second) = StreamState{};
            spare_streams_.push_back(streams_.extract(stream));
        } else {
            streams_.erase(stream);
        }
    }
}

Http2Session::Stream& Http2Session::open_stream(std::int32_t stream_id) {
    if (spare_streams_.empty()) {
        return streams_.try_emplace(stream_id).first->second;
    }
    auto spare = std::move(spare_streams_.back());
    spare_streams_.pop_back();
    spare.key() = stream_id;
    Stream& stream = spare.mapped();
    // A request without ":path" (CONNECT) must not show the last one's.
    stream.head.method.clear();
    stream.head.target.clear();
    return streams_.insert(std::move(spare)).position->second;
}

} // namespace quorvex::http
