# The libFuzzer build (preset "fuzz", clang-14): the portable libraries instrumented with
# fuzzer-no-link, ASan and UBSan, and one fuzz target per parser of untrusted input.
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "the fuzz build needs clang (configure with --preset fuzz)")
endif()

# libstdc++ 12 offers <expected> only to compilers with the conditionally trivial special
# members of C++20 (P0848), which clang 14 lacks. This build gets a copy of the header whose
# special members are the plain non-trivial ones: the same semantics, never trivially copyable.
set(_expected_in /usr/include/c++/12/expected)
set(_compat ${CMAKE_BINARY_DIR}/clang14-compat)
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
file(WRITE ${_compat}/expected "${_expected}")
include_directories(BEFORE SYSTEM ${_compat})

# Optimised a little, so the targets run fast, but with assertions (Debug keeps them on).
# UBSan's function-type check is left out: clang 14 cannot emit its prologue data for the split
# functions of coroutines ("Cannot represent a difference across sections").
set(QUORVEX_FUZZ_SANITIZERS -fno-sanitize=function -fno-sanitize-recover=all -fno-omit-frame-pointer)
add_compile_options(-O1 -fsanitize=fuzzer-no-link,address,undefined ${QUORVEX_FUZZ_SANITIZERS})
add_link_options(-fsanitize=address,undefined)

# One fuzz target, and its smoke run as a ctest test: QUORVEX_FUZZ_SMOKE_SECONDS from its seeds.
set(QUORVEX_FUZZ_SMOKE_SECONDS 20 CACHE STRING "Length of each fuzz target's smoke run under ctest")
function(quorvex_add_fuzz_target name)
  cmake_parse_arguments(F "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${F_SOURCES})
  # address and undefined come from the directory options above; fuzzer adds libFuzzer.
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${name} PRIVATE ${F_LIBS})
  add_test(NAME ${name}
           COMMAND bash ${PROJECT_SOURCE_DIR}/tests/fuzz/run_fuzz_target.sh $<TARGET_FILE:${name}>
                   ${CMAKE_CURRENT_SOURCE_DIR}/${name}/seeds ${CMAKE_BINARY_DIR}/smoke/${name}
                   ${QUORVEX_FUZZ_SMOKE_SECONDS})
  set_tests_properties(${name} PROPERTIES TIMEOUT 300)
endfunction()
