#pragma once
// One owner per operating-system handle. A traits class names the invalid value and the close
// call; the alias per handle kind is all the rest of the code sees. Move-only.

#include <windows.h>
#include <winsock2.h>
#include <bcrypt.h>

#include <utility>

namespace quorvex::win32 {

template <class Traits>
class UniqueHandle {
public:
    using value_type = typename Traits::value_type;

    UniqueHandle() noexcept = default;
    explicit UniqueHandle(value_type value) noexcept : value_(value) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : value_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    ~UniqueHandle() { reset(); }

    [[nodiscard]] value_type get() const noexcept { return value_; }
    [[nodiscard]] explicit operator bool() const noexcept { return is_valid(value_); }
    [[nodiscard]] value_type release() noexcept { return std::exchange(value_, Traits::invalid()); }

    // Closes the held handle; keeps the caller's last error, which a failed call just set.
    void reset(value_type value = Traits::invalid()) noexcept {
        const value_type old = std::exchange(value_, value);
        if (is_valid(old)) {
            const DWORD saved = ::GetLastError();
            Traits::close(old);
            ::SetLastError(saved);
        }
    }

    // For out-parameters: closes what is held and hands out the slot.
    [[nodiscard]] value_type* put() noexcept {
        reset();
        return &value_;
    }

private:
    // A kind with more than one invalid value says so with its own is_valid.
    static bool is_valid(value_type value) noexcept {
        if constexpr (requires { Traits::is_valid(value); }) {
            return Traits::is_valid(value);
        } else {
            return value != Traits::invalid();
        }
    }

    value_type value_ = Traits::invalid();
};

// Process, thread, job, token, pipe handles: null is the invalid value, since -1 is the
// current-process pseudo-handle.
struct KernelHandleTraits {
    using value_type = HANDLE;
    static HANDLE invalid() noexcept { return nullptr; }
    static void close(HANDLE h) noexcept { ::CloseHandle(h); }
};
// CreateFileW reports failure with INVALID_HANDLE_VALUE, but a file handle is never null either:
// neither may be closed.
struct FileHandleTraits {
    using value_type = HANDLE;
    static HANDLE invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static bool is_valid(HANDLE h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void close(HANDLE h) noexcept { ::CloseHandle(h); }
};
struct ServiceHandleTraits {
    using value_type = SC_HANDLE;
    static SC_HANDLE invalid() noexcept { return nullptr; }
    static void close(SC_HANDLE h) noexcept { ::CloseServiceHandle(h); }
};
struct RegistryKeyTraits {
    using value_type = HKEY;
    static HKEY invalid() noexcept { return nullptr; }
    static void close(HKEY h) noexcept { ::RegCloseKey(h); }
};
struct SocketTraits {
    using value_type = SOCKET;
    static SOCKET invalid() noexcept { return INVALID_SOCKET; }
    static void close(SOCKET s) noexcept { ::closesocket(s); }
};
struct LocalMemoryTraits {
    using value_type = HLOCAL;
    static HLOCAL invalid() noexcept { return nullptr; }
    static void close(HLOCAL p) noexcept { ::LocalFree(p); }
};

// A CNG hash object; its provider stays open for the whole process.
struct CngHashTraits {
    using value_type = BCRYPT_HASH_HANDLE;
    static BCRYPT_HASH_HANDLE invalid() noexcept { return nullptr; }
    static void close(BCRYPT_HASH_HANDLE h) noexcept { ::BCryptDestroyHash(h); }
};

using UniqueKernelHandle = UniqueHandle<KernelHandleTraits>;
using UniqueFileHandle = UniqueHandle<FileHandleTraits>;
using UniqueServiceHandle = UniqueHandle<ServiceHandleTraits>;
using UniqueRegistryKey = UniqueHandle<RegistryKeyTraits>;
using UniqueSocket = UniqueHandle<SocketTraits>;
using UniqueLocalMemory = UniqueHandle<LocalMemoryTraits>;
using UniqueCngHash = UniqueHandle<CngHashTraits>;

} // namespace quorvex::win32
