#pragma once
// The account a process runs under, read from its primary token with query rights only: the
// peer check asks it of a client's process, the installer of the --owner-pid process.

#include "common/error.hpp"
#include "platform/win32/unique_handle.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace quorvex::win32 {

[[nodiscard]] Result<UniqueKernelHandle> primary_token_of(std::uint32_t pid);
// A variable-length token information class, in a buffer aligned for the record it holds.
[[nodiscard]] Result<std::vector<std::uint64_t>> token_information(HANDLE token, TOKEN_INFORMATION_CLASS kind);
// The token's user SID in its S-1-... form.
[[nodiscard]] Result<std::string> account_sid_of_token(HANDLE token);
// The user SID of process `pid`, or the operating-system error of the first call that failed.
[[nodiscard]] Result<std::string> account_sid_of_process(std::uint32_t pid);

} // namespace quorvex::win32
