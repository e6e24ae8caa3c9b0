# The libFuzzer build (preset "fuzz", clang-14): the portable libraries instrumented with
# fuzzer-no-link, ASan and UBSan, and one fuzz target per parser of untrusted input.
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "the fuzz build needs clang (configure with --preset fuzz)")
endif()

# clang 14 reads libstdc++ 12's <expected> only through a patched copy (cmake/clang14_expected.cmake).
set(QUORVEX_CLANG14_COMPAT ${CMAKE_BINARY_DIR}/clang14-compat)
include(${CMAKE_CURRENT_LIST_DIR}/clang14_expected.cmake)
include_directories(BEFORE SYSTEM ${QUORVEX_CLANG14_COMPAT})

# Optimised a little, so the targets run fast, but with assertions (Debug keeps them on).
# UBSan's function-type check is left out: clang 14 cannot emit its prologue data for the split
# functions of coroutines ("Cannot represent a difference across sections").
set(QUORVEX_FUZZ_SANITIZERS -fno-sanitize=function -fno-sanitize-recover=all -fno-omit-frame-pointer)
add_compile_options(-O1 -fsanitize=fuzzer-no-link,address,undefined ${QUORVEX_FUZZ_SANITIZERS})
add_link_options(-fsanitize=address,undefined)

# One fuzz target, and its run as a ctest test: every committed input, then an exploration of
# RUNS executions in all (QUORVEX_FUZZ_RUNS unless the target names its own) from a fixed seed,
# so the same commit gives the same result on any machine. Campaigns from random seeds are
# scripts/fuzz's.
set(QUORVEX_FUZZ_RUNS 30000 CACHE STRING "Executions of a fuzz target's run under ctest")
function(quorvex_add_fuzz_target name)
  cmake_parse_arguments(F "" "RUNS" "SOURCES;LIBS" ${ARGN})
  if(NOT F_RUNS)
    set(F_RUNS ${QUORVEX_FUZZ_RUNS})
  endif()
  add_executable(${name} ${F_SOURCES})
  # address and undefined come from the directory options above; fuzzer adds libFuzzer.
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${name} PRIVATE ${F_LIBS})
  add_test(NAME ${name}
           COMMAND bash ${PROJECT_SOURCE_DIR}/tests/fuzz/run_fuzz_target.sh $<TARGET_FILE:${name}>
                   ${CMAKE_CURRENT_SOURCE_DIR}/${name} ${CMAKE_BINARY_DIR}/smoke/${name}
                   --runs ${F_RUNS})
  set_tests_properties(${name} PROPERTIES TIMEOUT 600)
endfunction()
