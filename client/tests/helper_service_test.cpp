#include "client/helper_service.hpp"

#include "client/listener_check.hpp"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace quorvex::client {
namespace {

constexpr std::uint32_t SERVICE_PID = 1288;
constexpr std::uint64_t STARTED = 133'000'000'000'000'000;
constexpr std::uint16_t PORT = 50123;
const std::string LOCAL_SYSTEM = "S-1-5-18";
const std::string STANDARD_USER = "S-1-5-21-1-2-3-1001";

// The system as a standard, non-elevated user sees it on Windows. Its processes belong to
// accounts; the service's to LocalSystem, whose process grants such a user no right at all
// (its DACL comes from the SYSTEM token's default DACL). The client's reads are those every
// account may make: the service's status, the process list, the Runtime key; none of them
// opens a process or a token.
class StandardUserView final : public HelperSystem {
public:
    struct Process {
        std::string account;
        std::uint64_t created = 0;
        std::uint32_t threads = 1;
    };

    ClientResult<ServiceState> service_state() override { return service; }
    ClientResult<std::optional<ListedProcess>> listed_process(std::uint32_t pid) override {
        ++process_list_reads;
        const auto found = processes.find(pid);
        if (found == processes.end()) {
            return std::optional<ListedProcess>{};
        }
        return ListedProcess{pid, found->second.created, found->second.threads};
    }
    ClientResult<PublishedPort> published_port() override { return port; }

    ServiceState service{SERVICE_STATE_RUNNING, SERVICE_PID};
    std::map<std::uint32_t, Process> processes{{SERVICE_PID, {LOCAL_SYSTEM, STARTED}},
                                               {4100, {STANDARD_USER, STARTED + 5}}};
    PublishedPort port{PORT, STARTED + 20'000'000};
    int process_list_reads = 0;
};

TEST(HelperServiceChecks, AStandardUserVerifiesTheLocalSystemServiceFromTheProcessList) {
    StandardUserView system;
    const auto endpoint = locate_helper_service(system);
    ASSERT_TRUE(endpoint) << endpoint.error().error.text();
    EXPECT_EQ(endpoint->process.pid, SERVICE_PID);
    EXPECT_EQ(endpoint->process.created, STARTED);
    EXPECT_EQ(endpoint->published.port, PORT);
    EXPECT_TRUE(check_same_process(system, endpoint->process));
}

TEST(HelperServiceChecks, AServiceWhoseProcessEndedIsNamedAsGone) {
    StandardUserView system;
    system.processes.erase(SERVICE_PID);
    const auto missing = locate_helper_service(system);
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().kind, ClientErrorKind::ServiceProcessGone);
    EXPECT_EQ(missing.error().error.links(),
              (std::vector<std::string>{"the helper service's process 1288 is not running, though the service "
                                        "manager reports the service running",
                                        "no process has that ID"}));

    // Ended, but the service manager's handle keeps its entry: no thread is left.
    system.processes[SERVICE_PID] = {LOCAL_SYSTEM, STARTED, 0};
    const auto ended = locate_helper_service(system);
    ASSERT_FALSE(ended);
    EXPECT_EQ(ended.error().kind, ClientErrorKind::ServiceProcessGone);
    EXPECT_EQ(ended.error().error.links().back(), "it has ended");
}

TEST(HelperServiceChecks, TheServiceMustRunAndItsPortBeFresh) {
    StandardUserView system;
    system.service = {1, 0};
    const auto stopped = locate_helper_service(system);
    ASSERT_FALSE(stopped);
    EXPECT_EQ(stopped.error().kind, ClientErrorKind::ServiceNotRunning);
    EXPECT_EQ(stopped.error().error.text(), "the helper service is stopped, not running");
    EXPECT_EQ(system.process_list_reads, 0);

    // The process ID was taken by a process started after the port was published.
    system.service = {SERVICE_STATE_RUNNING, SERVICE_PID};
    system.processes[SERVICE_PID].created = system.port.written + 1;
    const auto stale = locate_helper_service(system);
    ASSERT_FALSE(stale);
    EXPECT_EQ(stale.error().kind, ClientErrorKind::StalePort);
}

TEST(HelperServiceChecks, AProcessIdTakenOverDuringTheChecksIsNoLongerTheService) {
    // The helper dies after the first read, and a process of another account takes its ID (and
    // then its port): the ID alone would still match every table row.
    StandardUserView system;
    const auto endpoint = locate_helper_service(system);
    ASSERT_TRUE(endpoint);
    system.processes[SERVICE_PID] = {STANDARD_USER, STARTED + 40'000'000};
    const auto taken = check_same_process(system, endpoint->process);
    ASSERT_FALSE(taken);
    EXPECT_EQ(taken.error().kind, ClientErrorKind::ServiceProcessGone);
    EXPECT_EQ(taken.error().error.links(),
              (std::vector<std::string>{"the helper service's process 1288 ended while its listener was checked",
                                        "process ID 1288 now names a process started later"}));

    system.processes.erase(SERVICE_PID);
    EXPECT_EQ(check_same_process(system, endpoint->process).error().kind, ClientErrorKind::ServiceProcessGone);
}

TEST(HelperServiceChecks, EveryFailedReadIsPassedOnWithItsOwnKind) {
    class DeniedReads final : public HelperSystem {
    public:
        ClientResult<ServiceState> service_state() override { return ServiceState{SERVICE_STATE_RUNNING, 7}; }
        ClientResult<std::optional<ListedProcess>> listed_process(std::uint32_t) override {
            return fail(ClientErrorKind::SystemError,
                        Error::os(5, "Access is denied.").context("list the system's processes"));
        }
        ClientResult<PublishedPort> published_port() override { return PublishedPort{PORT, 1}; }
    } system;
    const auto denied = locate_helper_service(system);
    ASSERT_FALSE(denied);
    EXPECT_EQ(denied.error().kind, ClientErrorKind::SystemError);
    EXPECT_EQ(denied.error().error.text(), "list the system's processes");
    EXPECT_EQ(denied.error().error.os_code(), 5);
}

} // namespace
} // namespace quorvex::client
