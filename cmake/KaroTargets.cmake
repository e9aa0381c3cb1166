# SPDX-License-Identifier: Apache-2.0
# One interface target carries the warning and sanitizer flags for everything we build.
add_library(karo_options INTERFACE)
target_compile_options(karo_options INTERFACE
  -Wall -Wextra -Wpedantic -Wnon-virtual-dtor -Woverloaded-virtual
  $<$<CXX_COMPILER_ID:GNU>:-Wshadow=local>)
if(KARO_WERROR)
  target_compile_options(karo_options INTERFACE -Werror)
endif()
target_compile_definitions(karo_options INTERFACE QT_NO_CAST_FROM_ASCII QT_NO_CAST_TO_ASCII
  QT_NO_KEYWORDS KARO_VERSION="${PROJECT_VERSION}")
if(KARO_SANITIZE)
  target_compile_options(karo_options INTERFACE -fsanitize=address,undefined
    -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  target_link_options(karo_options INTERFACE -fsanitize=address,undefined)
endif()

# lld links a test in a quarter of the time GNU ld takes, and the build has some ninety links.
include(CheckLinkerFlag)
check_linker_flag(CXX -fuse-ld=lld KARO_HAVE_LLD)
if(KARO_HAVE_LLD)
  add_link_options(-fuse-ld=lld)
endif()

# One folder, one static library: karo_library(name SOURCES ... DEPS ...). Includes are written
# from src/ ("engine/MorvForm.h").
function(karo_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC karo_options ${ARG_DEPS})
endfunction()
