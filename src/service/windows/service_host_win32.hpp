#pragma once
// The service main callback that the dispatcher table names.

#include <windows.h>

namespace quorvex::service {

// Reads SERVICE_OWNER, runs the service with the real SCM, runtime and helper server, and
// returns once the stopped report has been sent. Start arguments are ignored.
void WINAPI helper_service_main(DWORD argc, LPWSTR* argv);

} // namespace quorvex::service
