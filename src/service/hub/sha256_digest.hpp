#pragma once
// Incremental SHA-256 through the system's CNG provider (bcrypt.dll), written out as 64
// lowercase hexadecimal digits. Windows only: nothing portable needs a digest.

#include "common/error.hpp"
#include "platform/win32/unique_handle.hpp"

#include <string>
#include <string_view>
#include <utility>

namespace quorvex::hub {

class Sha256 {
public:
    // Opens the SHA-256 provider on first use and a new hash object on it.
    [[nodiscard]] static Result<Sha256> create();

    // A step CNG refuses fails with its status and the system's text for it.
    [[nodiscard]] Result<void> update(std::string_view bytes);
    // The digest of everything fed so far, lowercase hex, most significant digit first. Once
    // only: the hash object is finished by it.
    [[nodiscard]] Result<std::string> hex_digest();

private:
    explicit Sha256(win32::UniqueCngHash hash) : hash_(std::move(hash)) {}

    win32::UniqueCngHash hash_;
};

} // namespace quorvex::hub
