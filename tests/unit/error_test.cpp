#include "common/error.hpp"

#include <gtest/gtest.h>

namespace quorvex {
namespace {

TEST(Error, ContextLinksStackOutermostFirstAndKeepTheOsNumber) {
    Error e = Error::os(5, "Access is denied.").context("IO error in winapi call").context("create helper service");
    EXPECT_EQ(e.links(), (std::vector<std::string>{"create helper service", "IO error in winapi call",
                                                   "Access is denied. (os error 5)"}));
    EXPECT_EQ(e.text(), "create helper service");
    EXPECT_EQ(e.os_code(), 5);
}

TEST(Error, FoldingMakesOneLinkOfPhraseAndOutermostText) {
    const Error cause = Error::os(10048, "Address in use.").context("bind");
    const Error folded = cause.folded_into("bind helper server");
    EXPECT_EQ(folded.links(), std::vector<std::string>{"bind helper server: bind"});
    EXPECT_FALSE(folded.os_code());
    EXPECT_FALSE(Error::message("x").os_code());
}

} // namespace
} // namespace quorvex
