# Byte-identical output from any checkout folder and at any time, so that anyone can rebuild a
# shipped helper from its commit and compare digests (scripts/reproducible-build).
#   - no absolute path of this machine in an object: the source, build and nghttp2 folders are
#     mapped to fixed names (-ffile-prefix-map covers __FILE__, debug info and profile paths);
#   - no clock: SOURCE_DATE_EPOCH (the last commit's time) for every compile and link, and
#     -Wdate-time, so that __DATE__ or __TIME__ fail the build instead of varying it;
#   - archives without owners, modes or times; PE images without a link time stamp.
if(DEFINED ENV{SOURCE_DATE_EPOCH} AND NOT "$ENV{SOURCE_DATE_EPOCH}" STREQUAL "")
  set(QUORVEX_SOURCE_DATE_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
else()
  execute_process(COMMAND git -C ${CMAKE_SOURCE_DIR} log -1 --format=%ct
                  OUTPUT_VARIABLE QUORVEX_SOURCE_DATE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE _git_failed ERROR_QUIET)
  if(_git_failed OR NOT QUORVEX_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
    # A source tree without history: any fixed value keeps the build reproducible.
    set(QUORVEX_SOURCE_DATE_EPOCH 0)
  endif()
endif()
foreach(lang C CXX)
  set(CMAKE_${lang}_COMPILER_LAUNCHER env SOURCE_DATE_EPOCH=${QUORVEX_SOURCE_DATE_EPOCH})
  set(CMAKE_${lang}_LINKER_LAUNCHER env SOURCE_DATE_EPOCH=${QUORVEX_SOURCE_DATE_EPOCH})
  set(CMAKE_${lang}_ARCHIVE_CREATE "<CMAKE_AR> qcD <TARGET> <LINK_FLAGS> <OBJECTS>")
  set(CMAKE_${lang}_ARCHIVE_APPEND "<CMAKE_AR> qD <TARGET> <LINK_FLAGS> <OBJECTS>")
  set(CMAKE_${lang}_ARCHIVE_FINISH "<CMAKE_RANLIB> -D <TARGET>")
endforeach()

# GCC tries the prefix maps last given first: the folders inside the source tree come last.
add_compile_options(-Wdate-time "-ffile-prefix-map=${CMAKE_SOURCE_DIR}=/quorvex")
if(DEFINED QUORVEX_NGHTTP2_MINGW)
  add_compile_options("-ffile-prefix-map=${QUORVEX_NGHTTP2_MINGW}=/nghttp2")
endif()
add_compile_options("-ffile-prefix-map=${CMAKE_BINARY_DIR}=/build")

if(WIN32)
  add_link_options(-Wl,--no-insert-timestamp)
endif()
