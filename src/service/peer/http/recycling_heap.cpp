#include "service/peer/http/recycling_heap.hpp"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

namespace quorvex::http {
namespace {

// Every block starts with its size class, so free() and realloc() need no size; 16 bytes keep
// the block as aligned as malloc's.
constexpr std::size_t BLOCK_HEADER = 16;
constexpr std::size_t LARGE = ~std::size_t{0};

} // namespace

RecyclingHeap::~RecyclingHeap() {
    for (FreeBlock* head : free_) {
        while (head != nullptr) {
            FreeBlock* next = head->next;
            std::free(reinterpret_cast<char*>(head) - BLOCK_HEADER);
            head = next;
        }
    }
}

void* RecyclingHeap::allocate_block(std::size_t size) {
    std::size_t size_class = 0;
    while (size_class < CLASSES && (SMALLEST << size_class) < size) {
        ++size_class;
    }
    if (size_class == CLASSES) {
        if (size > SIZE_MAX - BLOCK_HEADER) {
            return nullptr;
        }
        auto* raw = static_cast<char*>(std::malloc(BLOCK_HEADER + size));
        if (raw == nullptr) {
            return nullptr;
        }
        std::memcpy(raw, &LARGE, sizeof LARGE);
        return raw + BLOCK_HEADER;
    }
    if (FreeBlock* block = free_[size_class]; block != nullptr) {
        free_[size_class] = block->next;
        kept_bytes_ -= SMALLEST << size_class;
        return block;
    }
    auto* raw = static_cast<char*>(std::malloc(BLOCK_HEADER + (SMALLEST << size_class)));
    if (raw == nullptr) {
        return nullptr;
    }
    std::memcpy(raw, &size_class, sizeof size_class);
    return raw + BLOCK_HEADER;
}

void RecyclingHeap::free_block(void* block) noexcept {
    if (block == nullptr) {
        return;
    }
    char* raw = static_cast<char*>(block) - BLOCK_HEADER;
    std::size_t size_class = 0;
    std::memcpy(&size_class, raw, sizeof size_class);
    if (size_class == LARGE || kept_bytes_ + (SMALLEST << size_class) > KEPT_BYTES_LIMIT) {
        std::free(raw);
        return;
    }
    kept_bytes_ += SMALLEST << size_class;
    free_[size_class] = new (block) FreeBlock{free_[size_class]};
}

void* RecyclingHeap::reallocate_block(void* block, std::size_t size) {
    if (block == nullptr) {
        return allocate_block(size);
    }
    if (size == 0) {
        free_block(block);
        return nullptr;
    }
    char* raw = static_cast<char*>(block) - BLOCK_HEADER;
    std::size_t size_class = 0;
    std::memcpy(&size_class, raw, sizeof size_class);
    if (size_class == LARGE) {
        if (size > SIZE_MAX - BLOCK_HEADER) {
            return nullptr;
        }
        auto* grown = static_cast<char*>(std::realloc(raw, BLOCK_HEADER + size));
        return grown == nullptr ? nullptr : grown + BLOCK_HEADER;
    }
    const std::size_t capacity = SMALLEST << size_class;
    if (size <= capacity) {
        return block;
    }
    void* moved = allocate_block(size);
    if (moved != nullptr) {
        std::memcpy(moved, block, capacity);
        free_block(block);
    }
    return moved;
}

void* RecyclingHeap::do_allocate(std::size_t bytes, std::size_t alignment) {
    if (alignment > BLOCK_HEADER) {
        throw std::bad_alloc();
    }
    void* block = allocate_block(bytes);
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    return block;
}

void RecyclingHeap::do_deallocate(void* block, std::size_t, std::size_t) { free_block(block); }

} // namespace quorvex::http
