# Writes ${QUORVEX_CLANG14_COMPAT}/expected, for clang 14 over libstdc++ 12: included by the fuzz
# build, and run as a script by the clang-tidy step of scripts/test:
#   cmake -DQUORVEX_CLANG14_COMPAT=<dir> -P cmake/clang14_expected.cmake
if(NOT QUORVEX_CLANG14_COMPAT)
  message(FATAL_ERROR "set QUORVEX_CLANG14_COMPAT to the folder that receives the copy of <expected>")
endif()

# libstdc++ 12 offers <expected> only to compilers with the conditionally trivial special
# members of C++20 (P0848), which clang 14 lacks. clang 14 gets a copy of the header whose
# special members are the plain non-trivial ones: the same semantics, never trivially copyable.
set(_expected_in /usr/include/c++/12/expected)
file(READ ${_expected_in} _expected)
string(REPLACE "__cpp_concepts >= 202002L" "__cpp_concepts >= 201907L" _expected "${_expected}")
foreach(_defaulted "expected(const expected&) = default;" "expected(expected&&) = default;"
                   "constexpr ~expected() = default;")
  string(REPLACE "      ${_defaulted}\n" "" _expected "${_expected}")
endforeach()
string(REGEX REPLACE "\n[ \t]*&& \\(!is_trivially_(copy|move)_constructible_v<_Tp>\n[ \t]*\\|\\| !is_trivially_(copy|move)_constructible_v<_Er>\\)"
       "" _expected "${_expected}")
string(REGEX REPLACE "\n[ \t]*&& \\(!is_trivially_(copy|move)_constructible_v<_Er>\\)" "" _expected "${_expected}")
string(REGEX REPLACE "constexpr ~expected\\(\\)\n[ \t]*requires \\(!is_trivially_destructible_v<_Tp>\\)\n[ \t]*\\|\\| \\(!is_trivially_destructible_v<_Er>\\)"
       "constexpr ~expected()" _expected "${_expected}")
string(REPLACE "constexpr ~expected() requires (!is_trivially_destructible_v<_Er>)" "constexpr ~expected()"
       _expected "${_expected}")
if(_expected MATCHES "expected\\((const )?expected&+\\) = default|~expected\\(\\) = default|requires \\(!is_trivially_destructible")
  message(FATAL_ERROR "${_expected_in} changed: clang14-compat/expected could not be made")
endif()
file(WRITE ${QUORVEX_CLANG14_COMPAT}/expected "${_expected}")
