#pragma once
// The Service Control Manager, the account lookup and the own path, for real. Windows only.

#include "service/windows/service_manager.hpp"

namespace quorvex::service {

class SystemInstallationPlatform final : public InstallationPlatform {
public:
    Result<std::unique_ptr<ServiceManager>> open_manager(std::uint32_t access) override;
    Result<std::string> account_sid_of_process(std::uint32_t pid) override;
    Result<std::string> own_executable_path() override;
};

} // namespace quorvex::service
