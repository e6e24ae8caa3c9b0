#include "service/peer/http/socket_write.hpp"

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/use_future.hpp>
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <string>
#include <thread>

namespace quorvex::http {
namespace {

using boost::asio::ip::tcp;
using namespace std::chrono_literals;

// A connected pair on loopback. The writer's send buffer is shrunk, so that a write of some MiB,
// far more than that buffer and the reader's window hold, cannot be taken at once and write_all
// has to finish it asynchronously while the reader drains it.
class SocketWriteTest : public ::testing::Test {
protected:
    void SetUp() override {
        tcp::acceptor acceptor(io_, tcp::endpoint(boost::asio::ip::address_v4::loopback(), 0));
        reader_.connect(acceptor.local_endpoint());
        acceptor.accept(writer_);
        writer_.set_option(tcp::socket::send_buffer_size(65536));
        boost::system::error_code ec;
        prepare_for_direct_writes(writer_, ec);
        ASSERT_FALSE(ec) << ec.message();
    }

    void TearDown() override {
        work_.reset();
        if (runner_.joinable()) {
            runner_.join();
        }
    }

    // Starts write_all on the io_context's own thread; the future holds its error code.
    std::future<boost::system::error_code> start_write(std::array<boost::asio::const_buffer, 3>& buffers) {
        auto done = boost::asio::co_spawn(
            io_,
            [this, &buffers]() -> boost::asio::awaitable<boost::system::error_code> {
                boost::system::error_code ec;
                co_await write_all(writer_, buffers, ec);
                co_return ec;
            },
            boost::asio::use_future);
        runner_ = std::thread([this] { io_.run(); });
        return done;
    }

    boost::asio::io_context io_;
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> work_ = boost::asio::make_work_guard(io_);
    tcp::socket reader_{io_};
    tcp::socket writer_{io_};
    std::thread runner_;
};

TEST_F(SocketWriteTest, WhatTheSocketDoesNotTakeAtOnceFollowsInOrder) {
    // Three views, one empty, each of its own bytes: a view advanced wrongly shows as a mismatch.
    const std::string first(std::size_t{3} << 20, 'a');
    std::string second(std::size_t{1} << 20, '\0');
    for (std::size_t i = 0; i < second.size(); ++i) {
        second[i] = static_cast<char>(i * 7 + 1);
    }
    std::array<boost::asio::const_buffer, 3> buffers{boost::asio::buffer(first), boost::asio::const_buffer(),
                                                     boost::asio::buffer(second)};
    auto done = start_write(buffers);

    std::string received(first.size() + second.size(), '\0');
    boost::system::error_code read_ec;
    boost::asio::read(reader_, boost::asio::buffer(received), read_ec);
    ASSERT_FALSE(read_ec) << read_ec.message();
    ASSERT_EQ(done.wait_for(10s), std::future_status::ready);
    EXPECT_FALSE(done.get());
    EXPECT_TRUE(received == first + second);
}

TEST_F(SocketWriteTest, APeerThatLeftFailsTheWriteInsteadOfHangingIt) {
    const std::string bytes(std::size_t{4} << 20, 'x');
    std::array<boost::asio::const_buffer, 3> buffers{boost::asio::buffer(bytes), boost::asio::const_buffer(),
                                                     boost::asio::const_buffer()};
    // Closed with nothing read: the writer's bytes meet a reset.
    reader_.set_option(tcp::socket::linger(true, 0));
    reader_.close();
    auto done = start_write(buffers);
    ASSERT_EQ(done.wait_for(10s), std::future_status::ready);
    EXPECT_TRUE(done.get());
}

} // namespace
} // namespace quorvex::http
