# SPDX-License-Identifier: Apache-2.0
# What a Debian system expects beside the programs: manual pages, bash completion, AppStream
# metadata, the copyright file and a changelog (both documents compressed as Debian does).
set(KARO_PACKAGE_CONTACT "Karo Commander developers <karo-commander@example.org>")
set(karo_docs ${PROJECT_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${karo_docs})

# Compressed at configure time (configure_file makes CMake run again when a source changes);
# -n leaves out the name and time, so the package is reproducible.
function(karo_gzip source output)
  configure_file(${source} ${karo_docs}/${output} @ONLY)
  execute_process(COMMAND gzip -9nf ${karo_docs}/${output} RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "gzip ${output} failed")
  endif()
endfunction()

foreach(page karo-commander karo-cli karo-sim)
  karo_gzip(${PROJECT_SOURCE_DIR}/docs/man/${page}.1 ${page}.1)
  install(FILES ${karo_docs}/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()

set(CPACK_PACKAGE_CONTACT "${KARO_PACKAGE_CONTACT}")
karo_gzip(${PROJECT_SOURCE_DIR}/packaging/changelog.in changelog)
install(FILES ${karo_docs}/changelog.gz ${PROJECT_SOURCE_DIR}/packaging/copyright
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/karo-commander)

install(FILES ${PROJECT_SOURCE_DIR}/packaging/karo-cli.bash-completion
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions RENAME karo-cli)

set(karo_metainfo org.karo_commander.KaroCommander.metainfo.xml)
configure_file(${PROJECT_SOURCE_DIR}/packaging/${karo_metainfo}.in ${karo_docs}/${karo_metainfo}
  @ONLY)
install(FILES ${karo_docs}/${karo_metainfo} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/metainfo)
