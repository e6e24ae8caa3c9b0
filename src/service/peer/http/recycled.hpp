#pragma once
// Asio's and Beast's composed operations keep their state in memory from the completion
// handler's allocator: the recycling one reuses the thread's cached blocks, where a coroutine's
// would use the heap.

#include <boost/asio/bind_allocator.hpp>
#include <boost/asio/recycling_allocator.hpp>

#include <utility>

namespace quorvex::http {

template <class Token>
auto recycled(Token token) {
    return boost::asio::bind_allocator(boost::asio::recycling_allocator<void>(), std::move(token));
}

} // namespace quorvex::http
