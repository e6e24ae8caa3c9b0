#include "service/hub/sha256_digest.hpp"

#include <gcrypt.h>

#include <utility>

namespace quorvex::hub {
namespace {

// gcry_check_version must run once before any other libgcrypt call; hashing needs no secure memory.
bool libgcrypt_ready() {
    static const bool ready = [] {
        if (gcry_check_version(GCRYPT_VERSION) == nullptr) return false;
        gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
        gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
        return true;
    }();
    return ready;
}

gcry_md_hd_t md(void* handle) { return static_cast<gcry_md_hd_t>(handle); }

} // namespace

Result<Sha256> Sha256::create() {
    if (!libgcrypt_ready())
        return fail(Error::message("libgcrypt is older than " GCRYPT_VERSION));
    gcry_md_hd_t handle = nullptr;
    if (const gcry_error_t error = gcry_md_open(&handle, GCRY_MD_SHA256, 0); error != 0)
        return fail(Error::message(std::string("open SHA-256: ") + gcry_strerror(error)));
    return Sha256(handle);
}

Sha256::Sha256(Sha256&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}

Sha256::~Sha256() {
    if (handle_ != nullptr) gcry_md_close(md(handle_));
}

void Sha256::update(std::string_view bytes) { gcry_md_write(md(handle_), bytes.data(), bytes.size()); }

std::string Sha256::hex_digest() {
    static constexpr char DIGITS[] = "0123456789abcdef";
    const unsigned char* digest = gcry_md_read(md(handle_), GCRY_MD_SHA256);
    std::string hex;
    hex.reserve(64);
    for (int i = 0; i < 32; ++i) {
        hex += DIGITS[digest[i] >> 4];
        hex += DIGITS[digest[i] & 0x0F];
    }
    return hex;
}

} // namespace quorvex::hub
