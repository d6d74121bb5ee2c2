# blob_build_flags: the compile and link options of every target the project builds (not
# installed, not seen by consumers). Each target links it PRIVATE.
add_library(blob_build_flags INTERFACE)

# The shared libraries' version script: symbols that must not leave them whatever their visibility.
set(BLOB_LOCAL_SYMBOLS_MAP ${CMAKE_CURRENT_LIST_DIR}/local_symbols.map)

# Results are compared exactly: no contraction of multiply-adds, no fast-math.
target_compile_options(blob_build_flags INTERFACE
  -ffp-contract=off -fno-fast-math -fno-semantic-interposition)
# Source positions in messages (__FILE__ in internal checks) are relative to the project: the same
# on every machine, and no build path leaks into what callers see.
target_compile_options(blob_build_flags INTERFACE -fmacro-prefix-map=${PROJECT_SOURCE_DIR}/=)

# Warnings, in the spelling g++ and clang share (clang's -Wconversion also covers sign changes,
# g++'s does not); another compiler gets none.
if(CMAKE_CXX_COMPILER_ID MATCHES "^(GNU|Clang)$")
  target_compile_options(blob_build_flags INTERFACE -Wall -Wextra -Wpedantic -Wshadow -Wconversion)
else()
  message(WARNING "No warning flags known for ${CMAKE_CXX_COMPILER_ID}")
endif()
if(BLOB_WERROR)
  target_compile_options(blob_build_flags INTERFACE -Werror)
endif()

if(BLOB_SANITIZE)
  target_compile_options(blob_build_flags INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(blob_build_flags INTERFACE -fsanitize=address,undefined)
endif()

if(BLOB_TSAN)
  if(BLOB_SANITIZE OR BLOB_FUZZ)
    message(FATAL_ERROR "BLOB_TSAN cannot be combined with BLOB_SANITIZE or BLOB_FUZZ")
  endif()
  # -Wno-tsan: the run pool's acquire fence (rle_sink.cpp), which ThreadSanitizer does not model,
  # is not on the paths these tests run across threads.
  target_compile_options(blob_build_flags INTERFACE -fsanitize=thread -fno-omit-frame-pointer -Wno-tsan)
  target_link_options(blob_build_flags INTERFACE -fsanitize=thread)
endif()

# The archive fuzzer's build: coverage for libFuzzer and the sanitizers in every target (the
# fuzzer's own link adds libFuzzer). Clang only.
if(BLOB_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "BLOB_FUZZ needs clang++ (libFuzzer)")
  endif()
  target_compile_options(blob_build_flags INTERFACE
    -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(blob_build_flags INTERFACE -fsanitize=address,undefined)
endif()
