// The stub Core: a stand-in for QuorvexCore.exe whose behaviour is chosen by its one argument,
// the pipe address "\\.\pipe\QuorvexCore_" followed by 32 hexadecimal digits. One binary, so one
// digest, serves every scenario. A scenario's address ends in 16 zeros; its first two digits
// pick the scenario:
//
//   00  write nothing; run until killed
//   01  write "one" CR LF, "two" LF, "three" with no line feed; exit 0
//   02  write "before" LF, an empty line, a line holding the invalid UTF-8 byte 0xFF, then
//       "after" LF; exit 0 (the relay keeps "before" and the empty line only)
//   03  exit at once with the code in digits 3 to 10 (hexadecimal), e.g. c0000005
//   04  close standard error and run until killed
//   05  write 1 MiB of "x" with no line feed, then LF, "after" LF; exit 0
//   06  write "command line: " and its command line, LF, "directory: " and its working
//       directory, LF; run until killed
//   07  flood: "line 0" LF to "line 999999" LF in writes of about 64 KiB, then "nul", NUL,
//       "in", NUL, "the line" LF, then "\x1b[31mred\x1b[0m \x1b]0;title\x07 \x1bc" CR LF, then
//       10 MiB of "x" with no line feed; exit 0
//   08  at once start a second stub Core in scenario 00 (no handle inherited), then write
//       "child: " and its process ID, LF; run until killed
//   09  write what could take over a terminal that shows the log: "nul", NUL, "in", NUL,
//       "the line" LF, then "\x1b[31mred\x1b[0m \x1b]0;title\x07 \x1bc A" CR "B \x7f \xc2\x9b2J" LF
//       (a colour, a window title, a reset, a lone CR, DEL and the 8-bit CSI U+009B); exit 0
//
// Any other address, such as a client's random one, is served as the real Core would: the stub
// creates that pipe, writes "listening on " and the address, LF, and runs until killed.
//
// Any other scenario or argument: a line naming the problem on standard error, exit code 2.

#include "platform/win32/unique_handle.hpp"

#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

constexpr std::string_view PREFIX = "\\\\.\\pipe\\QuorvexCore_";

void write_error(std::string_view bytes) {
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

std::string utf8(const wchar_t* text) {
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size - 1 : 0, '\0');
    if (size > 1) {
        ::WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
    }
    return out;
}

[[noreturn]] void run_until_killed() {
    for (;;) {
        ::Sleep(INFINITE);
    }
}

[[noreturn]] void exit_with(std::uint32_t code) { ::ExitProcess(code); }

} // namespace

int main(int argc, char** argv) {
    const std::string_view address = argc == 2 ? argv[1] : "";
    if (address.size() != PREFIX.size() + 32 || !address.starts_with(PREFIX)) {
        write_error("stub Core: expected one pipe address argument\n");
        return 2;
    }
    const std::string_view digits = address.substr(PREFIX.size());
    const std::string_view scenario = digits.substr(0, 2);

    if (!digits.ends_with(std::string_view("0000000000000000"))) {
        const std::wstring pipe_name(address.begin(), address.end()); // the address is ASCII
        const quorvex::win32::UniqueFileHandle pipe(
            ::CreateNamedPipeW(pipe_name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE,
                               PIPE_TYPE_BYTE | PIPE_REJECT_REMOTE_CLIENTS, 1, 4096, 4096, 0, nullptr));
        if (!pipe) {
            write_error("stub Core: could not create its pipe\n");
            exit_with(3);
        }
        write_error("listening on " + std::string(address) + "\n");
        run_until_killed();
    }

    if (scenario == "00") {
        run_until_killed();
    }
    if (scenario == "01") {
        write_error("one\r\n");
        write_error("two\n");
        write_error("three");
        exit_with(0);
    }
    if (scenario == "02") {
        write_error("before\n\nbad \xff line\nafter\n");
        exit_with(0);
    }
    if (scenario == "03") {
        const std::string code(digits.substr(2, 8));
        exit_with(static_cast<std::uint32_t>(std::strtoul(code.c_str(), nullptr, 16)));
    }
    if (scenario == "04") {
        quorvex::win32::UniqueKernelHandle error(::GetStdHandle(STD_ERROR_HANDLE));
        ::SetStdHandle(STD_ERROR_HANDLE, nullptr);
        error.reset();
        run_until_killed();
    }
    if (scenario == "05") {
        const std::string chunk(std::size_t{64} * 1024, 'x');
        for (int i = 0; i < 16; ++i) {
            write_error(chunk);
        }
        write_error("\nafter\n");
        exit_with(0);
    }
    if (scenario == "06") {
        wchar_t directory[MAX_PATH + 1] = {};
        ::GetCurrentDirectoryW(MAX_PATH + 1, directory);
        write_error("command line: " + utf8(::GetCommandLineW()) + "\n");
        write_error("directory: " + utf8(directory) + "\n");
        run_until_killed();
    }
    if (scenario == "07") {
        std::string batch;
        for (int i = 0; i < 1000000; ++i) {
            batch += "line " + std::to_string(i) + "\n";
            if (batch.size() >= std::size_t{64} * 1024) {
                write_error(batch);
                batch.clear();
            }
        }
        write_error(batch);
        write_error(std::string_view("nul\0in\0the line\n", 16));
        write_error("\x1b[31mred\x1b[0m \x1b]0;title\x07 \x1b"
                    "c\r\n");
        const std::string chunk(std::size_t{64} * 1024, 'x');
        for (int i = 0; i < 160; ++i) {
            write_error(chunk);
        }
        exit_with(0);
    }
    if (scenario == "08") {
        wchar_t own[MAX_PATH + 1] = {};
        ::GetModuleFileNameW(nullptr, own, MAX_PATH + 1);
        std::wstring command_line =
            L"\"" + std::wstring(own) + L"\" \\\\.\\pipe\\QuorvexCore_" + std::wstring(32, L'0');
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION child{};
        if (!::CreateProcessW(own, command_line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                              &child)) {
            write_error("stub Core: could not start its child\n");
            exit_with(3);
        }
        ::CloseHandle(child.hThread);
        ::CloseHandle(child.hProcess);
        write_error("child: " + std::to_string(child.dwProcessId) + "\n");
        run_until_killed();
    }
    if (scenario == "09") {
        write_error(std::string_view("nul\0in\0the line\n", 16));
        write_error("\x1b[31mred\x1b[0m \x1b]0;title\x07 \x1b"
                    "c A\rB \x7f \xc2\x9b"
                    "2J\n");
        exit_with(0);
    }
    write_error("stub Core: unknown scenario\n");
    return 2;
}
