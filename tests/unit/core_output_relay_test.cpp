#include "service/hub/core_output_relay.hpp"

#include "fake_core_platform.hpp"
#include "service/hub/core_supervisor.hpp"

#include <gtest/gtest.h>

namespace quorvex::hub {
namespace {

using Lines = std::vector<std::string>;

const std::string SESSION = "0123456789abcdef0123456789abcdef";
const std::string ADDRESS = std::string(CORE_PIPE_PREFIX) + "0123456789abcdef0123456789abcdef";

// A supervisor managing one fake Core, whose relay the test runs on its own thread.
class CoreOutputRelayTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(std::holds_alternative<Started>(supervisor.start_core(ADDRESS, SESSION)));
        output = platform.outputs.at(0);
    }
    void relay() {
        relay_core_output(std::move(relays.at(0)), log, [this] { supervisor.watch_core_exit(SESSION); });
    }

    testing::FakeCorePlatform platform;
    HelperLog log;
    testing::FakeClock clock;
    std::vector<std::unique_ptr<CoreOutput>> relays;
    CoreSupervisor supervisor{platform, log, clock, [this](const std::string&, std::unique_ptr<CoreOutput> o) {
                                  relays.push_back(std::move(o));
                              }};
    std::shared_ptr<testing::FakeOutputScript> output;
};

TEST_F(CoreOutputRelayTest, CopiesEveryLineThenNoticesTheExit) {
    output->reads = {std::string("one\r\ntw"), std::string("o\n\nthree")};
    platform.cores[0]->exit_code = 0;
    platform.events.clear();
    relay();
    EXPECT_EQ(log.lines(), (Lines{"one", "two", "", "three", "Core exited on its own: exit code: 0"}));
    // The pipe is closed before the supervisor is asked.
    EXPECT_EQ(platform.events.all().front(), "close output 1001");
    EXPECT_EQ(supervisor.managed_session_id(), std::nullopt);
}

TEST_F(CoreOutputRelayTest, ReadsInChunksOfAtMost8192Bytes) {
    output->reads = {std::string(20000, 'x') + "\n"};
    relay();
    EXPECT_EQ(output->largest_buffer, 8192u);
    EXPECT_EQ(output->read_calls, 4); // 8192 + 8192 + 3617 bytes, then the end
}

TEST_F(CoreOutputRelayTest, FailedReadDropsTheUnfinishedLine) {
    output->reads = {std::string("done\npart"), fail(Error::os(109, "The pipe has been ended.")),
                     std::string("never\n")};
    relay();
    EXPECT_EQ(log.lines(), (Lines{"done"}));
    EXPECT_EQ(supervisor.managed_session_id(), SESSION); // the Core still runs: no exit line
}

TEST_F(CoreOutputRelayTest, InvalidLineStopsTheReading) {
    output->reads = {std::string("ok\n\xff\nlater\n"), std::string("more\n")};
    platform.cores[0]->exit_code = 3;
    relay();
    EXPECT_EQ(log.lines(), (Lines{"ok", "Core exited on its own: exit code: 3"}));
    EXPECT_EQ(output->read_calls, 1);
}

TEST_F(CoreOutputRelayTest, StoppedCoreGetsNoExitLine) {
    output->reads = {std::string("bye\n")};
    ASSERT_TRUE(std::holds_alternative<Stopped>(supervisor.stop_core(SESSION)));
    relay();
    EXPECT_EQ(log.lines(), (Lines{"bye"}));
}

} // namespace
} // namespace quorvex::hub
