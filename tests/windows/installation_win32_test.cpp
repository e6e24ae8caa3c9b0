// The service-manager adapter against Wine's real Service Control Manager.

#include "service/windows/service_installation.hpp"

#include <windows.h>

#include <gtest/gtest.h>

namespace quorvex::service {
namespace {

constexpr std::uint32_t DELETE_ACCESS = 0x10000;

TEST(SystemInstallationPlatform, ReportsAServiceThatDoesNotExist) {
    SystemInstallationPlatform platform;
    auto manager = platform.open_manager(MANAGER_CONNECT_ACCESS);
    ASSERT_TRUE(manager) << manager.error().text();
    const auto service = (*manager)->open_service("QuorvexNeverInstalledService", SERVICE_REMOVAL_ACCESS);
    ASSERT_FALSE(service);
    EXPECT_EQ(service.error().os_code(), SCM_ERROR_SERVICE_DOES_NOT_EXIST);
    EXPECT_TRUE(service.error().text().ends_with(" (os error 1060)")) << service.error().text();
}

TEST(SystemInstallationPlatform, KnowsItsOwnPathAndAccount) {
    SystemInstallationPlatform platform;
    const auto path = platform.own_executable_path();
    ASSERT_TRUE(path) << path.error().text();
    EXPECT_TRUE(path->ends_with("\\installation_win32_tests.exe")) << *path;
    const auto sid = platform.account_sid_of_process(::GetCurrentProcessId());
    ASSERT_TRUE(sid) << sid.error().text();
    EXPECT_EQ(*sid, "S-1-5-21-0-0-0-1000");
}

// Creates, configures and deletes a throwaway service (never started), so the registration
// record and the recovery settings are accepted by a real service manager.
TEST(SystemInstallationPlatform, RegistersConfiguresAndDeletesAService) {
    SystemInstallationPlatform platform;
    auto manager = platform.open_manager(MANAGER_INSTALL_ACCESS);
    ASSERT_TRUE(manager) << manager.error().text();

    ServiceRegistration registration = helper_service_registration(
        quote_service_argument("C:\\Program Files\\Quorvex Probe\\probe.exe") + " --owner-sid S-1-5-18");
    registration.name = registration.display_name = "QuorvexAdapterProbeService";
    registration.access |= DELETE_ACCESS;
    registration.start_type = 3; // on demand: never started here
    {
        auto service = (*manager)->create_service(registration);
        ASSERT_TRUE(service) << service.error().text();
        const auto configured = (*service)->set_failure_actions(helper_service_failure_actions());
        EXPECT_TRUE(configured) << configured.error().text();
        const auto state = (*service)->query_state();
        ASSERT_TRUE(state) << state.error().text();
        EXPECT_EQ(*state, SERVICE_STATE_STOPPED);
        const auto deleted = (*service)->mark_for_deletion();
        EXPECT_TRUE(deleted) << deleted.error().text();
    }
    const auto gone = (*manager)->open_service("QuorvexAdapterProbeService", SERVICE_PROBE_ACCESS);
    ASSERT_FALSE(gone);
    EXPECT_EQ(gone.error().os_code(), SCM_ERROR_SERVICE_DOES_NOT_EXIST);
}

// The removal and install loops take these refusals as states rather than failures
// (service_installation.cpp): the real service manager must give exactly these codes. A throwaway
// service whose program does not exist; nothing of it is left, not even its registry key.
TEST(SystemInstallationPlatform, RefusalsTheLoopsRelyOnAreTheSystemsCodes) {
    constexpr std::string_view NAME = "QuorvexAdapterRefusalsService";
    SystemInstallationPlatform platform;
    auto manager = platform.open_manager(MANAGER_INSTALL_ACCESS);
    ASSERT_TRUE(manager) << manager.error().text();
    ServiceRegistration registration =
        helper_service_registration("C:\\Quorvex\\missing\\probe.exe --owner-sid S-1-5-18");
    registration.name = registration.display_name = NAME;
    registration.access |= DELETE_ACCESS | SERVICE_REMOVAL_ACCESS;
    registration.start_type = 3; // on demand
    {
        auto service = (*manager)->create_service(registration);
        ASSERT_TRUE(service) << service.error().text();
        auto again = (*manager)->create_service(registration);
        ASSERT_FALSE(again);
        EXPECT_EQ(again.error().os_code(), static_cast<std::int32_t>(ERROR_SERVICE_EXISTS));

        const auto stop = (*service)->send_stop();
        ASSERT_FALSE(stop);
        EXPECT_EQ(stop.error().os_code(), SCM_ERROR_SERVICE_NOT_ACTIVE);
        const auto started = (*service)->start(); // its program does not exist
        ASSERT_FALSE(started);
        EXPECT_TRUE(started.error().os_code().has_value()) << started.error().text();
        const auto state = (*service)->query_state();
        ASSERT_TRUE(state) << state.error().text();
        EXPECT_EQ(*state, SERVICE_STATE_STOPPED);

        auto second = (*manager)->open_service(NAME, SERVICE_REMOVAL_ACCESS);
        ASSERT_TRUE(second) << second.error().text();
        EXPECT_TRUE((*service)->mark_for_deletion());
        const auto twice = (*second)->mark_for_deletion();
        ASSERT_FALSE(twice);
        EXPECT_EQ(twice.error().os_code(), SCM_ERROR_SERVICE_MARKED_FOR_DELETE);
    }
    const auto gone = (*manager)->open_service(NAME, SERVICE_PROBE_ACCESS);
    ASSERT_FALSE(gone);
    EXPECT_EQ(gone.error().os_code(), SCM_ERROR_SERVICE_DOES_NOT_EXIST);
    HKEY key = nullptr;
    EXPECT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services\\QuorvexAdapterRefusalsService",
                              0, KEY_READ, &key),
              ERROR_FILE_NOT_FOUND);
}

TEST(UninstallHelperService, SucceedsWhenNothingIsInstalled) {
    SystemInstallationPlatform platform;
    auto manager = platform.open_manager(MANAGER_CONNECT_ACCESS);
    ASSERT_TRUE(manager) << manager.error().text();
    // Never disturb a helper that another test installed in this prefix.
    if (const auto probe = (*manager)->open_service(HELPER_SERVICE_NAME, SERVICE_PROBE_ACCESS);
        probe || probe.error().os_code() != SCM_ERROR_SERVICE_DOES_NOT_EXIST) {
        GTEST_SKIP() << "the helper service is installed in this prefix";
    }
    SteadyClock clock;
    const auto removed = remove_helper_service(**manager, clock);
    EXPECT_TRUE(removed) << removed.error().text();
}

} // namespace
} // namespace quorvex::service
