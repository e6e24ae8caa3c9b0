#pragma once
// What the supervisor needs from the operating system to run a Core: find, verify, launch,
// confine, terminate and poll it. The Win32 adapter (core_platform_win32) is the product's
// only implementation and the only code that touches handles; tests script a fake.

#include "common/error.hpp"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace quorvex::hub {

// The Job object that confines one Core. The helper holds its only handle: destroying it ends
// every process in the job. Nothing asks anything of it; its lifetime is the confinement.
class CoreJob {
public:
    virtual ~CoreJob() = default;
};

// The read end of the Core's standard-error pipe. Destroying it closes the pipe.
class CoreOutput {
public:
    virtual ~CoreOutput() = default;
    // Reads what is there, up to buffer.size() bytes, waiting for at least one. 0 means the
    // stream has ended (every writer closed it); interrupted reads are repeated inside.
    [[nodiscard]] virtual Result<std::size_t> read(std::span<char> buffer) = 0;
};

// One launched Core process, created suspended. Destroying it closes the process handle, then
// the main-thread handle; it does not end a confined process. (The Win32 platform creates the
// process inside its job, so one destroyed before confine ends with that job.)
class CoreProcess {
public:
    virtual ~CoreProcess() = default;
    // The process ID, read from the process handle.
    [[nodiscard]] virtual std::uint32_t id() const = 0;
    // Hands over the kill-on-close Job object that holds the process, putting the process into
    // it where it is not in it yet. On failure the process is left as it was.
    [[nodiscard]] virtual Result<std::unique_ptr<CoreJob>> confine() = 0;
    // Lets the suspended main thread run.
    [[nodiscard]] virtual Result<void> resume() = 0;
    // Asks the system to end the process, then waits up to `wait` for the end, which the system
    // only begins: true once the process has ended, false while it still runs. A refusal
    // (typically: it has already ended) is not reported, and then nothing is waited for; a
    // failed wait is.
    [[nodiscard]] virtual Result<bool> terminate(std::uint32_t exit_code, std::chrono::milliseconds wait) = 0;
    static constexpr std::chrono::milliseconds TERMINATION_WAIT{100};
    // Asks without waiting: the exit code once the process has ended, nothing while it runs.
    [[nodiscard]] virtual Result<std::optional<std::uint32_t>> exit_code_if_ended() = 0;
};

struct LaunchedCore {
    std::unique_ptr<CoreProcess> process;
    std::unique_ptr<CoreOutput> output;
};

// The Core file, open with read sharing only, whose digest matched. Nobody can write, rename
// or delete the file while this lives, so the file launched is the file checked.
class VerifiedCoreFile {
public:
    virtual ~VerifiedCoreFile() = default;
    // Creates the process of this file, suspended, with the address as its only argument.
    [[nodiscard]] virtual Result<LaunchedCore> launch(const std::string& address) const = 0;
};

// Each step hands out the object that the next step is asked of, so no step needs to be told
// which of the platform's own objects it works on.
class CorePlatform {
public:
    virtual ~CorePlatform() = default;
    // Full path of the helper's own executable.
    [[nodiscard]] virtual Result<std::string> own_path() = 0;
    // "QuorvexCore.exe" in the directory of the helper's own executable.
    [[nodiscard]] virtual Result<std::string> resolve_core_path() = 0;
    // Opens the Core file exactly as verify_core_file does and closes it at once.
    [[nodiscard]] virtual Result<void> open_core_file(const std::string& core_path) = 0;
    // Hashes the file and keeps it open when the digest is the expected one.
    [[nodiscard]] virtual Result<std::unique_ptr<VerifiedCoreFile>> verify_core_file(const std::string& core_path) = 0;
};

} // namespace quorvex::hub
