/* The Quorvex helper client, for C and for the languages that bind C: Electron (N-API or an FFI),
 * .NET (P/Invoke), Go (cgo), Rust. It makes sure that it talks to the installed helper service
 * before it sends a byte (the service runs, its process is alive, its port was published after
 * that process started, and the TCP table shows the listener and the accepted connection as the
 * service's), and it speaks the helper API over one keep-alive connection.
 *
 * Conventions
 *  - Every function that can fail returns a qvx_status: QVX_OK (0) or the kind of failure. After
 *    a failure, qvx_last_error() describes it.
 *  - Strings passed in are UTF-8 and end with a NUL.
 *  - Strings handed out through a char** are UTF-8, end with a NUL, belong to the caller once
 *    handed out, and are released with qvx_string_free(). On failure nothing is handed out and
 *    the char* is set to NULL.
 *  - No C++ exception crosses this interface.
 *  - Threads: a client may be used from any thread. Calls on one client are serialised (a call
 *    waits for the one in progress on that client); different clients are independent.
 *    qvx_last_error() reports the calling thread's last failure.
 */
#ifndef QUORVEX_HELPER_CLIENT_H
#define QUORVEX_HELPER_CLIENT_H

#include <stdint.h>

#ifdef QVX_BUILDING_DLL
#define QVX_API __declspec(dllexport)
#else
#define QVX_API __declspec(dllimport)
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The numbers are part of the interface: they never change meaning. */
typedef enum qvx_status {
    QVX_OK = 0,
    QVX_ERROR_INVALID_ARGUMENT = 1,          /* a NULL where a value is needed, a malformed digest or session ID */
    QVX_ERROR_SERVICE_NOT_INSTALLED = 2,     /* no QuorvexHelperService: install it */
    QVX_ERROR_SERVICE_NOT_RUNNING = 3,       /* installed, not running */
    QVX_ERROR_SERVICE_PROCESS_GONE = 4,      /* reported running, its process has ended */
    QVX_ERROR_NO_PORT_PUBLISHED = 5,         /* no port in the service's Runtime key */
    QVX_ERROR_STALE_PORT = 6,                /* the port was published by an earlier process */
    QVX_ERROR_NO_LISTENER = 7,               /* nothing listens on the published port */
    QVX_ERROR_LISTENER_NOT_HELPER = 8,       /* another process listens on the published port */
    QVX_ERROR_CONNECTION_NOT_HELPER = 9,     /* another process accepted the connection */
    QVX_ERROR_CONNECT_FAILED = 10,           /* the connection could not be made or broke */
    QVX_ERROR_CONNECTION_REFUSED = 11,       /* the helper serves another Windows account */
    QVX_ERROR_PROTOCOL_MISMATCH = 12,        /* the helper speaks another protocol version */
    QVX_ERROR_CORE_SHA256_MISMATCH = 13,     /* the helper expects another Core build */
    QVX_ERROR_CORE_FILE_UNAVAILABLE = 14,    /* the helper cannot open the Core file */
    QVX_ERROR_CORE_VERIFICATION_FAILED = 15, /* the Core file failed its digest check */
    QVX_ERROR_PROCESS_LAUNCH_FAILED = 16,    /* the Core could not be launched */
    QVX_ERROR_CORE_STOP_FAILED = 17,         /* the Core could not be stopped */
    QVX_ERROR_INVALID_REQUEST = 18,          /* the helper refused the request as malformed */
    QVX_ERROR_INTERNAL = 19,                 /* the helper failed internally */
    QVX_ERROR_UNEXPECTED_REPLY = 20,         /* a reply the API does not describe */
    QVX_ERROR_SYSTEM = 21,                   /* a system call in this process failed */
    QVX_ERROR_OUT_OF_MEMORY = 22
} qvx_status;

typedef enum qvx_stop_result {
    QVX_STOPPED = 0,         /* the Core of that session was stopped */
    QVX_NOT_RUNNING = 1,     /* no Core runs */
    QVX_SESSION_MISMATCH = 2 /* another session's Core runs: that session's Core was replaced */
} qvx_stop_result;

typedef struct qvx_client qvx_client;

/* A client with no connection yet. QVX_ERROR_SYSTEM when a system DLL the library needs cannot
 * be loaded from the system directory (the library never loads one through the host's search). */
QVX_API qvx_status qvx_client_create(qvx_client** client);
/* Closes the connection and frees the client; NULL is allowed. Call it only once no other
 * thread is in a call on this client or can start one: the caller, not the library, orders the
 * end of a client's use before its destruction. */
QVX_API void qvx_client_destroy(qvx_client* client);

/* The verified connect. Requests connect on their own; this says early whether they could. */
QVX_API qvx_status qvx_client_connect(qvx_client* client);
/* The helper's path and protocol version, for a helper that expects the Core whose SHA-256 is
 * core_sha256 (64 lowercase hexadecimal digits). Either out-parameter may be NULL. */
QVX_API qvx_status qvx_client_ping(qvx_client* client, const char* core_sha256, char** helper_path, char** protocol);
/* Starts the Core with a session ID and pipe address drawn from the system's cryptographic
 * generator. Keep the session ID: it is what stops this Core. Any out-parameter may be NULL. */
QVX_API qvx_status qvx_client_start(qvx_client* client, char** session_id, char** address, uint32_t* pid);
QVX_API qvx_status qvx_client_stop(qvx_client* client, const char* session_id, qvx_stop_result* result);
/* The helper's last 100 log lines, joined by line feeds. The Core's lines are passed on as it
 * wrote them, control characters included (escape them before showing them), except that each
 * NUL byte becomes U+FFFD (EF BF BD), so that the text ends only at its end. */
QVX_API qvx_status qvx_client_logs(qvx_client* client, char** text);

/* The calling thread's last failure: the failed step, then its causes, joined by ": ". NULL when
 * this thread has had no failure. Free it with qvx_string_free(). */
QVX_API char* qvx_last_error(void);
/* A constant name of a status ("QVX_ERROR_STALE_PORT"); not to be freed. */
QVX_API const char* qvx_status_name(qvx_status status);
/* Frees a string this library handed out; NULL is allowed. */
QVX_API void qvx_string_free(char* text);

#ifdef __cplusplus
}
#endif

#endif /* QUORVEX_HELPER_CLIENT_H */
