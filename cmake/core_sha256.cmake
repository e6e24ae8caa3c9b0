# Writes the definition of EXPECTED_CORE_SHA256 (run with cmake -P at build time).
#   DIGEST     the digest itself, or
#   CORE_FILE  the Core file whose digest is taken
#   OUTPUT     the .cpp file to write; rewritten only when the digest changes
if(DEFINED CORE_FILE AND NOT CORE_FILE STREQUAL "")
  file(SHA256 "${CORE_FILE}" DIGEST)
endif()
string(TOLOWER "${DIGEST}" DIGEST)
string(LENGTH "${DIGEST}" length)
if(NOT DIGEST MATCHES "^[0-9a-f]+$" OR NOT length EQUAL 64)
  message(FATAL_ERROR "Core digest must be 64 hexadecimal digits, got '${DIGEST}'")
endif()
set(content "// Generated at build time by cmake/core_sha256.cmake.
#include \"common/helper_contract.hpp\"

namespace quorvex {

const std::string_view EXPECTED_CORE_SHA256 = \"${DIGEST}\";

} // namespace quorvex
")
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" old)
endif()
if(NOT old STREQUAL content)
  file(WRITE "${OUTPUT}" "${content}")
endif()
