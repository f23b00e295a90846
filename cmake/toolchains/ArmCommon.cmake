# Shared part of the ARM cross toolchains: compilers by triplet, target-only search,
# unit tests run through user-mode QEMU, GoogleTest built from source for the target.
# Expects HARROWLIGHT_TRIPLET, HARROWLIGHT_DEB_ARCH and HARROWLIGHT_ARM_FLAGS to be set;
# HARROWLIGHT_PROCESSOR (default arm) names the CPU for CMake and the QEMU program.
if(NOT HARROWLIGHT_PROCESSOR)
  set(HARROWLIGHT_PROCESSOR arm)
endif()
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${HARROWLIGHT_PROCESSOR})

set(CMAKE_C_COMPILER ${HARROWLIGHT_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${HARROWLIGHT_TRIPLET}-g++)

# 64-bit file offsets and inode numbers: without them the 32-bit readdir fails with EOVERFLOW
# on a file system that hands out 64-bit directory cookies (as a 64-bit kernel does under
# user-mode emulation, or NFS), and the capture directory would list as empty. 64-bit
# time_t keeps the dated file names and the clock line right after 2038.
set(_harrowlight_lfs "-D_FILE_OFFSET_BITS=64 -D_TIME_BITS=64")
set(CMAKE_C_FLAGS_INIT "${HARROWLIGHT_ARM_FLAGS} ${_harrowlight_lfs}")
set(CMAKE_CXX_FLAGS_INIT "${HARROWLIGHT_ARM_FLAGS} ${_harrowlight_lfs}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${HARROWLIGHT_ARM_LINK_FLAGS}")

# Libraries and headers only from the cross sysroot; programs (cmake, tools) from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${HARROWLIGHT_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Target programs (the unit tests, test discovery) run under user-mode emulation. -L lets a
# dynamically linked program find the cross loader and libraries; static ones ignore it.
find_program(HARROWLIGHT_QEMU_USER qemu-${HARROWLIGHT_PROCESSOR})
if(HARROWLIGHT_QEMU_USER)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${HARROWLIGHT_QEMU_USER};-L;/usr/${HARROWLIGHT_TRIPLET}")
endif()

# The host's GoogleTest package holds host libraries only; find_package(GTest) is pointed at
# a config file that builds GoogleTest's Debian source tree for the target instead.
set(GTest_DIR ${CMAKE_CURRENT_LIST_DIR}/gtest CACHE PATH "GoogleTest built from source for the target")

# The Debian architecture of the build, and the one named in its .deb package (the same
# unless the toolchain says otherwise).
set(HARROWLIGHT_DEB_ARCH ${HARROWLIGHT_DEB_ARCH} CACHE STRING "Debian architecture of the build")
if(NOT HARROWLIGHT_PACKAGE_ARCH)
  set(HARROWLIGHT_PACKAGE_ARCH ${HARROWLIGHT_DEB_ARCH})
endif()
set(HARROWLIGHT_PACKAGE_ARCH ${HARROWLIGHT_PACKAGE_ARCH} CACHE STRING "Debian architecture named in the package")
