# Installation and .deb packages: the program in PREFIX/lib/harrowlight, its configurations
# (conffiles, one for each set of camera tools) in /etc/harrowlight, its run directory with the state and the captures in
# /var/lib/harrowlight, the console service, its system user and the run directory's setup.
# packaging/InstallLayout.cmake does the work at install time, so that the prefix given to
# `cmake --install --prefix` is the one the installed files name.
install(CODE "
  set(HARROWLIGHT_PROGRAM \"$<TARGET_FILE:harrowlight>\")
  set(HARROWLIGHT_STRIP \"${CMAKE_STRIP}\")
  set(HARROWLIGHT_SOURCE_DIR \"${PROJECT_SOURCE_DIR}\")
  set(HARROWLIGHT_WORK_DIR \"${PROJECT_BINARY_DIR}/packaging\")
  include(\"${CMAKE_CURRENT_LIST_DIR}/InstallLayout.cmake\")
" COMPONENT program)

set(HARROWLIGHT_MAINTAINER "Harrowlight developers <maintainers@harrowlight.example>"
    CACHE STRING "Maintainer named in the packages")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME harrowlight)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_PACKAGE_CONTACT "${HARROWLIGHT_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "camera console for the Raspberry Pi")
set(CPACK_PACKAGE_DESCRIPTION
    "A full-screen console camera for the Raspberry Pi: a menu of camera settings\non the LCD console, live preview, stills and videos from command templates, a\nplayback list, LED and backlight control and GPIO buttons. It runs on tty1\nfrom boot as the system user harrowlight.")
# The package's files live in /usr, /etc, /var and /lib: staged through DESTDIR with the
# prefix /usr, which InstallLayout.cmake maps to those.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_CMAKE_PROJECTS "${PROJECT_BINARY_DIR};${PROJECT_NAME};program;/")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_CURRENT_LIST_DIR}/postinst ${CMAKE_CURRENT_LIST_DIR}/prerm ${CMAKE_CURRENT_LIST_DIR}/postrm
    ${CMAKE_CURRENT_LIST_DIR}/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# ps and killall answer the camera's questions about its tools; systemd creates the user
# and the run directory and runs the service.
set(_harrowlight_depends "procps, psmisc, systemd")
if(HARROWLIGHT_DEB_ARCH)
  # Cross builds: the architecture of the package, and the C library the program needs
  # (none for the static builds).
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${HARROWLIGHT_PACKAGE_ARCH})
  if(HARROWLIGHT_DEB_LIBC)
    string(APPEND _harrowlight_depends ", ${HARROWLIGHT_DEB_LIBC}")
  endif()
else()
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
set(CPACK_DEBIAN_PACKAGE_DEPENDS "${_harrowlight_depends}")
include(CPack)
