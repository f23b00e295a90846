# Runs at install time (`cmake --install`, and cpack's staging install): places the program
# and its files below the install prefix given then, and writes the service, user and
# run-directory files with the paths of that prefix. The prefix /usr gets the system's
# /etc, /var and /lib/systemd/system, as a Debian package needs; any other prefix P keeps
# everything below it (P/etc, P/var, P/lib/systemd/system).
#
# Set by the build: HARROWLIGHT_PROGRAM, HARROWLIGHT_STRIP, HARROWLIGHT_SOURCE_DIR,
# HARROWLIGHT_WORK_DIR.
set(_prefix "${CMAKE_INSTALL_PREFIX}")
if(_prefix STREQUAL "/usr")
  set(_etc /etc)
  set(_var /var)
  set(_systemlib /lib)
else()
  set(_etc "${_prefix}/etc")
  set(_var "${_prefix}/var")
  set(_systemlib "${_prefix}/lib")
endif()
# The names the templates use.
set(LIB_DIR "${_prefix}/lib/harrowlight")
set(SHARE_DIR "${_prefix}/share/harrowlight")
set(DOC_DIR "${_prefix}/share/doc/harrowlight")
set(CONFIG_DIR "${_etc}/harrowlight")
set(RUN_DIR "${_var}/lib/harrowlight")
set(CAPTURE_DIR "${RUN_DIR}/DCIM")

set(_packaging "${HARROWLIGHT_SOURCE_DIR}/packaging")
set(_work "${HARROWLIGHT_WORK_DIR}/install")
file(MAKE_DIRECTORY "${_work}")
set(_data OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
set(_program OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# Fills the @NAME@ placeholders of TEMPLATE and installs the result as DIRECTORY/NAME.
function(harrowlight_install_filled Template Directory Name)
  file(READ "${Template}" _text)
  string(CONFIGURE "${_text}" _text @ONLY)
  file(WRITE "${_work}/${Name}" "${_text}")
  file(INSTALL "${_work}/${Name}" DESTINATION "${Directory}" FILE_PERMISSIONS ${_data})
endfunction()

# A sample configuration with the capture folder of this installation.
function(harrowlight_sample Source Name)
  file(READ "${HARROWLIGHT_SOURCE_DIR}/config/${Source}" _text)
  string(REGEX REPLACE "\nDIRECTORY=[^\n]*" "\nDIRECTORY=${CAPTURE_DIR}/" _text "${_text}")
  file(WRITE "${_work}/${Name}" "${_text}")
endfunction()

# The program, stripped: the debugging information stays in the build.
file(INSTALL "${HARROWLIGHT_PROGRAM}" DESTINATION "${LIB_DIR}" FILE_PERMISSIONS ${_program})
if(HARROWLIGHT_STRIP)
  execute_process(COMMAND "${HARROWLIGHT_STRIP}" --strip-unneeded --remove-section=.comment --remove-section=.note "$ENV{DESTDIR}${LIB_DIR}/harrowlight"
                  RESULT_VARIABLE _stripped)
  if(NOT _stripped EQUAL 0)
    message(FATAL_ERROR "Could not strip $ENV{DESTDIR}${LIB_DIR}/harrowlight")
  endif()
endif()
file(INSTALL "${_packaging}/console" DESTINATION "${LIB_DIR}" FILE_PERMISSIONS ${_program})
file(INSTALL "${_packaging}/power-off" DESTINATION "${LIB_DIR}" FILE_PERMISSIONS ${_program})

harrowlight_sample(Harrowlight.ini Harrowlight-legacy.ini)
harrowlight_sample(Harrowlight-rpicam.ini Harrowlight-rpicam.ini)
file(INSTALL "${_work}/Harrowlight-legacy.ini" "${_work}/Harrowlight-rpicam.ini"
     DESTINATION "${SHARE_DIR}" FILE_PERMISSIONS ${_data})
file(GLOB _layouts "${HARROWLIGHT_SOURCE_DIR}/config/lcd/*.ini")
file(INSTALL ${_layouts} DESTINATION "${SHARE_DIR}/lcd" FILE_PERMISSIONS ${_data})
# The configurations, one for each set of camera tools: the package's conffiles, so an
# upgrade keeps the owner's edits; a later `cmake --install` keeps the ones there.
foreach(_tools legacy rpicam)
  if(NOT EXISTS "$ENV{DESTDIR}${CONFIG_DIR}/Harrowlight-${_tools}.ini")
    file(INSTALL "${_work}/Harrowlight-${_tools}.ini" DESTINATION "${CONFIG_DIR}"
         FILE_PERMISSIONS ${_data})
  endif()
endforeach()
# Harrowlight.ini, the name the program reads, links to the one for the tools this system
# has: the package's postinst makes the link on the first installation; a plain
# installation on this machine makes it here. An existing one, link or file, stays.
set(_config "${CONFIG_DIR}/Harrowlight.ini")
if("$ENV{DESTDIR}" STREQUAL "" AND NOT EXISTS "${_config}" AND NOT IS_SYMLINK "${_config}")
  find_program(_harrowlight_rpicam rpicam-still)
  find_program(_harrowlight_raspistill raspistill PATHS /opt/vc/bin)
  set(_tools rpicam)
  if(NOT _harrowlight_rpicam AND _harrowlight_raspistill)
    set(_tools legacy)
  endif()
  file(CREATE_LINK "Harrowlight-${_tools}.ini" "${_config}" SYMBOLIC)
  message(STATUS "Configuration: ${_config} -> Harrowlight-${_tools}.ini")
endif()

harrowlight_install_filled("${_packaging}/harrowlight.service.in" "${_systemlib}/systemd/system"
                           harrowlight.service)
harrowlight_install_filled("${_packaging}/harrowlight-console.service.in"
                           "${_systemlib}/systemd/system" harrowlight-console.service)
harrowlight_install_filled("${_packaging}/harrowlight.sysusers.in" "${_prefix}/lib/sysusers.d"
                           harrowlight.conf)
harrowlight_install_filled("${_packaging}/harrowlight.tmpfiles.in" "${_prefix}/lib/tmpfiles.d"
                           harrowlight.conf)
file(INSTALL "${_packaging}/60-harrowlight-gpio.rules" DESTINATION "${_systemlib}/udev/rules.d"
     FILE_PERMISSIONS ${_data})

# Documentation, and what lintian is told about the package.
execute_process(COMMAND gzip -9nc "${_packaging}/changelog" OUTPUT_FILE "${_work}/changelog.Debian.gz")
file(INSTALL "${_packaging}/copyright" "${_work}/changelog.Debian.gz" "${HARROWLIGHT_SOURCE_DIR}/README.md"
     DESTINATION "${DOC_DIR}" FILE_PERMISSIONS ${_data})
file(INSTALL "${_packaging}/lintian-overrides" DESTINATION "${_prefix}/share/lintian/overrides"
     RENAME harrowlight FILE_PERMISSIONS ${_data})

# A plain installation on this machine (no DESTDIR) creates the user and the run directory
# at once, as the package's postinst does; elsewhere it says how.
set(_sysusers "${_prefix}/lib/sysusers.d/harrowlight.conf")
set(_tmpfiles "${_prefix}/lib/tmpfiles.d/harrowlight.conf")
find_program(_harrowlight_sysusers systemd-sysusers)
find_program(_harrowlight_tmpfiles systemd-tmpfiles)
execute_process(COMMAND id -u OUTPUT_VARIABLE _uid OUTPUT_STRIP_TRAILING_WHITESPACE)
if("$ENV{DESTDIR}" STREQUAL "" AND _uid STREQUAL "0" AND _harrowlight_sysusers AND _harrowlight_tmpfiles)
  execute_process(COMMAND "${_harrowlight_sysusers}" "${_sysusers}")
  execute_process(COMMAND "${_harrowlight_tmpfiles}" --create "${_tmpfiles}")
elseif("$ENV{DESTDIR}" STREQUAL "")
  message(STATUS "Then, as root: systemd-sysusers ${_sysusers} && systemd-tmpfiles --create ${_tmpfiles}")
endif()
