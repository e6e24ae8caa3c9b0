#include "client/client_error.hpp"

#include "client/client_error_table.hpp"

namespace quorvex::client {

std::string_view kind_name(ClientErrorKind kind) { return row_of(kind).json_name; }

} // namespace quorvex::client
