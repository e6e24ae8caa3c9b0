#include "client/ctl/doctor_advice.hpp"

#include "client/client_error_table.hpp"

namespace quorvex::client::ctl {

std::string_view advice_for(ClientErrorKind kind) { return row_of(kind).advice; }

} // namespace quorvex::client::ctl
