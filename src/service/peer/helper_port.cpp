#include "service/peer/helper_port.hpp"

namespace quorvex::peer {

// The portable listener, for native tests and benchmarks of the real run loop and transport.
Result<boost::asio::ip::tcp::acceptor> open_loopback_listener(const boost::asio::any_io_executor& executor) {
    using boost::asio::ip::tcp;
    tcp::acceptor acceptor(executor);
    boost::system::error_code error;
    acceptor.open(tcp::v4(), error);
    if (!error) {
        acceptor.bind({boost::asio::ip::address_v4::loopback(), 0}, error);
    }
    if (!error) {
        acceptor.listen(LISTEN_BACKLOG, error);
    }
    if (error) {
        return fail(Error::os(error.value(), error.message()));
    }
    return acceptor;
}

} // namespace quorvex::peer
