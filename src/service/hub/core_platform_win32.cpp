#include "service/hub/core_platform_win32.hpp"

#include "platform/win32/executable_path.hpp"
#include "platform/win32/inherited_handle_list.hpp"
#include "platform/win32/system_error.hpp"
#include "platform/win32/unique_handle.hpp"
#include "platform/win32/wide.hpp"
#include "service/hub/sha256_digest.hpp"

#include <windows.h>

#include <array>
#include <filesystem>

namespace quorvex::hub {
namespace {

using win32::UniqueFileHandle;
using win32::UniqueKernelHandle;

constexpr std::wstring_view CORE_FILE_NAME = L"QuorvexCore.exe";

class Win32CoreJob final : public CoreJob {
public:
    explicit Win32CoreJob(UniqueKernelHandle job) : job_(std::move(job)) {}

private:
    UniqueKernelHandle job_;
};

// Kill on close and nothing else: no memory, time, count or priority limit, no break-away.
Result<UniqueKernelHandle> kill_on_close_job() {
    UniqueKernelHandle job(::CreateJobObjectW(nullptr, nullptr));
    if (!job) {
        return fail(win32::last_os_error());
    }
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    static_assert(sizeof limits == 144);
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!::SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
        return fail(win32::last_os_error()); // read before the job closes
    }
    return job;
}

class Win32CoreProcess final : public CoreProcess {
public:
    Win32CoreProcess(UniqueKernelHandle process, UniqueKernelHandle main_thread, UniqueKernelHandle job)
        : process_(std::move(process)), main_thread_(std::move(main_thread)), job_(std::move(job)) {}
    ~Win32CoreProcess() override {
        process_.reset();
        main_thread_.reset();
    }

    [[nodiscard]] std::uint32_t id() const override { return ::GetProcessId(process_.get()); }

    // The process was created in its job; this checks that it is, assigns it where the system
    // did not, and hands the job's only handle to the caller.
    [[nodiscard]] Result<std::unique_ptr<CoreJob>> confine() override {
        BOOL in_job = FALSE;
        if (!::IsProcessInJob(process_.get(), job_.get(), &in_job)) {
            return fail(win32::last_os_error());
        }
        if (!in_job && !::AssignProcessToJobObject(job_.get(), process_.get())) {
            return fail(win32::last_os_error());
        }
        return std::make_unique<Win32CoreJob>(std::move(job_));
    }

    [[nodiscard]] Result<void> resume() override {
        if (::ResumeThread(main_thread_.get()) == static_cast<DWORD>(-1)) {
            return fail(win32::last_os_error());
        }
        return {};
    }

    [[nodiscard]] Result<bool> terminate(std::uint32_t exit_code, std::chrono::milliseconds wait) override {
        if (!::TerminateProcess(process_.get(), exit_code)) {
            return ended_within(0);
        }
        return ended_within(static_cast<DWORD>(wait.count()));
    }

    [[nodiscard]] Result<std::optional<std::uint32_t>> exit_code_if_ended() override {
        const Result<bool> ended = ended_within(0);
        if (!ended) {
            return fail(ended.error());
        }
        if (!*ended) {
            return std::nullopt;
        }
        DWORD code = 0;
        if (!::GetExitCodeProcess(process_.get(), &code)) {
            return fail(win32::last_os_error());
        }
        return code;
    }

private:
    [[nodiscard]] Result<bool> ended_within(DWORD milliseconds) const {
        switch (::WaitForSingleObject(process_.get(), milliseconds)) {
        case WAIT_OBJECT_0:
            return true;
        case WAIT_TIMEOUT:
            return false;
        case WAIT_FAILED:
            return fail(win32::last_os_error());
        default:
            return fail(Error::message("unexpected wait result for the Core process"));
        }
    }

    UniqueKernelHandle process_;
    UniqueKernelHandle main_thread_;
    UniqueKernelHandle job_; // until confine hands it over; closed unconfined, it ends the Core
};

class Win32CoreOutput final : public CoreOutput {
public:
    explicit Win32CoreOutput(UniqueKernelHandle pipe) : pipe_(std::move(pipe)) {}

    [[nodiscard]] Result<std::size_t> read(std::span<char> buffer) override {
        for (;;) {
            DWORD got = 0;
            if (::ReadFile(pipe_.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
                if (got > 0) {
                    return got;
                }
                continue; // a zero-byte write by the Core completes a read with nothing
            }
            const DWORD error = ::GetLastError();
            if (error == ERROR_BROKEN_PIPE) {
                return 0;
            }
            if (error == ERROR_OPERATION_ABORTED) {
                continue;
            }
            return fail(win32::os_error(error));
        }
    }

private:
    UniqueKernelHandle pipe_;
};

class Win32VerifiedCoreFile final : public VerifiedCoreFile {
public:
    Win32VerifiedCoreFile(std::wstring path, std::wstring directory, UniqueFileHandle file)
        : path_(std::move(path)), directory_(std::move(directory)), file_(std::move(file)) {}

    [[nodiscard]] Result<LaunchedCore> launch(const std::string& address) const override {
        // The Core inherits the write end; the read end stays with the relay alone, so the stream
        // ends once the Core (and whatever it started) let go of it.
        UniqueKernelHandle read_end;
        UniqueKernelHandle write_end;
        SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
        if (!::CreatePipe(read_end.put(), write_end.put(), &inheritable, 0)) {
            return fail(win32::last_os_error());
        }
        if (!::SetHandleInformation(read_end.get(), HANDLE_FLAG_INHERIT, 0)) {
            return fail(win32::last_os_error());
        }

        STARTUPINFOEXW startup{};
        startup.StartupInfo.cb = sizeof startup;
        startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
        startup.StartupInfo.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
        startup.StartupInfo.hStdOutput = ::GetStdHandle(STD_OUTPUT_HANDLE);
        startup.StartupInfo.hStdError = write_end.get();
        // Created inside its kill-on-close job: should the helper die before the Core is
        // confined, the job's last handle closes with it and takes the suspended Core along.
        Result<UniqueKernelHandle> job = kill_on_close_job();
        if (!job) {
            return fail(job.error());
        }
        win32::InheritedHandleList inherited;
        if (auto listed = inherited.init(
                {startup.StartupInfo.hStdInput, startup.StartupInfo.hStdOutput, write_end.get()}, job->get());
            !listed) {
            return fail(listed.error());
        }
        startup.lpAttributeList = inherited.list();

        // The address holds no blank, tab or quote, so it goes unquoted as the only argument.
        std::wstring command_line = L"\"" + path_ + L"\" " + win32::to_wide(address);
        PROCESS_INFORMATION created{};
        // EXTENDED_STARTUPINFO_PRESENT only says which startup record is passed. Suspended, it runs
        // no instruction (and starts no process) before its relay is set up and confine checked it.
        if (!::CreateProcessW(path_.c_str(), command_line.data(), nullptr, nullptr, TRUE,
                              CREATE_UNICODE_ENVIRONMENT | EXTENDED_STARTUPINFO_PRESENT | CREATE_SUSPENDED, nullptr,
                              directory_.c_str(), &startup.StartupInfo, &created)) {
            return fail(win32::last_os_error());
        }
        UniqueKernelHandle process(created.hProcess);
        UniqueKernelHandle main_thread(created.hThread);

        return LaunchedCore{
            std::make_unique<Win32CoreProcess>(std::move(process), std::move(main_thread), std::move(*job)),
            std::make_unique<Win32CoreOutput>(std::move(read_end))};
    }

private:
    const std::wstring path_;
    const std::wstring directory_;
    UniqueFileHandle file_;
};

// Read access, read sharing only: while it is open nobody can write, rename or delete the file.
Result<UniqueFileHandle> open_core(const std::wstring& path) {
    UniqueFileHandle file(
        ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) {
        return fail(win32::last_os_error());
    }
    return file;
}

Result<std::string> sha256_of(HANDLE file) {
    Result<Sha256> digest = Sha256::create();
    if (!digest) {
        return fail(digest.error());
    }
    std::array<char, 4096> buffer;
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
            return fail(win32::last_os_error());
        }
        if (got == 0) {
            return digest->hex_digest();
        }
        if (Result<void> hashed = digest->update({buffer.data(), got}); !hashed) {
            return fail(hashed.error());
        }
    }
}

} // namespace

Win32CorePlatform::Win32CorePlatform(std::string expected_sha256) : expected_sha256_(std::move(expected_sha256)) {}

Result<std::string> Win32CorePlatform::own_path() {
    const Result<std::wstring> path = win32::own_executable_path();
    if (!path) {
        return fail(path.error());
    }
    return win32::to_utf8_lossy(*path);
}

Result<std::string> Win32CorePlatform::resolve_core_path() {
    Result<std::wstring> helper = win32::own_executable_path();
    if (!helper) {
        return fail(helper.error());
    }
    const std::filesystem::path directory = std::filesystem::path(*helper).parent_path();
    if (directory.empty()) {
        return fail(Error::message("helper executable has no parent directory"));
    }
    return win32::to_utf8_lossy((directory / CORE_FILE_NAME).native());
}

Result<void> Win32CorePlatform::open_core_file(const std::string& core_path) {
    // Opened and closed at once: only whether it can be opened matters.
    const Result<UniqueFileHandle> file = open_core(win32::to_wide(core_path));
    if (!file) {
        return fail(file.error());
    }
    return {};
}

Result<std::unique_ptr<VerifiedCoreFile>> Win32CorePlatform::verify_core_file(const std::string& core_path) {
    std::wstring path = win32::to_wide(core_path);
    std::wstring directory = std::filesystem::path(path).parent_path().native();
    if (directory.empty()) {
        return fail(Error::message("Core executable has no parent directory"));
    }

    Result<UniqueFileHandle> file = open_core(path);
    if (!file) {
        return fail(file.error());
    }
    const Result<std::string> digest = sha256_of(file->get());
    if (!digest) {
        return fail(digest.error());
    }
    if (*digest != expected_sha256_) {
        return fail(Error::message("Core executable SHA256 mismatch"));
    }
    return std::make_unique<Win32VerifiedCoreFile>(std::move(path), std::move(directory), std::move(*file));
}

} // namespace quorvex::hub
