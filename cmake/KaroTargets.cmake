# One interface target carries the warning and sanitizer flags for everything we build.
add_library(karo_options INTERFACE)
target_compile_options(karo_options INTERFACE
  -Wall -Wextra -Wpedantic -Wnon-virtual-dtor -Woverloaded-virtual -Wshadow=local)
if(KARO_WERROR)
  target_compile_options(karo_options INTERFACE -Werror)
endif()
target_compile_definitions(karo_options INTERFACE QT_NO_CAST_FROM_ASCII QT_NO_CAST_TO_ASCII
  QT_NO_KEYWORDS)
if(KARO_SANITIZE)
  target_compile_options(karo_options INTERFACE -fsanitize=address,undefined
    -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  target_link_options(karo_options INTERFACE -fsanitize=address,undefined)
endif()

# A layer is a static library built from every source below its folder (sources are picked up
# by glob so that parallel work on one layer never edits the same list).
function(karo_layer name dir)
  cmake_parse_arguments(ARG "" "ONLY" "DEPS;EXCLUDE" ${ARGN})
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS
    ${dir}/*.cpp ${dir}/*.h ${dir}/*.qrc)
  foreach(ex IN LISTS ARG_EXCLUDE)
    list(FILTER srcs EXCLUDE REGEX "${ex}")
  endforeach()
  if(ARG_ONLY)
    list(FILTER srcs INCLUDE REGEX "${ARG_ONLY}")
  endif()
  set(cpps ${srcs})
  list(FILTER cpps INCLUDE REGEX "\\.cpp$")
  if(cpps)
    add_library(${name} STATIC ${srcs})
    target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC karo_options ${ARG_DEPS})
  else()
    # Nothing built in this layer yet: keep its name usable by the layers above.
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${CMAKE_SOURCE_DIR}/src)
    target_link_libraries(${name} INTERFACE karo_options ${ARG_DEPS})
  endif()
endfunction()
