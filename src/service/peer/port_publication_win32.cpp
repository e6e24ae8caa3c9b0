#include "service/peer/port_publication.hpp"

#include "platform/win32/system_error.hpp"
#include "platform/win32/unique_handle.hpp"
#include "platform/win32/wide.hpp"

#include <string>

namespace quorvex::peer {
namespace {

const std::wstring& runtime_key_path() {
    static const std::wstring path =
        win32::to_wide(std::string(SERVICES_KEY_PATH) + std::string(HELPER_SERVICE_NAME) + "\\Runtime");
    return path;
}

} // namespace

Result<void> publish_port(std::uint16_t port) {
    win32::UniqueRegistryKey key;
    const LSTATUS created = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, runtime_key_path().c_str(), 0, nullptr,
                                              REG_OPTION_VOLATILE, KEY_SET_VALUE, nullptr, key.put(), nullptr);
    if (created != ERROR_SUCCESS) return fail(win32::os_error(static_cast<DWORD>(created)));
    const DWORD value = port;
    const LSTATUS written = ::RegSetValueExW(key.get(), PORT_VALUE_NAME, 0, REG_DWORD,
                                             reinterpret_cast<const BYTE*>(&value), sizeof value);
    if (written != ERROR_SUCCESS) return fail(win32::os_error(static_cast<DWORD>(written)));
    return {};
}

void unpublish_port() { ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, runtime_key_path().c_str()); }

} // namespace quorvex::peer
