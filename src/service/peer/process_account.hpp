#pragma once
// The account a process runs under, read from its primary token. Windows only.

#include "common/error.hpp"

#include <cstdint>
#include <string>

namespace quorvex::peer {

// The user SID of process `pid` in its S-1-... form, or the operating-system error of the first
// call that failed. Used by the peer check and by the installer for --owner-pid.
[[nodiscard]] Result<std::string> account_sid_of_process(std::uint32_t pid);

} // namespace quorvex::peer
