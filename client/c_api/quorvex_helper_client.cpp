// The C interface over HelperClient: statuses for kinds, strings the caller frees with the
// library's own free, and every exception stopped here.

#include "client/c_api/quorvex_helper_client.h"

#include "client/client_error_table.hpp"
#include "client/helper_client.hpp"
#include "client/log_text.hpp"
#include "platform/win32/system_dlls.hpp"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <optional>
#include <string>

struct qvx_client {
    std::mutex mutex;
    quorvex::client::HelperClient client;
};

namespace {

using quorvex::client::ClientError;
using quorvex::client::ClientErrorKind;

thread_local std::optional<std::string> last_error;
// Set when a failure's text could not be kept for want of memory.
thread_local bool last_error_lost = false;
constexpr std::string_view LOST_ERROR_TEXT = "out of memory (the failure's description could not be kept)";

// The table's numbers are this header's: its first and last rows pin the two ends.
static_assert(quorvex::client::row_of(ClientErrorKind::InvalidArgument).c_status == QVX_ERROR_INVALID_ARGUMENT);
static_assert(quorvex::client::row_of(ClientErrorKind::SystemError).c_status == QVX_ERROR_SYSTEM);

qvx_status status_of(ClientErrorKind kind) { return static_cast<qvx_status>(quorvex::client::row_of(kind).c_status); }

// Never throws: it runs outside any try, and in the catch blocks of guarded.
qvx_status failed(qvx_status status, std::string_view text) noexcept {
    try {
        last_error.emplace(text);
        last_error_lost = false;
    } catch (...) {
        last_error.reset();
        last_error_lost = true;
    }
    return status;
}

qvx_status failed(const ClientError& error) {
    std::string text;
    for (const std::string& link : error.error.links()) {
        text += (text.empty() ? "" : ": ") + link;
    }
    return failed(status_of(error.kind), text);
}

// A copy the caller frees with qvx_string_free; null when there is no memory.
char* copied(std::string_view text) noexcept {
    char* copy = static_cast<char*>(std::malloc(text.size() + 1));
    if (copy != nullptr) {
        std::memcpy(copy, text.data(), text.size());
        copy[text.size()] = '\0';
    }
    return copy;
}

// As copied; bad_alloc when there is no memory, for guarded to turn into a status.
char* handed_out(std::string_view text) {
    char* copy = copied(text);
    if (copy == nullptr) {
        throw std::bad_alloc();
    }
    return copy;
}

// Runs `body` under the client's lock; turns any exception into a status.
template <class Body>
qvx_status guarded(qvx_client* client, Body&& body) noexcept {
    if (client == nullptr) {
        return failed(QVX_ERROR_INVALID_ARGUMENT, "the client is NULL");
    }
    try {
        const std::lock_guard lock(client->mutex);
        return body(client->client);
    } catch (const std::bad_alloc&) {
        return failed(QVX_ERROR_OUT_OF_MEMORY, "out of memory");
    } catch (const std::exception& error) {
        return failed(QVX_ERROR_SYSTEM, error.what());
    } catch (...) {
        return failed(QVX_ERROR_SYSTEM, "unknown failure");
    }
}

// Out-parameters are cleared first, so that nothing stale is left on failure.
void clear(char** out) {
    if (out != nullptr) {
        *out = nullptr;
    }
}

} // namespace

extern "C" {

qvx_status qvx_client_create(qvx_client** client) {
    if (client == nullptr) {
        return failed(QVX_ERROR_INVALID_ARGUMENT, "no place for the client");
    }
    *client = nullptr;
    try {
        // A system DLL that cannot load from the system directory fails here, before a
        // delay-loaded call could fall back to the host's search order.
        if (const auto loaded = quorvex::win32::load_delay_loaded_dlls(); !loaded) {
            return failed(ClientError{ClientErrorKind::SystemError, loaded.error()});
        }
        *client = new qvx_client();
        return QVX_OK;
    } catch (...) {
        return failed(QVX_ERROR_OUT_OF_MEMORY, "out of memory");
    }
}

void qvx_client_destroy(qvx_client* client) { delete client; }

qvx_status qvx_client_connect(qvx_client* client) {
    return guarded(client, [](quorvex::client::HelperClient& helper) {
        const auto connected = helper.connect();
        return connected ? QVX_OK : failed(connected.error());
    });
}

qvx_status qvx_client_ping(qvx_client* client, const char* core_sha256, char** helper_path, char** protocol) {
    clear(helper_path);
    clear(protocol);
    if (core_sha256 == nullptr) {
        return failed(QVX_ERROR_INVALID_ARGUMENT, "the Core digest is NULL");
    }
    return guarded(client, [&](quorvex::client::HelperClient& helper) {
        const auto ping = helper.ping(core_sha256);
        if (!ping) {
            return failed(ping.error());
        }
        // Both or neither: a second allocation that fails takes the first back.
        char* path = helper_path != nullptr ? handed_out(ping->helper_path) : nullptr;
        try {
            if (protocol != nullptr) {
                *protocol = handed_out(ping->protocol);
            }
        } catch (...) {
            std::free(path);
            throw;
        }
        if (helper_path != nullptr) {
            *helper_path = path;
        }
        return QVX_OK;
    });
}

qvx_status qvx_client_start(qvx_client* client, char** session_id, char** address, uint32_t* pid) {
    clear(session_id);
    clear(address);
    if (pid != nullptr) {
        *pid = 0;
    }
    return guarded(client, [&](quorvex::client::HelperClient& helper) {
        const auto started = helper.start();
        if (!started) {
            return failed(started.error());
        }
        char* session = session_id != nullptr ? handed_out(started->session_id) : nullptr;
        try {
            if (address != nullptr) {
                *address = handed_out(started->address);
            }
        } catch (...) {
            std::free(session);
            throw;
        }
        if (session_id != nullptr) {
            *session_id = session;
        }
        if (pid != nullptr) {
            *pid = started->pid;
        }
        return QVX_OK;
    });
}

qvx_status qvx_client_stop(qvx_client* client, const char* session_id, qvx_stop_result* result) {
    if (session_id == nullptr || result == nullptr) {
        return failed(QVX_ERROR_INVALID_ARGUMENT, "the session ID or the result is NULL");
    }
    return guarded(client, [&](quorvex::client::HelperClient& helper) {
        const auto stopped = helper.stop(session_id);
        if (!stopped) {
            return failed(stopped.error());
        }
        switch (*stopped) {
        case quorvex::client::StopResult::Stopped:
            *result = QVX_STOPPED;
            break;
        case quorvex::client::StopResult::NotRunning:
            *result = QVX_NOT_RUNNING;
            break;
        case quorvex::client::StopResult::SessionMismatch:
            *result = QVX_SESSION_MISMATCH;
            break;
        }
        return QVX_OK;
    });
}

qvx_status qvx_client_logs(qvx_client* client, char** text) {
    clear(text);
    if (text == nullptr) {
        return failed(QVX_ERROR_INVALID_ARGUMENT, "no place for the logs");
    }
    return guarded(client, [&](quorvex::client::HelperClient& helper) {
        const auto logs = helper.logs();
        if (!logs) {
            return failed(logs.error());
        }
        *text = handed_out(quorvex::client::log_text_without_nul(*logs));
        return QVX_OK;
    });
}

char* qvx_last_error(void) {
    if (last_error) {
        return copied(*last_error);
    }
    return last_error_lost ? copied(LOST_ERROR_TEXT) : nullptr;
}

const char* qvx_status_name(qvx_status status) {
    switch (status) {
    case QVX_OK:
        return "QVX_OK";
    case QVX_ERROR_OUT_OF_MEMORY:
        return "QVX_ERROR_OUT_OF_MEMORY";
    default:
        break;
    }
    for (const auto& row : quorvex::client::CLIENT_ERROR_ROWS) {
        if (row.c_status == static_cast<std::uint32_t>(status)) {
            return row.c_name.data(); // each name is a literal: terminated
        }
    }
    return "QVX_UNKNOWN_STATUS";
}

void qvx_string_free(char* text) { std::free(text); }

} // extern "C"
