#pragma once
// A route the handler chose from a request head, still to run: given the head and the body
// reader, it yields the reply. The transport runs it without knowing what it is. Move-only, and
// held inline: choosing a route costs no allocation of its own.

#include "service/peer/http/http_message.hpp"

#include <boost/asio/awaitable.hpp>

#include <concepts>
#include <cstddef>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>

namespace quorvex::http {

class PendingRoute {
public:
    // Room for a pointer to the handler and one string taken from the head.
    static constexpr std::size_t INLINE_SIZE = 48;

    template <class Route>
        requires(!std::same_as<std::remove_cvref_t<Route>, PendingRoute> &&
                 std::is_invocable_r_v<boost::asio::awaitable<Reply>, Route &&, RequestHead, BodyReader&>)
    // NOLINTNEXTLINE(bugprone-forwarding-reference-overload): the constraint excludes PendingRoute
    explicit PendingRoute(Route&& route) : operations_(&operations_of<std::remove_cvref_t<Route>>) {
        using Held = std::remove_cvref_t<Route>;
        static_assert(sizeof(Held) <= INLINE_SIZE && alignof(Held) <= alignof(std::max_align_t),
                      "a pending route is held inline");
        static_assert(std::is_nothrow_move_constructible_v<Held>);
        ::new (static_cast<void*>(storage_)) Held(std::forward<Route>(route));
    }
    PendingRoute(PendingRoute&& other) noexcept : operations_(other.operations_) {
        operations_->move_to(other.storage_, storage_);
    }
    PendingRoute& operator=(PendingRoute&& other) noexcept {
        if (this != &other) {
            operations_->destroy(storage_);
            operations_ = other.operations_;
            operations_->move_to(other.storage_, storage_);
        }
        return *this;
    }
    PendingRoute(const PendingRoute&) = delete;
    PendingRoute& operator=(const PendingRoute&) = delete;
    ~PendingRoute() { operations_->destroy(storage_); }

    // Runs the route once. The awaitable owns what it needs: this object may go before it runs.
    [[nodiscard]] boost::asio::awaitable<Reply> run(RequestHead head, BodyReader& body) && {
        return operations_->run(storage_, std::move(head), body);
    }

private:
    struct Operations {
        boost::asio::awaitable<Reply> (*run)(std::byte* route, RequestHead head, BodyReader& body);
        void (*move_to)(std::byte* from, std::byte* to) noexcept;
        void (*destroy)(std::byte* route) noexcept;
    };

    template <class Held>
    static Held& held(std::byte* storage) noexcept {
        return *std::launder(reinterpret_cast<Held*>(storage));
    }

    template <class Held>
    static constexpr Operations operations_of{
        .run = [](std::byte* route, RequestHead head,
                  BodyReader& body) { return std::move(held<Held>(route))(std::move(head), body); },
        .move_to = [](std::byte* from,
                      std::byte* to) noexcept { ::new (static_cast<void*>(to)) Held(std::move(held<Held>(from))); },
        .destroy = [](std::byte* route) noexcept { std::destroy_at(&held<Held>(route)); },
    };

    alignas(std::max_align_t) std::byte storage_[INLINE_SIZE];
    const Operations* operations_;
};

} // namespace quorvex::http
