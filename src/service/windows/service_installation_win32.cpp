#include "service/windows/service_installation.hpp"

namespace quorvex::service {

Result<void> install_helper_service(std::uint32_t) {
    return fail(Error::message("installation is not built into this executable yet"));
}

Result<void> uninstall_helper_service() {
    return fail(Error::message("installation is not built into this executable yet"));
}

} // namespace quorvex::service
