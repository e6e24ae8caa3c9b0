# Refuses nghttp2 headers older than the release whose patches we rely on. Debian's patched
# 1.52.0 carries the same version number as the bare upstream 1.52.0, so the number alone cannot
# tell them apart: the patches add the options that bound Rapid Reset (CVE-2023-44487) and
# CONTINUATION floods (CVE-2024-28182), and the headers of every configuration must declare them.
if(WIN32)
  set(_nghttp2_inc ${QUORVEX_NGHTTP2_MINGW}/include)
else()
  find_path(_nghttp2_inc nghttp2/nghttp2ver.h REQUIRED)
endif()
file(STRINGS ${_nghttp2_inc}/nghttp2/nghttp2ver.h _nghttp2_ver_line REGEX "#define NGHTTP2_VERSION_NUM")
string(REGEX MATCH "0x[0-9a-fA-F]+" _nghttp2_ver_num "${_nghttp2_ver_line}")
math(EXPR _nghttp2_ver_dec "${_nghttp2_ver_num}")
if(_nghttp2_ver_dec LESS 0x013400)
  message(FATAL_ERROR "nghttp2 ${_nghttp2_ver_num} is older than 1.52.0")
endif()
foreach(_nghttp2_fix nghttp2_option_set_stream_reset_rate_limit nghttp2_option_set_max_continuations)
  file(STRINGS ${_nghttp2_inc}/nghttp2/nghttp2.h _nghttp2_decl REGEX "${_nghttp2_fix}[ \t]*\\(")
  if(NOT _nghttp2_decl)
    message(FATAL_ERROR "nghttp2 headers in ${_nghttp2_inc} lack ${_nghttp2_fix}: they predate "
                        "the Rapid-Reset and CONTINUATION-flood fixes (Debian 1.52.0-1+deb12u2 or later)")
  endif()
endforeach()
