#include "service/hub/ping_query.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace quorvex::hub {
namespace {

TEST(PingQuery, ReadsExactlyOneCoreSha256AsFormData) {
    const struct {
        std::string target;
        std::optional<std::string> digest;
    } cases[] = {
        {"/ping?coreSha256=abc", "abc"},
        {"/ping/?&&coreSha256=abc&", "abc"},
        {"/ping?coreSha256", ""},
        {"/ping?coreSha256=", ""},
        {"/ping?coreSha256=a=b", "a=b"},
        {"/ping?core%53ha256=abc", "abc"},
        {"/ping?coreSha256=a+b%2Bc", "a b+c"},
        {"/ping?coreSha256=%zz%4%", "%zz%4%"},
        {"/ping?coreSha256=%41%62", "Ab"},
        {"/ping?coreSha256=%ff%C3%A9", "\xEF\xBF\xBD\xC3\xA9"},
        {"/ping?coreSha256=a?b", "a?b"},
        {"/ping", std::nullopt},
        {"/ping?", std::nullopt},
        {"/ping?&", std::nullopt},
        {"/ping?coreSha256=a&other=1", std::nullopt},
        {"/ping?other&coreSha256=a", std::nullopt},
        {"/ping?coreSha256=a&coreSha256=a", std::nullopt},
        {"/ping?CoreSha256=a", std::nullopt},
        {"/ping?coreSha256+=a", std::nullopt},
    };
    for (const auto& c : cases) {
        const auto query = read_ping_query(c.target);
        ASSERT_EQ(query.has_value(), c.digest.has_value()) << c.target;
        if (query) {
            EXPECT_EQ(query->core_sha256, *c.digest) << c.target;
        }
    }
}

} // namespace
} // namespace quorvex::hub
