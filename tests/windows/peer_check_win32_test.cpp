// The peer check against Wine's real TCP table and tokens. Every Wine process runs as
// S-1-5-21-0-0-0-1000, and reads back as high integrity, no AppContainer, not restricted: Wine
// can show the admitting side of the token check only.

#include "platform/win32/system_tcp_table.hpp"
#include "platform/win32/unique_handle.hpp"
#include "service/peer/helper_port.hpp"
#include "service/peer/peer_check.hpp"

#include <boost/asio/io_context.hpp>

#include <winsock2.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

namespace quorvex::peer {
namespace {

using win32::UniqueSocket;

constexpr std::string_view WINE_USER = "S-1-5-21-0-0-0-1000";

class Winsock : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        WSADATA data;
        ASSERT_EQ(::WSAStartup(MAKEWORD(2, 2), &data), 0);
    }
    static void TearDownTestSuite() { ::WSACleanup(); }
};

Ipv4Endpoint endpoint_of(const sockaddr_in& address) { return {address.sin_addr.s_addr, ntohs(address.sin_port)}; }

// A loopback connection inside this process; the client sends at once, since Wine names the
// owning process of a client socket only after the client first uses it.
struct LoopbackConnection {
    UniqueSocket listener, client, accepted;
    ConnectionEndpoints endpoints;
};

void connect_loopback(LoopbackConnection& c) {
    c.listener = UniqueSocket(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    ASSERT_TRUE(c.listener);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(c.listener.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(c.listener.get(), 1), 0);
    int length = sizeof address;
    ASSERT_EQ(::getsockname(c.listener.get(), reinterpret_cast<sockaddr*>(&address), &length), 0);

    c.client = UniqueSocket(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    ASSERT_TRUE(c.client);
    ASSERT_EQ(::connect(c.client.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::send(c.client.get(), "x", 1, 0), 1);
    c.accepted = UniqueSocket(::accept(c.listener.get(), nullptr, nullptr));
    ASSERT_TRUE(c.accepted);

    sockaddr_in peer{}, local{};
    length = sizeof peer;
    ASSERT_EQ(::getpeername(c.accepted.get(), reinterpret_cast<sockaddr*>(&peer), &length), 0);
    length = sizeof local;
    ASSERT_EQ(::getsockname(c.accepted.get(), reinterpret_cast<sockaddr*>(&local), &length), 0);
    c.endpoints = {endpoint_of(peer), endpoint_of(local)};
}

TEST(PeerProcessOf, ReadsTheAccountAndStandingOfThisProcess) {
    const auto process = peer_process_of(::GetCurrentProcessId());
    ASSERT_TRUE(process) << process.error().text();
    EXPECT_EQ(process->account_sid, WINE_USER);
    ASSERT_TRUE(process->standing) << process->standing.error().text();
    EXPECT_EQ(process->standing->integrity_rid, std::uint32_t{SECURITY_MANDATORY_HIGH_RID});
    EXPECT_FALSE(process->standing->app_container);
    EXPECT_FALSE(process->standing->restricted);
    EXPECT_EQ(verdict_for(*process, WINE_USER), PeerVerdict::admitted);
}

TEST(PeerProcessOf, MissingProcessIsTheOsError) {
    const auto process = peer_process_of(0xFFFFFFF0u);
    ASSERT_FALSE(process);
    EXPECT_TRUE(process.error().os_code()) << process.error().text();
}

TEST_F(Winsock, TcpTableNamesThisProcessAsTheClient) {
    LoopbackConnection connection;
    ASSERT_NO_FATAL_FAILURE(connect_loopback(connection));
    SystemTcpTable table;
    TcpTableReader reader;
    const auto pid = owning_process_of_connection(reader, table, connection.endpoints);
    ASSERT_TRUE(pid) << pid.error().text();
    EXPECT_EQ(*pid, ::GetCurrentProcessId());
    // Again with the buffer the first read left: the first call does.
    const auto again = owning_process_of_connection(reader, table, connection.endpoints);
    ASSERT_TRUE(again) << again.error().text();
    EXPECT_EQ(*again, ::GetCurrentProcessId());
}

TEST_F(Winsock, PeerCheckAdmitsOnlyTheAccountOfTheClient) {
    LoopbackConnection connection;
    ASSERT_NO_FATAL_FAILURE(connect_loopback(connection));
    EXPECT_EQ(verdict_of_connection(connection.endpoints, WINE_USER), PeerVerdict::admitted);
    EXPECT_EQ(verdict_of_connection(connection.endpoints, "s-1-5-21-0-0-0-1000"), PeerVerdict::admitted);
    EXPECT_EQ(verdict_of_connection(connection.endpoints, "S-1-5-18"), PeerVerdict::foreign_account);
    EXPECT_EQ(verdict_of_connection(connection.endpoints, "S-1-5-21-0-0-0-100"), PeerVerdict::foreign_account);

    // No row has this client port once the connection is gone.
    ConnectionEndpoints closed = connection.endpoints;
    connection = {};
    EXPECT_EQ(verdict_of_connection(closed, WINE_USER), PeerVerdict::foreign_account);
}

// The helper's own listener: no child inherits it, and no other socket may bind its address.
TEST_F(Winsock, TheHelpersListenerIsExclusiveAndNotInherited) {
    boost::asio::io_context io;
    auto listener = open_loopback_listener(io.get_executor());
    ASSERT_TRUE(listener) << listener.error().text();
    const SOCKET socket = listener->native_handle();
    BOOL exclusive = FALSE;
    int length = sizeof exclusive;
    ASSERT_EQ(::getsockopt(socket, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<char*>(&exclusive), &length), 0);
    EXPECT_TRUE(exclusive);
    DWORD flags = 0;
    // NOLINTNEXTLINE(performance-no-int-to-ptr): a SOCKET is a kernel handle that Winsock types as an integer
    ASSERT_TRUE(::GetHandleInformation(reinterpret_cast<HANDLE>(socket), &flags));
    EXPECT_EQ(flags & HANDLE_FLAG_INHERIT, 0U);
}

} // namespace
} // namespace quorvex::peer
