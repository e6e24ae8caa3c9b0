# Warnings are errors in every configuration; the native test build also runs under ASan/UBSan.
add_compile_options(-Wall -Wextra -Wpedantic -Werror -Wno-missing-field-initializers)
if(QUORVEX_SANITIZE)
  # -O1 keeps the reports exact and makes the loopback load tests several times faster. With the
  # sanitizers at -O1, g++ 12 takes Asio's coroutine frame allocator for a mismatched new/delete
  # pair and std::regex's state for uninitialized; the shipped -O3 build keeps both warnings.
  add_compile_options(-O1 -Wno-mismatched-new-delete -Wno-maybe-uninitialized
                      -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()
if(WIN32)
  # Windows 10 APIs, no min/max macros, and one fully static executable with no DLL beside it.
  add_compile_definitions(_WIN32_WINNT=0x0A00 WINVER=0x0A00 NOMINMAX WIN32_LEAN_AND_MEAN UNICODE _UNICODE)
  add_link_options(-static -static-libgcc -static-libstdc++)
  # Sections start on page boundaries in the file as in memory, so a loader can map them from the
  # file instead of copying them into private memory (Wine copies every section it cannot map).
  add_link_options(-Wl,--file-alignment,4096)
  # Asio's large coroutine frames need a bigger object file section table.
  add_compile_options(-Wa,-mbig-obj)
endif()
