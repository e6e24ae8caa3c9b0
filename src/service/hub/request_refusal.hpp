#pragma once
// Why a request was not served, and the one error reply that the refusals of all routes tried
// turn into.

#include "service/hub/request_handler.hpp"

#include <bitset>

namespace quorvex::hub {

// In the order the recovery step tests them: the first one found gives the reply.
enum class Refusal {
    no_such_route, // the path did not match; gives way to every other refusal
    gate_refusal,
    invalid_ping_query,
    invalid_json_body,
    body_too_large,
    length_required,
    invalid_header,
    wrong_method,
    unsupported_media_type,
    body_read_failure,
};

// The refusals left behind by the routes of one request.
class Refusals {
public:
    void add(Refusal refusal) { found_.set(static_cast<std::size_t>(refusal)); }
    // The reply for the first refusal in recovery order, other than a path mismatch; "not
    // found" when every route refused on its path (or none was tried).
    [[nodiscard]] http::Reply recover() const;

private:
    static constexpr std::size_t COUNT = static_cast<std::size_t>(Refusal::body_read_failure) + 1;
    std::bitset<COUNT> found_;
};

// The reply that recovery gives for one refusal.
[[nodiscard]] http::Reply refusal_reply(Refusal refusal);

} // namespace quorvex::hub
