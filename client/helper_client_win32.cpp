#include "client/helper_client.hpp"

#include "client/helper_connection_win32.hpp"
#include "client/session_tokens.hpp"

namespace quorvex::client {
namespace {

namespace http = boost::beast::http;

} // namespace

HelperClient::HelperClient() : system_(win32_helper_system()) {}
HelperClient::~HelperClient() = default;
HelperClient::HelperClient(HelperClient&&) noexcept = default;
HelperClient& HelperClient::operator=(HelperClient&&) noexcept = default;

ClientResult<HelperEndpoint> HelperClient::connect() {
    if (connection_ && connection_->reusable()) {
        return endpoint_;
    }
    connection_.reset();
    auto endpoint = locate_helper_service(*system_);
    if (!endpoint) {
        return std::unexpected(std::move(endpoint.error()));
    }
    auto connection = HelperConnection::open(*endpoint, *system_);
    if (!connection) {
        return std::unexpected(std::move(connection.error()));
    }
    connection_ = std::move(*connection);
    endpoint_ = *endpoint;
    return endpoint_;
}

void HelperClient::disconnect() { connection_.reset(); }

ClientResult<HttpReply> HelperClient::request(Method method, std::string_view target, const std::string& body) {
    // A used connection that the helper closed while idle fails before any reply: once, the
    // request goes again over a new connection, verified like the first.
    for (int attempt = 0;; ++attempt) {
        if (auto connected = connect(); !connected) {
            return std::unexpected(std::move(connected.error()));
        }
        const bool was_used = connection_->used();
        auto reply = connection_->exchange(method == Method::Get ? http::verb::get : http::verb::post, target, body);
        if (reply) {
            if (!connection_->reusable()) {
                connection_.reset();
            }
            return std::move(*reply);
        }
        connection_.reset();
        if (reply.error().malformed) {
            return fail(ClientErrorKind::UnexpectedReply,
                        std::move(reply.error().error).context("the helper's reply is not one the API describes"));
        }
        if (reply.error().before_reply && was_used && attempt == 0) {
            continue;
        }
        if (reply.error().before_reply && !was_used) {
            return fail(ClientErrorKind::ConnectionRefused,
                        std::move(reply.error().error)
                            .context("the helper closed the connection without a reply: it serves another account "
                                     "than this process's (install it again for this user)"));
        }
        return fail(ClientErrorKind::ConnectFailed,
                    std::move(reply.error().error).context("the connection to the helper broke"));
    }
}

ClientResult<PingReply> HelperClient::ping(std::string_view core_sha256) {
    if (auto valid = check_core_sha256(core_sha256); !valid) {
        return std::unexpected(std::move(valid.error()));
    }
    const auto reply = request(Method::Get, "/ping?coreSha256=" + std::string(core_sha256), {});
    if (!reply) {
        return std::unexpected(reply.error());
    }
    return ping_result(*reply);
}

ClientResult<StartedCore> HelperClient::start() {
    auto tokens = draw_session_tokens();
    if (!tokens) {
        return std::unexpected(std::move(tokens.error()));
    }
    const auto reply = request(Method::Post, "/start", start_body(tokens->address, tokens->session_id));
    if (!reply) {
        return std::unexpected(reply.error());
    }
    auto started = start_result(*reply);
    if (!started) {
        return std::unexpected(std::move(started.error()));
    }
    if (started->session_id != tokens->session_id) {
        return fail(
            ClientErrorKind::UnexpectedReply,
            Error::message("the helper started session " + started->session_id + ", not " + tokens->session_id));
    }
    return StartedCore{std::move(tokens->session_id), std::move(tokens->address), started->pid};
}

ClientResult<StopResult> HelperClient::stop(std::string_view session_id) {
    if (auto valid = check_session_id(session_id); !valid) {
        return std::unexpected(std::move(valid.error()));
    }
    const auto reply = request(Method::Post, "/stop", stop_body(session_id));
    if (!reply) {
        return std::unexpected(reply.error());
    }
    return stop_result(*reply);
}

ClientResult<std::string> HelperClient::logs() {
    const auto reply = request(Method::Get, "/logs", {});
    if (!reply) {
        return std::unexpected(reply.error());
    }
    return logs_result(*reply);
}

} // namespace quorvex::client
