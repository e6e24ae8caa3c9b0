# Every dependency comes from Debian's packages (scripts/setup installs them):
#   Boost.Asio, Boost.Beast, Boost.JSON 1.81 (libboost1.81-dev, header-only)
#   nghttp2 (libnghttp2-dev natively; Debian's patched source built for MinGW by scripts/setup)
#   GoogleTest (libgtest-dev natively; /usr/src/googletest cross-built for Windows)
#   Google Benchmark (libbenchmark-dev, native only)
find_package(Threads REQUIRED)

# Boost headers: on a private include path, so the MinGW build never sees /usr/include itself.
set(QUORVEX_BOOST_INCLUDE ${CMAKE_BINARY_DIR}/boost-include)
if(NOT EXISTS ${QUORVEX_BOOST_INCLUDE}/boost)
  file(MAKE_DIRECTORY ${QUORVEX_BOOST_INCLUDE})
  file(CREATE_LINK /usr/include/boost ${QUORVEX_BOOST_INCLUDE}/boost SYMBOLIC)
endif()
add_library(quorvex_boost INTERFACE)
target_include_directories(quorvex_boost SYSTEM INTERFACE ${QUORVEX_BOOST_INCLUDE})
target_compile_definitions(quorvex_boost INTERFACE
  BOOST_ASIO_NO_DEPRECATED BOOST_BEAST_USE_STD_STRING_VIEW BOOST_JSON_NO_LIB BOOST_CONTAINER_NO_LIB)
target_link_libraries(quorvex_boost INTERFACE Threads::Threads quorvex_boost_assertion)
# Builds that keep assertions send Boost's through one handler, which passes a single assertion
# of Boost 1.81 known to be wrong; NDEBUG builds compile them out as before. Defined for every
# file, so that no header is compiled with two meanings of BOOST_ASSERT.
add_compile_definitions(BOOST_ENABLE_ASSERT_DEBUG_HANDLER)
add_library(quorvex_boost_assertion STATIC ${PROJECT_SOURCE_DIR}/src/common/boost_assertion_handler.cpp)
target_include_directories(quorvex_boost_assertion SYSTEM PRIVATE ${QUORVEX_BOOST_INCLUDE})
if(WIN32)
  # System DLLs that are no KnownDLLs are delay-loaded from the system directory only
  # (src/platform/win32/system_dlls.cpp): quorvex_delay_<name> links in place of <name>.
  find_program(QUORVEX_DLLTOOL x86_64-w64-mingw32-dlltool REQUIRED)
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/delay)
  set(delay_loaded_names "")
  foreach(name iphlpapi mswsock bcrypt)
    set(def ${CMAKE_CURRENT_LIST_DIR}/delay/${name}.def)
    set(lib ${CMAKE_BINARY_DIR}/delay/lib${name}_delay.a)
    file(STRINGS ${def} dll_line REGEX "^LIBRARY ")
    string(REGEX REPLACE "^LIBRARY +" "" dll ${dll_line})
    string(APPEND delay_loaded_names "L\"${dll}\", ")
    # dlltool names the library's symbols after the output path it is given: a bare file name
    # keeps the build folder out of the executable, so builds from any folder are identical.
    add_custom_command(OUTPUT ${lib}
      COMMAND ${QUORVEX_DLLTOOL} --input-def ${def} --dllname ${dll} --output-delaylib lib${name}_delay.a
      WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/delay
      DEPENDS ${def}
      COMMENT "Delay-load library for ${dll}"
      VERBATIM)
    add_custom_target(quorvex_delay_${name}_lib DEPENDS ${lib})
    add_library(quorvex_delay_${name} INTERFACE)
    add_dependencies(quorvex_delay_${name} quorvex_delay_${name}_lib)
    target_link_libraries(quorvex_delay_${name} INTERFACE ${lib})
  endforeach()
  # The same names for the helper's start, which loads each of them from the system directory.
  set(QUORVEX_GENERATED_INCLUDE ${CMAKE_BINARY_DIR}/generated)
  file(CONFIGURE OUTPUT ${QUORVEX_GENERATED_INCLUDE}/delay_loaded_dlls.hpp CONTENT
"#pragma once
// Generated from cmake/delay/*.def: the system DLLs the helper delay-loads.
inline constexpr const wchar_t* DELAY_LOADED_DLLS[] = {${delay_loaded_names}};
")
  target_link_libraries(quorvex_boost INTERFACE ws2_32 quorvex_delay_mswsock)
endif()

add_library(quorvex_nghttp2 INTERFACE)
if(WIN32)
  set(QUORVEX_NGHTTP2_MINGW ${CMAKE_SOURCE_DIR}/build/third_party/nghttp2-mingw CACHE PATH
      "nghttp2 built for MinGW by scripts/setup")
  if(NOT EXISTS ${QUORVEX_NGHTTP2_MINGW}/lib/libnghttp2.a)
    message(FATAL_ERROR "nghttp2 for MinGW is missing: run scripts/setup")
  endif()
  target_include_directories(quorvex_nghttp2 SYSTEM INTERFACE ${QUORVEX_NGHTTP2_MINGW}/include)
  target_link_libraries(quorvex_nghttp2 INTERFACE ${QUORVEX_NGHTTP2_MINGW}/lib/libnghttp2.a)
  target_compile_definitions(quorvex_nghttp2 INTERFACE NGHTTP2_STATICLIB)

  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
else()
  find_library(NGHTTP2_LIBRARY nghttp2 REQUIRED)
  target_link_libraries(quorvex_nghttp2 INTERFACE ${NGHTTP2_LIBRARY})
  find_package(GTest REQUIRED)
  find_package(benchmark QUIET)
endif()
# The nghttp2 headers must carry Debian's Rapid-Reset and CONTINUATION-flood fixes (1.52.0+).
include(${CMAKE_CURRENT_LIST_DIR}/nghttp2-version.cmake)

# One test executable is one ctest test: under Wine each process start is costly.
function(quorvex_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
endfunction()
