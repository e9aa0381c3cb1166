# SPDX-License-Identifier: Apache-2.0
# A Debian package of what `cmake --install` puts in place (scripts/package.sh builds it).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME karo-commander)
set(CPACK_PACKAGE_VENDOR "Karo Commander developers")
set(CPACK_PACKAGE_CONTACT "${KARO_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_INSTALL_DIRECTORY /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
# CPack puts the summary in front as the first line.
# Lines of at most 80 characters, as Debian's policy asks.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "karo-commander operates one gripper over RS232, CAN, Ethernet UDP or\n\
Ethernet TCP from a window, karo-cli from a terminal or a script, and karo-sim\n\
simulates a gripper for trying both without hardware.")
# The Qt libraries are found by dpkg-shlibdeps; the platform plugins are loaded at run time,
# so no library dependency names them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
if(KARO_BUILD_PYTHON)
  # The module is built for this one interpreter version, as Debian's own extension modules are.
  math(EXPR karo_python_next "${Python3_VERSION_MINOR} + 1")
  string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS
    ", python3 (>= ${Python3_VERSION_MAJOR}.${Python3_VERSION_MINOR}~)"
    ", python3 (<< ${Python3_VERSION_MAJOR}.${karo_python_next})")
endif()
include(CPack)
