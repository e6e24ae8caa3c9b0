/* The C interface driven from C, against the installed helper under Wine.
 *
 *   c_api_test.exe <expected Core digest>       connect, ping, start, logs, stop, from two threads too
 *   c_api_test.exe --refused <status name>      the create or else the connect must fail with that status
 *   c_api_test.exe --logs-after-nul             the logs hold the stub Core's line with two NULs, each
 *                                               as U+FFFD, and what follows them
 *
 * Every string the library hands out is freed; prints a count and fails on any failed check. */
#include "client/c_api/quorvex_helper_client.h"

#include <winsock2.h>
#include <windows.h>

#include <stdio.h>
#include <string.h>

static int passed = 0;
static int failed = 0;

static void check(int ok, const char* what) {
    if (ok) {
        ++passed;
        return;
    }
    ++failed;
    char* error = qvx_last_error();
    (void)fprintf(stderr, "FAILED: %s (last error: %s)\n", what, error != NULL ? error : "none");
    qvx_string_free(error);
}

static int is_lowercase_hex(const char* text, size_t length) {
    if (text == NULL || strlen(text) != length) {
        return 0;
    }
    return strspn(text, "0123456789abcdef") == length;
}

static int last_error_contains(const char* part) {
    char* error = qvx_last_error();
    const int found = error != NULL && strstr(error, part) != NULL;
    qvx_string_free(error);
    return found;
}

/* Calls on one client from two threads at once are serialised by the client. */
static DWORD WINAPI read_logs(void* client) {
    for (int i = 0; i < 3; ++i) {
        char* text = NULL;
        if (qvx_client_logs((qvx_client*)client, &text) != QVX_OK) {
            return 1;
        }
        qvx_string_free(text);
    }
    return 0;
}

/* Counts the bound sockets this process holds (the library's open connection among them), and
 * those of them a child started with inheritance on would get. */
static void count_sockets(int* sockets, int* inheritable) {
    *sockets = 0;
    *inheritable = 0;
    for (UINT_PTR value = 4; value < 0x10000; value += 4) {
        struct sockaddr_in address;
        int length = sizeof address;
        if (getsockname((SOCKET)value, (struct sockaddr*)&address, &length) != 0) {
            continue;
        }
        ++*sockets;
        DWORD flags = 0;
        if (GetHandleInformation((HANDLE)value, &flags) // NOLINT(performance-no-int-to-ptr): a socket is a handle value
            && (flags & HANDLE_FLAG_INHERIT) != 0) {
            (void)fprintf(stderr, "inheritable socket %#llx (%s:%u)\n", (unsigned long long)value,
                          inet_ntoa(address.sin_addr), // NOLINT(concurrency-mt-unsafe): this test has one thread
                          ntohs(address.sin_port));
            ++*inheritable;
        }
    }
}

static void drive(const char* digest) {
    qvx_client* client = NULL;
    check(qvx_client_create(&client) == QVX_OK, "create");
    check(qvx_client_connect(client) == QVX_OK, "connect");

    /* The verified connection must not leak into the host's children. */
    int sockets = 0;
    int inheritable = 0;
    count_sockets(&sockets, &inheritable);
    check(sockets >= 1, "the connection is a socket of this process");
    check(inheritable == 0, "no socket of the library is inheritable");

    char* path = NULL;
    char* protocol = NULL;
    check(qvx_client_ping(client, digest, &path, &protocol) == QVX_OK, "ping");
    check(path != NULL && strstr(path, "QuorvexHelper.exe") != NULL, "ping names the helper's path");
    check(protocol != NULL && strcmp(protocol, "8") == 0, "ping names protocol 8");
    qvx_string_free(path);
    qvx_string_free(protocol);

    char other[65];
    memset(other, '0', 64);
    other[64] = '\0';
    check(qvx_client_ping(client, other, NULL, NULL) == QVX_ERROR_CORE_SHA256_MISMATCH, "ping another Core");
    check(last_error_contains("Core SHA256 mismatch"), "the mismatch's text");
    check(qvx_client_ping(client, "ABC", NULL, NULL) == QVX_ERROR_INVALID_ARGUMENT, "a malformed digest");
    check(qvx_client_ping(client, NULL, NULL, NULL) == QVX_ERROR_INVALID_ARGUMENT, "a NULL digest");

    char* session = NULL;
    char* address = NULL;
    uint32_t pid = 0;
    check(qvx_client_start(client, &session, &address, &pid) == QVX_OK, "start");
    check(is_lowercase_hex(session, 32), "start draws a session ID");
    check(address != NULL && strncmp(address, "\\\\.\\pipe\\QuorvexCore_", 21) == 0 &&
              is_lowercase_hex(address + 21, 32),
          "start draws a pipe address");
    check(pid != 0, "start names the Core's process");

    /* The Core writes its pipe's name when it listens: poll the logs for it. */
    int logged = 0;
    for (int attempt = 0; attempt < 50 && !logged && address != NULL; ++attempt) {
        char* text = NULL;
        if (qvx_client_logs(client, &text) == QVX_OK && strstr(text, address) != NULL) {
            logged = 1;
        }
        qvx_string_free(text);
        if (!logged) {
            Sleep(200);
        }
    }
    check(logged, "the logs show the Core listening on the drawn address");

    HANDLE threads[2];
    for (int i = 0; i < 2; ++i) {
        threads[i] = CreateThread(NULL, 0, read_logs, client, 0, NULL);
    }
    WaitForMultipleObjects(2, threads, TRUE, INFINITE);
    for (int i = 0; i < 2; ++i) {
        DWORD code = 1;
        GetExitCodeThread(threads[i], &code);
        check(code == 0, "logs from two threads at once");
        CloseHandle(threads[i]);
    }

    qvx_stop_result result = QVX_STOPPED;
    check(qvx_client_stop(client, "fedcba9876543210fedcba9876543210", &result) == QVX_OK &&
              result == QVX_SESSION_MISMATCH,
          "stop with another session");
    check(qvx_client_stop(client, session != NULL ? session : "", &result) == QVX_OK && result == QVX_STOPPED, "stop");
    check(qvx_client_stop(client, session != NULL ? session : "", &result) == QVX_OK && result == QVX_NOT_RUNNING,
          "stop again");
    check(qvx_client_stop(client, "0123", &result) == QVX_ERROR_INVALID_ARGUMENT, "a malformed session ID");
    qvx_string_free(session);
    qvx_string_free(address);

    check(qvx_client_logs(NULL, &path) == QVX_ERROR_INVALID_ARGUMENT && path == NULL, "a NULL client");
    check(qvx_client_logs(client, NULL) == QVX_ERROR_INVALID_ARGUMENT, "no place for the logs");
    check(qvx_client_create(NULL) == QVX_ERROR_INVALID_ARGUMENT, "no place for a client");
    qvx_client_destroy(client);
    qvx_client_destroy(NULL);
}

static void expect_refused(const char* status_name) {
    qvx_client* client = NULL;
    const qvx_status created = qvx_client_create(&client);
    const qvx_status status = created == QVX_OK ? qvx_client_connect(client) : created;
    if (strcmp(qvx_status_name(status), status_name) != 0) {
        (void)fprintf(stderr, "connect gave %s, expected %s\n", qvx_status_name(status), status_name);
    }
    check(strcmp(qvx_status_name(status), status_name) == 0, "connect refuses with the expected status");
    char* logs = NULL;
    check(client == NULL || (qvx_client_logs(client, &logs) == status && logs == NULL),
          "a request refuses the same way");
    char* error = qvx_last_error();
    if (error != NULL) {
        printf("%s: %s\n", qvx_status_name(status), error);
    }
    qvx_string_free(error);
    qvx_client_destroy(client);
}

static void expect_logs_after_nul(void) {
    qvx_client* client = NULL;
    check(qvx_client_create(&client) == QVX_OK, "create");
    char* text = NULL;
    check(qvx_client_logs(client, &text) == QVX_OK, "logs");
    check(text != NULL && strstr(text, "nul\xEF\xBF\xBDin\xEF\xBF\xBDthe line\n") != NULL,
          "each NUL is U+FFFD and the line goes on after it");
    check(text != NULL && strstr(text, "\x1b[31mred") != NULL, "the lines after it are there too");
    qvx_string_free(text);
    qvx_client_destroy(client);
}

int main(int argc, char** argv) {
    WSADATA winsock;
    if (WSAStartup(MAKEWORD(2, 2), &winsock) != 0) {
        (void)fputs("WSAStartup failed\n", stderr);
        return 1;
    }
    if (argc == 2 && strcmp(argv[1], "--logs-after-nul") == 0) {
        expect_logs_after_nul();
    } else if (argc == 2) {
        drive(argv[1]);
    } else if (argc == 3 && strcmp(argv[1], "--refused") == 0) {
        expect_refused(argv[2]);
    } else {
        (void)fputs("usage: c_api_test.exe <Core digest> | --refused <status name> | --logs-after-nul\n", stderr);
        return 2;
    }
    printf("c_api_test: %d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
