// Boost's assertions in the builds that keep them (the native tests and the fuzz targets; the
// shipped Release builds define NDEBUG, which compiles them out). Each one fails as assert()
// would, with one exception: an assertion of Boost 1.81 that is known to be wrong.

#include <boost/assert.hpp>

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace {

// Beast's chunk-header parser asserts `n >= 5` when it meets the final chunk's line a second
// time, but a client that sends "0\r\n" and then one more byte gives it 4, and the code that
// follows rightly answers need_more. Boost 1.86 carries the corrected assertion (Beast pull
// request 2861: at least 5 bytes only when a CRLF is expected, else 3).
bool is_known_wrong(std::string_view expression, std::string_view function, std::string_view file) {
    return expression == "n >= 5" && file.ends_with("boost/beast/http/impl/basic_parser.ipp") &&
           function.find("parse_chunk_header") != std::string_view::npos;
}

[[noreturn]] void fail(const char* expression, const char* message, const char* function, const char* file, long line) {
    (void)std::fprintf(stderr, "%s:%ld: %s: Assertion `%s' failed.%s%s\n", file, line, function, expression,
                       message != nullptr ? " " : "", message != nullptr ? message : "");
    (void)std::fflush(stderr);
    std::abort();
}

} // namespace

namespace boost {

void assertion_failed(const char* expr, const char* function, const char* file, long line) {
    if (!is_known_wrong(expr, function, file)) {
        fail(expr, nullptr, function, file, line);
    }
}

void assertion_failed_msg(const char* expr, const char* msg, const char* function, const char* file, long line) {
    fail(expr, msg, function, file, line);
}

} // namespace boost
