#include "client/session_tokens.hpp"

#include "common/lowercase_hex.hpp"
#include "platform/win32/system_error.hpp"

#include <windows.h>
#include <bcrypt.h>

#include <array>

namespace quorvex::client {
namespace {

using GenRandom = NTSTATUS(WINAPI*)(BCRYPT_ALG_HANDLE, PUCHAR, ULONG, ULONG);

// bcrypt.dll is no KnownDLL: loaded from the system directory only, never from the folder of
// the application that hosts this library. Resolved once; the module stays loaded.
Result<GenRandom> system_gen_random() {
    static const auto resolved = []() -> Result<GenRandom> {
        HMODULE bcrypt = ::LoadLibraryExW(L"bcrypt.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (bcrypt == nullptr) {
            return fail(win32::last_os_error().context("load bcrypt.dll from the system directory"));
        }
        const FARPROC proc = ::GetProcAddress(bcrypt, "BCryptGenRandom");
        if (proc == nullptr) {
            return fail(win32::last_os_error().context("find BCryptGenRandom"));
        }
        return reinterpret_cast<GenRandom>(reinterpret_cast<void*>(proc));
    }();
    return resolved;
}

ClientResult<std::string> random_hex() {
    const auto gen_random = system_gen_random();
    if (!gen_random) {
        return fail(ClientErrorKind::SystemError, gen_random.error());
    }
    std::array<std::uint8_t, TOKEN_BYTES> bytes{};
    const NTSTATUS status =
        (*gen_random)(nullptr, bytes.data(), static_cast<ULONG>(bytes.size()), BCRYPT_USE_SYSTEM_PREFERRED_RNG);
    if (!BCRYPT_SUCCESS(status)) {
        return fail(ClientErrorKind::SystemError,
                    Error::message("NTSTATUS 0x" + lowercase_hex(static_cast<std::uint32_t>(status)))
                        .context("draw random bytes (BCryptGenRandom)"));
    }
    return lowercase_hex(bytes);
}

} // namespace

ClientResult<SessionTokens> draw_session_tokens() {
    auto session_id = random_hex();
    if (!session_id) {
        return std::unexpected(std::move(session_id.error()));
    }
    auto suffix = random_hex();
    if (!suffix) {
        return std::unexpected(std::move(suffix.error()));
    }
    return SessionTokens{std::move(*session_id), std::string(CORE_PIPE_PREFIX) + *suffix};
}

} // namespace quorvex::client
