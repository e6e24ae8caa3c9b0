#include "platform/win32/process_account.hpp"

#include "platform/win32/system_error.hpp"
#include "platform/win32/wide.hpp"

#include <sddl.h>

namespace quorvex::win32 {

Result<UniqueKernelHandle> primary_token_of(std::uint32_t pid) {
    UniqueKernelHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (!process) {
        return fail(last_os_error());
    }
    UniqueKernelHandle token;
    if (!::OpenProcessToken(process.get(), TOKEN_QUERY, token.put())) {
        return fail(last_os_error());
    }
    return token;
}

Result<std::vector<std::uint64_t>> token_information(HANDLE token, TOKEN_INFORMATION_CLASS kind) {
    DWORD length = 0;
    (void)::GetTokenInformation(token, kind, nullptr, 0, &length);
    if (length == 0) {
        return fail(last_os_error());
    }
    std::vector<std::uint64_t> buffer((std::size_t{length} + 7) / 8, 0);
    if (!::GetTokenInformation(token, kind, buffer.data(), static_cast<DWORD>(buffer.size() * sizeof(std::uint64_t)),
                               &length)) {
        return fail(last_os_error());
    }
    return buffer;
}

Result<std::string> account_sid_of_token(HANDLE token) {
    const auto buffer = token_information(token, TokenUser);
    if (!buffer) {
        return fail(buffer.error());
    }
    const auto* user = reinterpret_cast<const TOKEN_USER*>(buffer->data());
    wchar_t* text = nullptr;
    if (!::ConvertSidToStringSidW(user->User.Sid, &text)) {
        return fail(last_os_error());
    }
    const UniqueLocalMemory text_owner(text);
    return to_utf8_lossy(text);
}

Result<std::string> account_sid_of_process(std::uint32_t pid) {
    const auto token = primary_token_of(pid);
    if (!token) {
        return fail(token.error());
    }
    return account_sid_of_token(token->get());
}

} // namespace quorvex::win32
