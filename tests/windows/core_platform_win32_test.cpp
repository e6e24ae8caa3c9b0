// The Win32 Core platform and the supervisor over it, with the stub Core (tests/support) lying
// beside this test executable as QuorvexCore.exe lies beside the helper.

#include "service/hub/core_platform_win32.hpp"

#include "platform/win32/system_error.hpp"
#include "platform/win32/unique_handle.hpp"
#include "platform/win32/wide.hpp"
#include "service/hub/core_output_relay.hpp"
#include "service/hub/core_supervisor.hpp"
#include "service/hub/sha256_digest.hpp"

#include <gtest/gtest.h>

#include <windows.h>

#include <tlhelp32.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

namespace quorvex::hub {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

// The address that makes the stub Core play `scenario` (see stub_core.cpp).
std::string stub_address(std::string_view scenario, std::string_view rest = "") {
    std::string digits = std::string(scenario) + std::string(rest);
    digits.resize(CORE_ID_DIGITS, '0');
    return std::string(CORE_PIPE_PREFIX) + digits;
}

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_file(const fs::path& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string sha256_of(std::string_view bytes) {
    Result<Sha256> digest = Sha256::create();
    if (!digest || !digest->update(bytes)) {
        return {};
    }
    return digest->hex_digest().value_or(std::string());
}

fs::path stub_core_path() {
    wchar_t own[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, own, MAX_PATH);
    return fs::path(own).parent_path() / L"QuorvexCore.exe";
}

// Waits up to 10 s for the process to end.
std::optional<std::uint32_t> wait_for_exit(CoreProcess& process) {
    for (auto deadline = std::chrono::steady_clock::now() + 10s; std::chrono::steady_clock::now() < deadline;) {
        Result<std::optional<std::uint32_t>> ended = process.exit_code_if_ended();
        if (!ended) {
            return std::nullopt;
        }
        if (*ended) {
            return *ended;
        }
        std::this_thread::sleep_for(20ms);
    }
    return std::nullopt;
}

// The suspend count of each thread of the process, read by suspending it once more and
// resuming it at once.
std::vector<DWORD> suspend_counts(DWORD process_id) {
    std::vector<DWORD> counts;
    win32::UniqueFileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Thread32First(snapshot.get(), &entry); more; more = ::Thread32Next(snapshot.get(), &entry)) {
        if (entry.th32OwnerProcessID != process_id) {
            continue;
        }
        win32::UniqueKernelHandle thread(::OpenThread(THREAD_SUSPEND_RESUME, FALSE, entry.th32ThreadID));
        if (!thread) {
            continue;
        }
        counts.push_back(::SuspendThread(thread.get()));
        ::ResumeThread(thread.get());
    }
    return counts;
}

class Win32CorePlatformTest : public ::testing::Test {
protected:
    void SetUp() override {
        stub_bytes = read_file(stub_core_path());
        ASSERT_FALSE(stub_bytes.empty());
        temp = fs::temp_directory_path() / ("quorvex-core-test-" + std::to_string(::GetCurrentProcessId()));
        fs::create_directories(temp);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(temp, ignored);
    }
    std::string copy_of_stub(const std::wstring& name, std::string_view bytes) {
        const fs::path path = temp / name;
        write_file(path, bytes);
        return win32::to_utf8_lossy(path.native());
    }
    // The stub in `scenario`, launched, in its Job object, and running.
    // The stub Core, verified and launched: suspended, unconfined.
    void launch_stub(std::string_view scenario) {
        Result<std::unique_ptr<VerifiedCoreFile>> verified =
            platform.verify_core_file(win32::to_utf8_lossy(stub_core_path().native()));
        ASSERT_TRUE(verified.has_value()) << verified.error().text();
        Result<LaunchedCore> launched = (*verified)->launch(stub_address(scenario));
        ASSERT_TRUE(launched.has_value()) << launched.error().text();
        core = std::move(*launched);
    }
    void launch_confined_stub(std::string_view scenario) {
        ASSERT_NO_FATAL_FAILURE(launch_stub(scenario));
        Result<std::unique_ptr<CoreJob>> confined = core.process->confine();
        ASSERT_TRUE(confined.has_value());
        job = std::move(*confined);
        ASSERT_TRUE(core.process->resume().has_value());
    }
    // Reads the error stream until it holds `lines` line feeds.
    std::string read_lines(CoreOutput& output, int lines) {
        std::string text;
        std::vector<char> buffer(RELAY_READ_BYTES);
        while (std::count(text.begin(), text.end(), '\n') < lines) {
            Result<std::size_t> got = output.read(buffer);
            if (!got || *got == 0) {
                break;
            }
            text.append(buffer.data(), *got);
        }
        return text;
    }

    std::string stub_bytes;
    LaunchedCore core;
    std::unique_ptr<CoreJob> job;
    fs::path temp;
    Win32CorePlatform platform{sha256_of(read_file(stub_core_path()))};
};

TEST(Sha256, CngMatchesTheStandardVectorsHoweverFed) {
    struct Case {
        std::string input;
        std::string digest;
    };
    const std::vector<Case> cases = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const Case& c : cases) {
        Result<Sha256> whole = Sha256::create();
        ASSERT_TRUE(whole.has_value());
        ASSERT_TRUE(whole->update(c.input));
        EXPECT_EQ(whole->hex_digest(), c.digest);

        Result<Sha256> chunked = Sha256::create();
        ASSERT_TRUE(chunked.has_value());
        for (std::size_t at = 0; at < c.input.size(); at += 4096) {
            ASSERT_TRUE(chunked->update(std::string_view(c.input).substr(at, 4096)));
        }
        EXPECT_EQ(chunked->hex_digest(), c.digest);
    }
}

// CNG's failures are its own, with the status and its text: never an empty digest that a
// caller would report as a mismatch.
TEST(Sha256, AStepCngRefusesFailsWithItsStatus) {
    Result<Sha256> digest = Sha256::create();
    ASSERT_TRUE(digest.has_value());
    // The handle of a digest moved away is one CNG refuses (the only refusal Wine's CNG makes
    // through this interface).
    const Sha256 kept = std::move(*digest);
    const std::string refused = " (NTSTATUS 0xc0000008)"; // STATUS_INVALID_HANDLE
    const Result<void> hashed = digest->update("bytes");  // NOLINT(bugprone-use-after-move)
    ASSERT_FALSE(hashed);
    EXPECT_TRUE(hashed.error().text().starts_with("hash SHA-256: ")) << hashed.error().text();
    EXPECT_TRUE(hashed.error().text().ends_with(refused)) << hashed.error().text();
    const Result<std::string> finished = digest->hex_digest(); // NOLINT(bugprone-use-after-move)
    ASSERT_FALSE(finished);
    EXPECT_TRUE(finished.error().text().starts_with("finish SHA-256: ")) << finished.error().text();
    EXPECT_TRUE(finished.error().text().ends_with(refused)) << finished.error().text();
}

TEST(NtStatusError, NamesTheStatusWithTheSystemsText) {
    const std::string text = win32::nt_status_error(static_cast<LONG>(0xC0000008)).text();
    EXPECT_TRUE(text.ends_with(" (NTSTATUS 0xc0000008)")) << text;
    EXPECT_GT(text.size(), std::string_view(" (NTSTATUS 0xc0000008)").size()) << text;
}

TEST_F(Win32CorePlatformTest, FindsTheCoreBesideItsOwnExecutable) {
    const Result<std::string> own = platform.own_path();
    ASSERT_TRUE(own.has_value()) << own.error().text();
    const Result<std::string> core = platform.resolve_core_path();
    ASSERT_TRUE(core.has_value()) << core.error().text();
    EXPECT_EQ(fs::path(win32::to_wide(*core)), fs::path(win32::to_wide(*own)).parent_path() / L"QuorvexCore.exe");
    EXPECT_TRUE(platform.verify_core_file(*core).has_value());
    EXPECT_TRUE(platform.open_core_file(*core).has_value());
}

TEST_F(Win32CorePlatformTest, BuildDigestIsTheStubsUnlessAnotherCoreWasNamed) {
#ifdef QUORVEX_CORE_IS_STUB
    EXPECT_EQ(EXPECTED_CORE_SHA256, sha256_of(stub_bytes));
#else
    GTEST_SKIP() << "this build ships another Core";
#endif
}

TEST_F(Win32CorePlatformTest, VerifiedFileCannotBeWrittenRenamedOrDeleted) {
    const std::string path = copy_of_stub(L"QuorvexCore.exe", stub_bytes);
    const std::wstring wide = win32::to_wide(path);
    {
        Result<std::unique_ptr<VerifiedCoreFile>> verified = platform.verify_core_file(path);
        ASSERT_TRUE(verified.has_value()) << verified.error().text();
        win32::UniqueFileHandle writer(::CreateFileW(wide.c_str(), GENERIC_WRITE,
                                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                     OPEN_EXISTING, 0, nullptr));
        EXPECT_FALSE(writer);
        EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        EXPECT_FALSE(::DeleteFileW(wide.c_str()));
        EXPECT_FALSE(::MoveFileW(wide.c_str(), (temp / L"moved.exe").c_str()));
        EXPECT_TRUE(fs::exists(wide));
    }
    // Released with the verified file.
    win32::UniqueFileHandle writer(::CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_TRUE(writer);
}

TEST_F(Win32CorePlatformTest, WrongOrUnreadableFilesFailVerification) {
    std::string changed = stub_bytes;
    changed[changed.size() / 2] ^= 0x01;
    const std::string mismatch = "Core executable SHA256 mismatch";

    Result<std::unique_ptr<VerifiedCoreFile>> one_byte =
        platform.verify_core_file(copy_of_stub(L"changed.exe", changed));
    ASSERT_FALSE(one_byte.has_value());
    EXPECT_EQ(one_byte.error().text(), mismatch);

    Result<std::unique_ptr<VerifiedCoreFile>> empty = platform.verify_core_file(copy_of_stub(L"empty.exe", ""));
    ASSERT_FALSE(empty.has_value());
    EXPECT_EQ(empty.error().text(), mismatch);

    const std::string missing = win32::to_utf8_lossy((temp / L"missing.exe").native());
    Result<std::unique_ptr<VerifiedCoreFile>> absent = platform.verify_core_file(missing);
    ASSERT_FALSE(absent.has_value());
    EXPECT_EQ(absent.error().os_code(), 2);
    EXPECT_EQ(platform.open_core_file(missing).error().os_code(), 2);

    Result<std::unique_ptr<VerifiedCoreFile>> relative = platform.verify_core_file("QuorvexCore.exe");
    ASSERT_FALSE(relative.has_value());
    EXPECT_EQ(relative.error().text(), "Core executable has no parent directory");

    const std::string held = copy_of_stub(L"held.exe", stub_bytes);
    win32::UniqueFileHandle writer(::CreateFileW(win32::to_wide(held).c_str(), GENERIC_WRITE,
                                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                                 nullptr));
    ASSERT_TRUE(writer);
    Result<std::unique_ptr<VerifiedCoreFile>> busy = platform.verify_core_file(held);
    ASSERT_FALSE(busy.has_value());
    EXPECT_EQ(busy.error().os_code(), 32);
    EXPECT_EQ(platform.open_core_file(held).error().os_code(), 32);
}

// A file whose digest is the expected one but which Windows cannot run: the launch fails with the
// system's error, and the pipe and the Job object made for it are closed again.
TEST_F(Win32CorePlatformTest, VerifiedFileThatIsNoProgramFailsToLaunchAndLeavesNoHandle) {
    const std::string bytes = "not a program";
    Win32CorePlatform accepting{sha256_of(bytes)};
    const std::string path = copy_of_stub(L"QuorvexCore.exe", bytes);
    const auto launch_count_handles = [&] {
        Result<std::unique_ptr<VerifiedCoreFile>> verified = accepting.verify_core_file(path);
        EXPECT_TRUE(verified.has_value());
        if (verified) {
            Result<LaunchedCore> launched = (*verified)->launch(stub_address("00"));
            EXPECT_FALSE(launched.has_value());
            if (!launched) {
                EXPECT_EQ(launched.error().os_code(), static_cast<std::int32_t>(ERROR_BAD_EXE_FORMAT))
                    << launched.error().text();
            }
        }
        DWORD count = 0;
        (void)::GetProcessHandleCount(::GetCurrentProcess(), &count);
        return count;
    };
    // The first attempt settles what the system keeps after a first use.
    const DWORD settled = launch_count_handles();
    EXPECT_EQ(launch_count_handles(), settled);
}

TEST_F(Win32CorePlatformTest, LaunchesWithTheQuotedPathTheAddressAndItsDirectory) {
    ASSERT_NO_FATAL_FAILURE(launch_stub("06"));
    EXPECT_NE(core.process->id(), 0u);

    // Confined, then resumed, it runs until the job's only handle closes.
    Result<std::unique_ptr<CoreJob>> confined = core.process->confine();
    ASSERT_TRUE(confined.has_value()) << confined.error().text();
    ASSERT_TRUE(core.process->resume().has_value());
    const std::string path = win32::to_utf8_lossy(stub_core_path().native());
    const std::string directory = win32::to_utf8_lossy(stub_core_path().parent_path().native());
    EXPECT_EQ(read_lines(*core.output, 2),
              "command line: \"" + path + "\" " + stub_address("06") + "\ndirectory: " + directory + "\n");
    Result<std::optional<std::uint32_t>> running = core.process->exit_code_if_ended();
    ASSERT_TRUE(running.has_value());
    EXPECT_EQ(*running, std::nullopt);
    confined->reset();
    EXPECT_TRUE(wait_for_exit(*core.process).has_value());
    // Its error stream ends with it.
    std::vector<char> buffer(RELAY_READ_BYTES);
    Result<std::size_t> end = core.output->read(buffer);
    ASSERT_TRUE(end.has_value());
    EXPECT_EQ(*end, 0u);
}

TEST_F(Win32CorePlatformTest, LaunchedCoreRunsNothingUntilResumed) {
    // Scenario 01 writes three lines and exits at once, if it runs at all.
    ASSERT_NO_FATAL_FAILURE(launch_stub("01"));
    // Its only thread is suspended once: SuspendThread reports the count it found.
    EXPECT_EQ(suspend_counts(core.process->id()), std::vector<DWORD>{1});
    // Ended before it was ever resumed: it wrote nothing and ended by termination.
    ASSERT_TRUE(core.process->terminate(7, CoreProcess::TERMINATION_WAIT).has_value());
    EXPECT_EQ(wait_for_exit(*core.process), 7u);
    std::vector<char> buffer(RELAY_READ_BYTES);
    Result<std::size_t> nothing = core.output->read(buffer);
    ASSERT_TRUE(nothing.has_value());
    EXPECT_EQ(*nothing, 0u);
}

TEST_F(Win32CorePlatformTest, CoreIsInItsJobFromItsCreationAndEndsWithItUnconfined) {
    ASSERT_NO_FATAL_FAILURE(launch_stub("00"));
    win32::UniqueKernelHandle process(
        ::OpenProcess(PROCESS_QUERY_INFORMATION | SYNCHRONIZE, FALSE, core.process->id()));
    ASSERT_TRUE(process);
    // Before confine: already in a job, so no moment exists in which a helper that dies would
    // leave the suspended Core outside one.
    BOOL in_job = FALSE;
    ASSERT_TRUE(::IsProcessInJob(process.get(), nullptr, &in_job));
    EXPECT_TRUE(in_job);
    // The helper letting go of it unconfined (as its death would) ends it.
    core.process.reset();
    EXPECT_EQ(::WaitForSingleObject(process.get(), 10000), WAIT_OBJECT_0);
}

TEST_F(Win32CorePlatformTest, ProcessTheCoreStartsAtOnceEndsWithItsJob) {
    ASSERT_NO_FATAL_FAILURE(launch_confined_stub("08"));
    const std::string line = read_lines(*core.output, 1);
    ASSERT_TRUE(line.starts_with("child: ")) << line;
    const auto child_id = static_cast<DWORD>(std::stoul(line.substr(7)));
    win32::UniqueKernelHandle child(::OpenProcess(SYNCHRONIZE, FALSE, child_id));
    ASSERT_TRUE(child) << "child " << child_id;
    job.reset();
    EXPECT_EQ(::WaitForSingleObject(child.get(), 10000), WAIT_OBJECT_0);
    EXPECT_TRUE(wait_for_exit(*core.process).has_value());
}

TEST_F(Win32CorePlatformTest, TerminationEndsTheCoreWithExitCodeOne) {
    ASSERT_NO_FATAL_FAILURE(launch_confined_stub("00"));
    // The wait sees the end: no exit query needs to follow.
    const Result<bool> ended = core.process->terminate(1, 10s);
    ASSERT_TRUE(ended.has_value()) << ended.error().text();
    EXPECT_TRUE(*ended);
    const Result<std::optional<std::uint32_t>> code = core.process->exit_code_if_ended();
    ASSERT_TRUE(code.has_value()) << code.error().text();
    EXPECT_EQ(*code, std::optional<std::uint32_t>(1));
    // A refusal of an ended process is not an error, and the end shows without a wait.
    const Result<bool> again = core.process->terminate(1, 0ms);
    ASSERT_TRUE(again.has_value()) << again.error().text();
    EXPECT_TRUE(*again);
    EXPECT_EQ(wait_for_exit(*core.process), 1u);
}

TEST_F(Win32CorePlatformTest, CoreInheritsOnlyItsStandardHandles) {
    // An inheritable handle of the helper's own, like the socket of a pending accept: the Core
    // must not hold a copy, or closing it here would not end the stream.
    win32::UniqueKernelHandle read_end, write_end;
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    ASSERT_TRUE(::CreatePipe(read_end.put(), write_end.put(), &inheritable, 0));

    ASSERT_NO_FATAL_FAILURE(launch_confined_stub("00"));

    write_end.reset();
    DWORD available = 0;
    const BOOL open = ::PeekNamedPipe(read_end.get(), nullptr, 0, nullptr, &available, nullptr);
    EXPECT_FALSE(open);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_BROKEN_PIPE));
    ASSERT_TRUE(core.process->terminate(1, CoreProcess::TERMINATION_WAIT).has_value());
    EXPECT_EQ(wait_for_exit(*core.process), 1u);
}

// The supervisor over the real platform. Relays run on threads the test joins, so the log is
// complete once they are done and no relay outlives the supervisor.
class Win32CoreSupervisorTest : public Win32CorePlatformTest {
protected:
    void TearDown() override {
        supervisor.stop_core_on_shutdown();
        join_relays();
        Win32CorePlatformTest::TearDown();
    }
    void join_relays() {
        for (std::thread& relay : relays) {
            relay.join();
        }
        relays.clear();
    }
    Started start(std::string_view scenario, const std::string& session, std::string_view rest = "") {
        StartOutcome outcome = supervisor.start_core(stub_address(scenario, rest), session);
        EXPECT_TRUE(std::holds_alternative<Started>(outcome)) << "outcome " << outcome.index();
        return std::holds_alternative<Started>(outcome) ? std::get<Started>(outcome) : Started{};
    }

    const std::string S1 = "0123456789abcdef0123456789abcdef";
    const std::string S2 = "fedcba9876543210fedcba9876543210";
    HelperLog log;
    SteadyClock clock;
    std::vector<std::thread> relays;
    CoreSupervisor supervisor{
        platform, log, clock, [this](std::string session, std::unique_ptr<CoreOutput> output) {
            relays.emplace_back([this, session = std::move(session), pipe = std::move(output)]() mutable {
                relay_core_output(std::move(pipe), log, [&] { supervisor.watch_core_exit(session); });
            });
        }};
};

TEST_F(Win32CoreSupervisorTest, RelaysTheLinesOfACoreThatExitsThenLogsItsExit) {
    struct Case {
        std::string_view scenario, rest;
        Lines lines;
    };
    const std::vector<Case> cases = {
        {"01", "", {"one", "two", "three", "Core exited on its own: exit code: 0"}},
        {"02", "", {"before", "", "Core exited on its own: exit code: 0"}},
        {"03", "c0000005", {"Core exited on its own: exit code: 0xc0000005"}},
        {"03", "00000000", {"Core exited on its own: exit code: 0"}},
        {"05",
         "",
         {std::string(CoreLineSplitter::MAX_LINE_BYTES, 'x'), "after", "Core exited on its own: exit code: 0"}},
    };
    std::size_t before = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.scenario) + std::string(c.rest));
        const Started started = start(c.scenario, S1, c.rest);
        EXPECT_NE(started.pid, 0u);
        join_relays();
        const Lines all = log.lines();
        EXPECT_EQ(Lines(all.begin() + static_cast<std::ptrdiff_t>(before), all.end()), c.lines);
        before = all.size();
        EXPECT_EQ(supervisor.managed_session_id(), std::nullopt);
    }
}

TEST_F(Win32CoreSupervisorTest, FloodingCoreIsRelayedToItsEndKeepingTheNewestLinesWhole) {
    start("07", S1);
    join_relays(); // returns only once the Core wrote everything and its stream ended
    Lines expected;
    for (int i = 1000000 - 96; i < 1000000; ++i) {
        expected.push_back("line " + std::to_string(i));
    }
    expected.push_back(std::string("nul\0in\0the line", 15));
    expected.push_back("\x1b[31mred\x1b[0m \x1b]0;title\x07 \x1b"
                       "c");
    expected.push_back(std::string(CoreLineSplitter::MAX_LINE_BYTES, 'x'));
    expected.push_back("Core exited on its own: exit code: 0");
    const Lines lines = log.lines();
    ASSERT_EQ(lines.size(), HelperLog::CAPACITY);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_TRUE(lines[i] == expected[i]) << "line " << i << " differs; it begins: " << lines[i].substr(0, 40);
    }
}

TEST_F(Win32CoreSupervisorTest, StoppedCoreEndsWithoutAnExitLine) {
    start("00", S1);
    const StopOutcome outcome = supervisor.stop_core(S1);
    EXPECT_TRUE(std::holds_alternative<Stopped>(outcome)) << outcome.index();
    join_relays();
    EXPECT_TRUE(log.lines().empty());
    EXPECT_TRUE(std::holds_alternative<NotRunning>(supervisor.stop_core(S1)));
}

TEST_F(Win32CoreSupervisorTest, NewStartReplacesTheRunningCoreAndItsRelayLeavesTheNewOne) {
    start("00", S1);
    start("00", S2);
    ASSERT_EQ(relays.size(), 2u);
    relays.front().join(); // the first Core was terminated: its relay ends and must not touch S2
    relays.erase(relays.begin());
    EXPECT_EQ(supervisor.managed_session_id(), S2);
    EXPECT_TRUE(log.lines().empty());
    EXPECT_TRUE(std::holds_alternative<Stopped>(supervisor.stop_core(S2)));
}

TEST_F(Win32CoreSupervisorTest, CoreThatClosesItsErrorStreamStaysManaged) {
    start("04", S1);
    join_relays(); // the watch gives up after 1.5 s
    EXPECT_EQ(supervisor.managed_session_id(), S1);
    EXPECT_TRUE(log.lines().empty());
    EXPECT_TRUE(std::holds_alternative<Stopped>(supervisor.stop_core(S1)));
}

TEST_F(Win32CoreSupervisorTest, PingAnswersWithTheHelperPath) {
    const PingOutcome outcome = supervisor.ping_core(std::string(EXPECTED_CORE_SHA256));
    ASSERT_TRUE(std::holds_alternative<PingOk>(outcome));
    EXPECT_EQ(std::get<PingOk>(outcome).helper_path, *platform.own_path());
}

} // namespace
} // namespace quorvex::hub
