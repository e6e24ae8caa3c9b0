#pragma once

#include <array>
#include <cstddef>
#include <memory_resource>

namespace quorvex::http {

// The heap of one session: nghttp2's allocations and the stream table come from here. Freed
// blocks are kept, up to a bound, for the next stream of the same connection, so a request in a
// steady stream of them allocates nothing from the process heap for its protocol state.
// Single-threaded, like the session.
class RecyclingHeap final : public std::pmr::memory_resource {
public:
    RecyclingHeap() = default;
    RecyclingHeap(const RecyclingHeap&) = delete;
    RecyclingHeap& operator=(const RecyclingHeap&) = delete;
    ~RecyclingHeap() override;

    // malloc, free and realloc with the size kept beside the block, as nghttp2 calls them.
    [[nodiscard]] void* allocate_block(std::size_t size);
    void free_block(void* block) noexcept;
    [[nodiscard]] void* reallocate_block(void* block, std::size_t size);

    // Bytes held in free blocks at most: a burst does not stay held after it.
    static constexpr std::size_t KEPT_BYTES_LIMIT = std::size_t{64} * 1024;

private:
    struct FreeBlock {
        FreeBlock* next;
    };
    // Size classes of 32 bytes to 4 KiB, doubling; larger blocks go straight to the heap.
    static constexpr std::size_t CLASSES = 8;
    static constexpr std::size_t SMALLEST = 32;

    void* do_allocate(std::size_t bytes, std::size_t alignment) override;
    void do_deallocate(void* block, std::size_t bytes, std::size_t alignment) override;
    [[nodiscard]] bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override {
        return this == &other;
    }

    std::array<FreeBlock*, CLASSES> free_{};
    std::size_t kept_bytes_ = 0;
};

} // namespace quorvex::http
