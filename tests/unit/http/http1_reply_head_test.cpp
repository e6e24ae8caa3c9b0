#include "service/peer/http/http1_reply_head.hpp"

#include <boost/beast/http/message.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/http/write.hpp>
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace quorvex::http {
namespace {

namespace bhttp = boost::beast::http;

// The head Beast's serializer writes for the same reply, as the transport used to build it.
std::string beast_head(const Reply& reply, unsigned version, bool keep_alive) {
    bhttp::response<bhttp::string_body> response;
    response.version(version);
    response.result(reply.status);
    for (const auto& header : reply.headers) {
        if (!boost::beast::iequals(header.name(), "content-length") &&
            !boost::beast::iequals(header.name(), "transfer-encoding")) {
            response.insert(header.name(), header.value());
        }
    }
    response.content_length(reply.body.size());
    response.keep_alive(keep_alive);
    std::ostringstream head;
    head << response.base();
    return head.str();
}

TEST(Http1ReplyHead, EveryReplyShapeTheHelperSendsHasTheBytesBeastWouldWrite) {
    const std::vector<Reply> replies = {
        {.status = 200,
         .headers = {{"Content-Type", "text/plain; charset=utf-8"}, {"Cache-Control", "no-store"}},
         .body = std::string(70000, 'x')},
        {.status = 200,
         .headers = {{"Content-Type", "application/json"}, {"x-quorvex-helper-protocol", "8"}},
         .body = "{}"},
        {.status = 409, .headers = {{"Content-Type", "application/json"}, {"connection", "close"}}, .body = "{}"},
        {.status = 431,
         .headers = {{"content-type", "text/plain; charset=utf-8"}, {"connection", "close"}},
         .body = "request header fields too large"},
        {.status = 404, .headers = {}, .body = ""},
        {.status = 413, .headers = {{"Content-Type", "application/json"}}, .body = "{\"code\":\"x\"}"},
        {.status = 415, .headers = {}, .body = "-"},
        {.status = 500, .headers = {{"content-length", "99"}, {"Transfer-Encoding", "chunked"}}, .body = "ab"},
        {.status = 503, .headers = {{"Content-Type", "application/json"}}, .body = "{}"},
        {.status = 299, .headers = {{"Content-Type", "application/json"}}, .body = "unknown status"},
    };
    for (const auto& reply : replies) {
        for (const unsigned version : {10U, 11U}) {
            for (const bool keep_alive : {true, false}) {
                std::string head;
                append_reply_head(head, reply, version, keep_alive);
                EXPECT_EQ(head, beast_head(reply, version, keep_alive))
                    << reply.status << " HTTP/" << version << (keep_alive ? " keep-alive" : " close");
            }
        }
    }
}

} // namespace
} // namespace quorvex::http
