# Installation and .deb packages: the program, its sample configurations and the console
# service. The program keeps its files beside itself, so everything goes into one directory
# (default /opt/harrowlight) that the user it runs as can write.
if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
  set(CMAKE_INSTALL_PREFIX /opt/harrowlight CACHE PATH "Directory of the program and its files" FORCE)
endif()
set(HARROWLIGHT_SYSTEMD_UNIT_DIR /lib/systemd/system
    CACHE PATH "Where the console service goes (empty: only beside the program)")

set(_harrowlight_config ${PROJECT_SOURCE_DIR}/config)
install(TARGETS harrowlight RUNTIME DESTINATION . COMPONENT program)
install(FILES ${_harrowlight_config}/Harrowlight.ini DESTINATION . RENAME Harrowlight.ini.sample
        COMPONENT program)
install(FILES ${_harrowlight_config}/Harrowlight-rpicam.ini DESTINATION . RENAME Harrowlight-rpicam.ini.sample
        COMPONENT program)

# The unit names the program by its installed path.
file(READ ${CMAKE_CURRENT_LIST_DIR}/harrowlight.service _harrowlight_unit)
string(REPLACE "/opt/harrowlight" "${CMAKE_INSTALL_PREFIX}" _harrowlight_unit "${_harrowlight_unit}")
file(WRITE ${PROJECT_BINARY_DIR}/packaging/harrowlight.service "${_harrowlight_unit}")
install(FILES ${PROJECT_BINARY_DIR}/packaging/harrowlight.service DESTINATION . COMPONENT program)
if(HARROWLIGHT_SYSTEMD_UNIT_DIR)
  install(FILES ${PROJECT_BINARY_DIR}/packaging/harrowlight.service
          DESTINATION ${HARROWLIGHT_SYSTEMD_UNIT_DIR} COMPONENT program)
endif()

# A plain `cmake --install` also gives a first installation its configuration; an existing
# one is kept. Packages leave this to their postinst, so the package never owns the file.
install(CODE [[
  set(_dir "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
  if(NOT EXISTS "${_dir}/Harrowlight.ini")
    message(STATUS "First configuration: ${_dir}/Harrowlight.ini")
    file(COPY_FILE "${_dir}/Harrowlight.ini.sample" "${_dir}/Harrowlight.ini")
  endif()
]] COMPONENT firstconfig)

set(HARROWLIGHT_INSTALL_DIR ${CMAKE_INSTALL_PREFIX})
foreach(_harrowlight_script postinst prerm postrm)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/${_harrowlight_script}.in
                 ${PROJECT_BINARY_DIR}/packaging/${_harrowlight_script} @ONLY
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                  WORLD_READ WORLD_EXECUTE)
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME harrowlight)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Harrowlight maintainers <harrowlight@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Camera console for the Raspberry Pi")
set(CPACK_PACKAGE_DESCRIPTION
    "A full-screen console camera for the Raspberry Pi: a menu of camera settings\non the LCD console, live preview, stills and videos from command templates, a\nplayback list, LED and backlight control and GPIO buttons.")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
# Only the program component: the first-configuration copy is the postinst's job.
set(CPACK_INSTALL_CMAKE_PROJECTS "${PROJECT_BINARY_DIR};${PROJECT_NAME};program;/")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_BINARY_DIR}/packaging/postinst ${PROJECT_BINARY_DIR}/packaging/prerm
    ${PROJECT_BINARY_DIR}/packaging/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# ps and killall answer the camera's questions about its tools.
set(_harrowlight_depends "procps, psmisc")
if(HARROWLIGHT_DEB_ARCH)
  # Cross builds: the architecture of the target, and the C library the program needs
  # (none for the static armel build).
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${HARROWLIGHT_DEB_ARCH})
  if(HARROWLIGHT_DEB_LIBC)
    string(APPEND _harrowlight_depends ", ${HARROWLIGHT_DEB_LIBC}")
  endif()
else()
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
set(CPACK_DEBIAN_PACKAGE_DEPENDS "${_harrowlight_depends}")
include(CPack)
