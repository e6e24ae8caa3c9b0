// What Windows and an installer read from the shipped files without running them: the version
// resource (through version.dll, as Explorer's properties do) of the helper, the control tool
// and the client DLL, and the application manifest of both executables. This test lies beside
// them, as the installer's payload does.

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

namespace {

// A shipped file and what its resource must say.
struct ShippedFile {
    const wchar_t* file_name;
    const wchar_t* description;
    const wchar_t* internal_name;
    DWORD file_type;
};

const ShippedFile SHIPPED_FILES[] = {
    {L"QuorvexHelper.exe", L"Quorvex helper service", L"QuorvexHelper", VFT_APP},
    {L"QuorvexHelperCtl.exe", L"Quorvex helper control tool", L"QuorvexHelperCtl", VFT_APP},
    {L"QuorvexHelperClient.dll", L"Quorvex helper client library", L"QuorvexHelperClient", VFT_DLL},
};

std::wstring path_beside_test(const wchar_t* file_name) {
    std::wstring path(MAX_PATH, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    path.resize(length);
    return path.substr(0, path.find_last_of(L'\\') + 1) + file_name;
}

std::wstring widen(std::string_view text) { return std::wstring(text.begin(), text.end()); }

class VersionResource : public testing::TestWithParam<ShippedFile> {
protected:
    void SetUp() override {
        const std::wstring path = path_beside_test(GetParam().file_name);
        DWORD ignored = 0;
        const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
        ASSERT_NE(size, 0u) << "no version resource, error " << GetLastError();
        data_.resize(size);
        ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, data_.data()));
    }

    // A value of the block named by the resource's first translation.
    std::wstring string_value(const wchar_t* name) {
        struct Translation {
            WORD language;
            WORD code_page;
        }* translations = nullptr;
        UINT length = 0;
        if (!VerQueryValueW(data_.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translations),
                            &length) ||
            length < sizeof(Translation)) {
            return L"<no translation>";
        }
        wchar_t query[128];
        (void)swprintf(query, 128, L"\\StringFileInfo\\%04x%04x\\%ls", translations->language, translations->code_page,
                       name);
        wchar_t* value = nullptr;
        if (!VerQueryValueW(data_.data(), query, reinterpret_cast<void**>(&value), &length) || length == 0) {
            return L"<missing>";
        }
        return std::wstring(value, wcsnlen(value, length));
    }

    std::vector<char> data_;
};

TEST_P(VersionResource, FixedVersionIsTheProjectVersion) {
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(data_.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    ASSERT_GE(length, sizeof(VS_FIXEDFILEINFO));
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    const DWORD ms = MAKELONG(QUORVEX_VERSION_MINOR, QUORVEX_VERSION_MAJOR);
    const DWORD ls = MAKELONG(0, QUORVEX_VERSION_PATCH);
    EXPECT_EQ(fixed->dwFileVersionMS, ms);
    EXPECT_EQ(fixed->dwFileVersionLS, ls);
    EXPECT_EQ(fixed->dwProductVersionMS, ms);
    EXPECT_EQ(fixed->dwProductVersionLS, ls);
    EXPECT_EQ(fixed->dwFileType, GetParam().file_type);
    EXPECT_EQ(fixed->dwFileFlags & fixed->dwFileFlagsMask, 0u) << "neither debug nor pre-release";
}

TEST_P(VersionResource, NamesAndVersionTexts) {
    EXPECT_EQ(string_value(L"ProductName"), L"Quorvex");
    EXPECT_EQ(string_value(L"FileDescription"), GetParam().description);
    EXPECT_EQ(string_value(L"OriginalFilename"), GetParam().file_name);
    EXPECT_EQ(string_value(L"InternalName"), GetParam().internal_name);
    EXPECT_EQ(string_value(L"FileVersion"), widen(QUORVEX_VERSION));
    EXPECT_EQ(string_value(L"ProductVersion"), widen(QUORVEX_VERSION));
}

INSTANTIATE_TEST_SUITE_P(ShippedFiles, VersionResource, testing::ValuesIn(SHIPPED_FILES));

class Manifest : public testing::TestWithParam<ShippedFile> {};

TEST_P(Manifest, AsInvokerOnWindows10And11) {
    const HMODULE image = LoadLibraryExW(path_beside_test(GetParam().file_name).c_str(), nullptr,
                                         LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(image, nullptr) << "error " << GetLastError();
    const HRSRC found = FindResourceW(image, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24)); // RT_MANIFEST
    ASSERT_NE(found, nullptr) << "no manifest with ID 1";
    const HGLOBAL loaded = LoadResource(image, found);
    ASSERT_NE(loaded, nullptr);
    const std::string manifest(static_cast<const char*>(LockResource(loaded)), SizeofResource(image, found));
    FreeLibrary(image);

    EXPECT_NE(manifest.find(R"(<requestedExecutionLevel level="asInvoker" uiAccess="false"/>)"), std::string::npos)
        << manifest;
    EXPECT_EQ(manifest.find("requireAdministrator"), std::string::npos);
    EXPECT_NE(manifest.find(R"(<supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"/>)"), std::string::npos)
        << "Windows 10 and 11";
}

// The executables; a DLL takes its host's manifest.
INSTANTIATE_TEST_SUITE_P(ShippedExecutables, Manifest, testing::Values(SHIPPED_FILES[0], SHIPPED_FILES[1]));

} // namespace
