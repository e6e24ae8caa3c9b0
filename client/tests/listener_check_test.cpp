#include "client/listener_check.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace quorvex::client {
namespace {

using peer::Ipv4Endpoint;
using peer::TcpOwnerRow;

constexpr std::uint16_t PORT = 50123;
constexpr std::uint32_t SERVICE_PID = 1200;
constexpr std::uint32_t OTHER_PID = 4444;
constexpr std::uint32_t ESTABLISHED = 5;
const ServiceProcess SERVICE{SERVICE_PID, 133'000'000'000'000'000};
const std::uint32_t LOOPBACK = peer::ipv4_address_from_octets({127, 0, 0, 1});
const std::uint32_t ANY = peer::ipv4_address_from_octets({0, 0, 0, 0});
const Ipv4Endpoint CLIENT_END{LOOPBACK, 61000};

TcpOwnerRow listener(std::uint32_t address, std::uint32_t pid) {
    return {peer::TCP_STATE_LISTEN, {address, PORT}, {ANY, 0}, pid};
}
TcpOwnerRow server_end(Ipv4Endpoint client, std::uint32_t pid) { return {ESTABLISHED, {LOOPBACK, PORT}, client, pid}; }

ClientErrorKind kind_of(const ClientResult<void>& result) { return result.error().kind; }

TEST(ListenerCheck, AcceptsTheServicesListenerAndAnUnattributedOne) {
    EXPECT_TRUE(check_listener(std::vector{listener(LOOPBACK, SERVICE_PID)}, PORT, SERVICE));
    // Wine names no owner for listeners: the other checks decide.
    EXPECT_TRUE(check_listener(std::vector{listener(LOOPBACK, UNATTRIBUTED_PID)}, PORT, SERVICE));
    // Established rows on the port (other clients' connections) play no part.
    EXPECT_TRUE(check_listener(std::vector{server_end({LOOPBACK, 1}, OTHER_PID), listener(LOOPBACK, SERVICE_PID)}, PORT,
                               SERVICE));
}

TEST(ListenerCheck, RefusesAnyListenerOfAnotherProcessOnThatPort) {
    const auto impostor = check_listener(std::vector{listener(LOOPBACK, OTHER_PID)}, PORT, SERVICE);
    ASSERT_FALSE(impostor);
    EXPECT_EQ(impostor.error().kind, ClientErrorKind::ListenerNotHelper);
    EXPECT_EQ(impostor.error().error.text(),
              "the listener on port 50123 belongs to process 4444, not to the helper service (process 1200)");
    // Another process's listener on every address takes 127.0.0.1's connections unless the
    // service holds 127.0.0.1 itself: alone, or beside a loopback row that names nobody, it refuses.
    EXPECT_EQ(kind_of(check_listener(std::vector{listener(ANY, OTHER_PID)}, PORT, SERVICE)),
              ClientErrorKind::ListenerNotHelper);
    EXPECT_EQ(kind_of(check_listener(std::vector{listener(ANY, OTHER_PID), listener(LOOPBACK, UNATTRIBUTED_PID)}, PORT,
                                     SERVICE)),
              ClientErrorKind::ListenerNotHelper);
    // A 127.0.0.1 listener of another process refuses beside the service's wildcard row too.
    EXPECT_EQ(
        kind_of(check_listener(std::vector{listener(ANY, SERVICE_PID), listener(LOOPBACK, OTHER_PID)}, PORT, SERVICE)),
        ClientErrorKind::ListenerNotHelper);
}

TEST(ListenerCheck, ToleratesAForeignWildcardListenerBesideTheServicesLoopbackOne) {
    // Windows lets any account bind 0.0.0.0 on the helper's port; the helper's 127.0.0.1 bind
    // keeps the loopback connections, so such a row must not make every client refuse the
    // helper. The table may list the two in either order.
    EXPECT_TRUE(check_listener(std::vector{listener(LOOPBACK, SERVICE_PID), listener(ANY, OTHER_PID)}, PORT, SERVICE));
    EXPECT_TRUE(check_listener(std::vector{listener(ANY, OTHER_PID), listener(LOOPBACK, SERVICE_PID)}, PORT, SERVICE));
}

TEST(ListenerCheck, NoListenerOnTheLoopbackPortIsNamed) {
    const auto none = check_listener(std::vector<TcpOwnerRow>{}, PORT, SERVICE);
    ASSERT_FALSE(none);
    EXPECT_EQ(none.error().kind, ClientErrorKind::NoListener);
    EXPECT_EQ(none.error().error.text(), "nothing listens on 127.0.0.1:50123");
    // A listener on another address of the port does not take 127.0.0.1's connections.
    const TcpOwnerRow elsewhere{
        peer::TCP_STATE_LISTEN, {peer::ipv4_address_from_octets({10, 0, 0, 5}), PORT}, {ANY, 0}, OTHER_PID};
    EXPECT_EQ(kind_of(check_listener(std::vector{elsewhere}, PORT, SERVICE)), ClientErrorKind::NoListener);
    // Nor does a connection in another state than listening.
    EXPECT_EQ(kind_of(check_listener(std::vector{server_end(CLIENT_END, SERVICE_PID)}, PORT, SERVICE)),
              ClientErrorKind::NoListener);
}

TEST(AcceptedConnectionCheck, TheServerEndOfThisConnectionMustBeTheServices) {
    const std::vector rows{listener(LOOPBACK, SERVICE_PID), server_end({LOOPBACK, 61001}, OTHER_PID),
                           server_end(CLIENT_END, SERVICE_PID)};
    EXPECT_TRUE(check_accepted_connection(rows, PORT, CLIENT_END, SERVICE));
    EXPECT_TRUE(
        check_accepted_connection(std::vector{server_end(CLIENT_END, UNATTRIBUTED_PID)}, PORT, CLIENT_END, SERVICE));

    const auto taken =
        check_accepted_connection(std::vector{server_end(CLIENT_END, OTHER_PID)}, PORT, CLIENT_END, SERVICE);
    ASSERT_FALSE(taken);
    EXPECT_EQ(taken.error().kind, ClientErrorKind::ConnectionNotHelper);
    EXPECT_EQ(taken.error().error.text(),
              "the connection to port 50123 was accepted by process 4444, not by the helper service (process 1200)");
    // Another client's connection is not ours, and no row at all refuses as well.
    EXPECT_EQ(kind_of(check_accepted_connection(std::vector{server_end({LOOPBACK, 61001}, SERVICE_PID)}, PORT,
                                                CLIENT_END, SERVICE)),
              ClientErrorKind::ConnectionNotHelper);
}

TEST(PortFreshness, APortWrittenBeforeTheServiceStartedIsStale) {
    EXPECT_TRUE(check_port_is_fresh({PORT, SERVICE.created + 1}, SERVICE));
    EXPECT_TRUE(check_port_is_fresh({PORT, SERVICE.created}, SERVICE));
    const auto stale = check_port_is_fresh({PORT, SERVICE.created - 1}, SERVICE);
    ASSERT_FALSE(stale);
    EXPECT_EQ(stale.error().kind, ClientErrorKind::StalePort);
    EXPECT_EQ(stale.error().error.text(), "port 50123 was published before the helper service's process 1200 "
                                          "started: it names a listener of an earlier process");
}

} // namespace
} // namespace quorvex::client
