#include "service/hub/sha256_digest.hpp"

#include "common/lowercase_hex.hpp"
#include "platform/win32/system_error.hpp"

#include <windows.h>

#include <bcrypt.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <utility>

namespace quorvex::hub {
namespace {

Error cng_error(const std::string& step, NTSTATUS status) { return win32::nt_status_error(status).folded_into(step); }

// One provider for the process, opened once and never closed: hash objects on it are
// independent, and opening a provider is the expensive part.
struct Provider {
    BCRYPT_ALG_HANDLE handle = nullptr;
    NTSTATUS status = 0;
};

const Provider& sha256_provider() {
    static const Provider provider = [] {
        Provider opened;
        opened.status = ::BCryptOpenAlgorithmProvider(&opened.handle, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
        return opened;
    }();
    return provider;
}

} // namespace

Result<Sha256> Sha256::create() {
    const Provider& provider = sha256_provider();
    if (!BCRYPT_SUCCESS(provider.status)) {
        return fail(cng_error("open SHA-256", provider.status));
    }
    win32::UniqueCngHash hash;
    // No object buffer: CNG keeps the hash state itself.
    if (const NTSTATUS status = ::BCryptCreateHash(provider.handle, hash.put(), nullptr, 0, nullptr, 0, 0);
        !BCRYPT_SUCCESS(status)) {
        return fail(cng_error("open SHA-256", status));
    }
    return Sha256(std::move(hash));
}

Result<void> Sha256::update(std::string_view bytes) {
    // BCryptHashData takes a ULONG count; the product feeds 4096 bytes at a time.
    while (!bytes.empty()) {
        const auto piece = static_cast<ULONG>(std::min<std::size_t>(bytes.size(), std::numeric_limits<ULONG>::max()));
        if (const NTSTATUS status =
                ::BCryptHashData(hash_.get(), reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data())), piece, 0);
            !BCRYPT_SUCCESS(status)) {
            return fail(cng_error("hash SHA-256", status));
        }
        bytes.remove_prefix(piece);
    }
    return {};
}

Result<std::string> Sha256::hex_digest() {
    std::array<std::uint8_t, 32> digest{};
    if (const NTSTATUS status = ::BCryptFinishHash(hash_.get(), digest.data(), static_cast<ULONG>(digest.size()), 0);
        !BCRYPT_SUCCESS(status)) {
        return fail(cng_error("finish SHA-256", status));
    }
    return lowercase_hex(digest);
}

} // namespace quorvex::hub
