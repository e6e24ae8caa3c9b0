#include "command/helper_command.hpp"

#include <gtest/gtest.h>

#include <sstream>

namespace quorvex::command {
namespace {

std::string reported(const Error& error) {
    std::ostringstream out;
    report_failure(error, out);
    return out.str();
}

TEST(ReportFailure, ShowsTheWholeChain) {
    EXPECT_EQ(reported(Error::message("--owner-sid is not a SID")), "Error: --owner-sid is not a SID\n");
    EXPECT_EQ(reported(Error::os(1063, "The service process could not connect to the service controller.")
                           .context("IO error in winapi call")),
              "Error: IO error in winapi call\n"
              "\n"
              "Caused by:\n"
              "    The service process could not connect to the service controller. (os error 1063)\n");
    EXPECT_EQ(
        reported(Error::os(5, "Access denied.").context("IO error in winapi call").context("create helper service")),
        "Error: create helper service\n"
        "\n"
        "Caused by:\n"
        "    0: IO error in winapi call\n"
        "    1: Access denied. (os error 5)\n");
}

TEST(ReportFailure, RightAlignsIndicesInFiveColumns) {
    Error error = Error::message("link 12");
    for (int i = 11; i >= 0; --i) {
        error = std::move(error).context("link " + std::to_string(i));
    }
    const std::string text = reported(error);
    EXPECT_TRUE(text.starts_with("Error: link 0\n\nCaused by:\n    0: link 1\n")) << text;
    EXPECT_NE(text.find("\n    9: link 10\n   10: link 11\n   11: link 12\n"), std::string::npos) << text;
    EXPECT_TRUE(text.ends_with("link 12\n"));
}

TEST(FinishCommand, SuccessPrintsNothing) {
    std::ostringstream out;
    EXPECT_EQ(finish_command({}, out), EXIT_STATUS_SUCCESS);
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(finish_command(fail(Error::message("uninstall failed")), out), EXIT_STATUS_FAILURE);
    EXPECT_EQ(out.str(), "Error: uninstall failed\n");
}

} // namespace
} // namespace quorvex::command
