#pragma once
// The Core platform on Win32: GetModuleFileNameW, CreateFileW/ReadFile for the digest,
// CreateProcessW with a stderr pipe, a kill-on-close Job object, TerminateProcess and a
// non-waiting WaitForSingleObject. The service's Core supervisor runs on it.

#include "service/hub/core_platform.hpp"

#include <string>

namespace quorvex::hub {

class Win32CorePlatform final : public CorePlatform {
public:
    // `expected_sha256` is EXPECTED_CORE_SHA256 in the product; tests name the stub's digest.
    explicit Win32CorePlatform(std::string expected_sha256);

    [[nodiscard]] Result<std::string> own_path() override;
    [[nodiscard]] Result<std::string> resolve_core_path() override;
    [[nodiscard]] Result<void> open_core_file(const std::string& core_path) override;
    [[nodiscard]] Result<std::unique_ptr<VerifiedCoreFile>> verify_core_file(const std::string& core_path) override;

private:
    std::string expected_sha256_;
};

} // namespace quorvex::hub
