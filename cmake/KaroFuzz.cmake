# SPDX-License-Identifier: Apache-2.0
# libFuzzer build: every project library is instrumented for coverage and sanitized; only the
# fuzz executables link libFuzzer's main (karo_fuzz_target in fuzz/). With KARO_SANITIZE as well,
# the sanitizer build's tests and the fuzz targets come from one configuration (the sanitizer
# runtime answers the coverage hooks in the tests).
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(FATAL_ERROR "KARO_FUZZ needs clang (configure with CC=clang CXX=clang++)")
endif()
if(KARO_SANITIZE)
  target_compile_options(karo_options INTERFACE -fsanitize=fuzzer-no-link)
else()
  target_compile_options(karo_options INTERFACE -fsanitize=fuzzer-no-link,address,undefined
    -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  target_link_options(karo_options INTERFACE -fsanitize=address,undefined)
endif()

# karo_fuzz_target(name DEPS ...): fuzz/fuzz_<name>.cpp becomes the executable fuzz_<name>.
function(karo_fuzz_target name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(fuzz_${name} fuzz_${name}.cpp ${ARG_SOURCES})
  target_link_libraries(fuzz_${name} PRIVATE karo_options ${ARG_DEPS})
  target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
  add_dependencies(karo_fuzz fuzz_${name})
endfunction()
