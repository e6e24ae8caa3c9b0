#pragma once
// Incremental SHA-256 over libgcrypt, written out as 64 lowercase hexadecimal digits.

#include "common/error.hpp"

#include <string>
#include <string_view>

namespace quorvex::hub {

class Sha256 {
public:
    // Initialises libgcrypt on first use; fails if the library is older than its headers.
    [[nodiscard]] static Result<Sha256> create();

    Sha256(Sha256&& other) noexcept;
    Sha256& operator=(Sha256&&) = delete;
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;
    ~Sha256();

    void update(std::string_view bytes);
    // The digest of everything fed so far, lowercase hex, most significant digit first.
    [[nodiscard]] std::string hex_digest();

private:
    explicit Sha256(void* handle) : handle_(handle) {}

    void* handle_; // gcry_md_hd_t, kept opaque so callers need no libgcrypt headers
};

} // namespace quorvex::hub
