#pragma once
// Incremental SHA-256 through the system's CNG provider (bcrypt.dll), written out as 64
// lowercase hexadecimal digits. Windows only: nothing portable needs a digest.

#include "common/error.hpp"

#include <string>
#include <string_view>

namespace quorvex::hub {

class Sha256 {
public:
    // Opens the SHA-256 provider on first use and a new hash object on it.
    [[nodiscard]] static Result<Sha256> create();

    Sha256(Sha256&& other) noexcept;
    Sha256& operator=(Sha256&&) = delete;
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;
    ~Sha256();

    // A step CNG refuses fails with its status and the system's text for it.
    [[nodiscard]] Result<void> update(std::string_view bytes);
    // The digest of everything fed so far, lowercase hex, most significant digit first. Once
    // only: the hash object is finished by it.
    [[nodiscard]] Result<std::string> hex_digest();

private:
    explicit Sha256(void* handle) : handle_(handle) {}

    void* handle_; // BCRYPT_HASH_HANDLE, kept opaque so callers need no CNG headers
};

} // namespace quorvex::hub
