# Cross build for the later Pis (ARMv7 and up, hard-float): the C++ runtime is linked in,
# the C library comes from the system, as on any armhf Debian or Raspberry Pi OS.
set(HARROWLIGHT_TRIPLET arm-linux-gnueabihf)
set(HARROWLIGHT_DEB_ARCH armhf)
set(HARROWLIGHT_ARM_FLAGS "")
set(HARROWLIGHT_ARM_LINK_FLAGS "-static-libstdc++ -static-libgcc")
include(${CMAKE_CURRENT_LIST_DIR}/ArmCommon.cmake)
