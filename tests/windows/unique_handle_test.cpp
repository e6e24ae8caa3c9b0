// The handle owners against real handles: which values count as held, and what closing keeps.

#include "platform/win32/unique_handle.hpp"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace quorvex::win32 {
namespace {

UniqueFileHandle open_temporary_file() {
    wchar_t directory[MAX_PATH];
    wchar_t path[MAX_PATH];
    if (::GetTempPathW(MAX_PATH, directory) == 0 || ::GetTempFileNameW(directory, L"qvx", 0, path) == 0) {
        return {};
    }
    return UniqueFileHandle(
        ::CreateFileW(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE, nullptr));
}

TEST(UniqueFileHandle, NeitherNullNorInvalidHandleValueIsHeld) {
    EXPECT_FALSE(UniqueFileHandle());
    EXPECT_FALSE(UniqueFileHandle(INVALID_HANDLE_VALUE));
    UniqueFileHandle null(nullptr);
    EXPECT_FALSE(null);
    // Resetting a null handle must not pass it to CloseHandle, which would set the last error.
    ::SetLastError(ERROR_SUCCESS);
    null.reset();
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
}

TEST(UniqueFileHandle, OwnsAnOpenFileUntilReleasedOrReset) {
    UniqueFileHandle file = open_temporary_file();
    ASSERT_TRUE(file);
    UniqueFileHandle moved(std::move(file));
    EXPECT_FALSE(file); // NOLINT(bugprone-use-after-move): the moved-from owner is what is checked
    ASSERT_TRUE(moved);

    const HANDLE raw = moved.release();
    EXPECT_FALSE(moved);
    EXPECT_EQ(::GetFileType(raw), static_cast<DWORD>(FILE_TYPE_DISK)) << "release must not close";

    // Closing keeps the error of the call that failed just before.
    moved.reset(raw);
    ::SetLastError(ERROR_FILE_NOT_FOUND);
    moved.reset();
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    DWORD flags = 0;
    EXPECT_FALSE(::GetHandleInformation(raw, &flags)) << "reset must close";
}

TEST(UniqueKernelHandle, CurrentProcessPseudoHandleIsAValue) {
    // -1 names the current process: for kernel handles only null is empty.
    UniqueKernelHandle pseudo(::GetCurrentProcess());
    EXPECT_TRUE(pseudo);
    (void)pseudo.release();
    EXPECT_FALSE(UniqueKernelHandle());
}

} // namespace
} // namespace quorvex::win32
