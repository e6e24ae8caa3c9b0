// The C interface when memory runs out: every entry point returns a status and the thread's
// last error says what it can; no exception reaches the host, whose std::terminate would end it.
// The interface is linked into this test as it is into the DLL, with operator new replaced.

#include "client/c_api/quorvex_helper_client.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<bool> refusing{false};

} // namespace

void* operator new(std::size_t size) {
    if (!refusing) {
        if (void* memory = std::malloc(size == 0 ? 1 : size)) {
            return memory;
        }
    }
    throw std::bad_alloc();
}
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }

namespace {

struct LastError {
    LastError() : text(qvx_last_error()) {}
    ~LastError() { qvx_string_free(text); }
    LastError(const LastError&) = delete;
    LastError& operator=(const LastError&) = delete;
    char* text;
};

TEST(CInterfaceOutOfMemory, EveryCallReturnsAStatus) {
    qvx_client* client = nullptr;
    refusing = true;
    EXPECT_EQ(qvx_client_create(&client), QVX_ERROR_OUT_OF_MEMORY);
    EXPECT_EQ(client, nullptr);
    refusing = false;
    ASSERT_EQ(qvx_client_create(&client), QVX_OK);

    refusing = true;
    const qvx_status connected = qvx_client_connect(client);
    char* text = nullptr;
    const qvx_status logs = qvx_client_logs(client, &text);
    // The refusal's own text does not fit in a string's inline buffer: it cannot be kept.
    const qvx_status refused = qvx_client_stop(client, nullptr, nullptr);
    refusing = false;
    EXPECT_EQ(connected, QVX_ERROR_OUT_OF_MEMORY);
    EXPECT_EQ(logs, QVX_ERROR_OUT_OF_MEMORY);
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(refused, QVX_ERROR_INVALID_ARGUMENT);
    const LastError lost;
    ASSERT_NE(lost.text, nullptr);
    EXPECT_STREQ(lost.text, "out of memory (the failure's description could not be kept)");

    // With memory again, the same client works as before.
    EXPECT_EQ(qvx_client_stop(client, nullptr, nullptr), QVX_ERROR_INVALID_ARGUMENT);
    const LastError kept;
    ASSERT_NE(kept.text, nullptr);
    EXPECT_STREQ(kept.text, "the session ID or the result is NULL");
    qvx_client_destroy(client);
}

} // namespace
