# Byte-identical output from any checkout folder and at any time, so that anyone can rebuild a
# shipped helper from its commit and compare digests (scripts/reproducible-build).
#   - no absolute path of this machine in an object: the source, build and nghttp2 folders are
#     mapped to fixed names (-ffile-prefix-map covers __FILE__, debug info and profile paths);
#   - no clock: -Wdate-time makes __DATE__, __TIME__ and __TIMESTAMP__ fail the build instead of
#     varying it, so the compiler's output does not depend on SOURCE_DATE_EPOCH either (the
#     reproducible-build script sets it to the commit's time for any tool that reads it; it is
#     kept out of the compile commands, which would otherwise change, and rebuild, with each
#     commit);
#   - archives without owners, modes or times; PE images without a link time stamp.
foreach(lang C CXX)
  set(CMAKE_${lang}_ARCHIVE_CREATE "<CMAKE_AR> qcD <TARGET> <LINK_FLAGS> <OBJECTS>")
  set(CMAKE_${lang}_ARCHIVE_APPEND "<CMAKE_AR> qD <TARGET> <LINK_FLAGS> <OBJECTS>")
  set(CMAKE_${lang}_ARCHIVE_FINISH "<CMAKE_RANLIB> -D <TARGET>")
endforeach()

add_compile_options(-Wdate-time)
if(WIN32 AND NOT QUORVEX_COVERAGE)
  # Only the shipped build: native sanitizer reports keep naming the real files, and the
  # coverage build's counts are written to, and read from, the objects' real folders.
  # GCC tries the prefix maps last given first: the folders inside the source tree come last.
  add_compile_options("-ffile-prefix-map=${CMAKE_SOURCE_DIR}=/quorvex")
  if(DEFINED QUORVEX_NGHTTP2_MINGW)
    add_compile_options("-ffile-prefix-map=${QUORVEX_NGHTTP2_MINGW}=/nghttp2")
  endif()
  add_compile_options("-ffile-prefix-map=${CMAKE_BINARY_DIR}=/build")
  add_link_options(-Wl,--no-insert-timestamp)
endif()
