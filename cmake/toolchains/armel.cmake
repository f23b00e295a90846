# Cross build for the BCM2835 (Pi 1, Zero): ARMv5T soft-float code, linked statically so
# the program runs on any armel or Raspberry Pi OS userland and in a bare initramfs.
set(HARROWLIGHT_TRIPLET arm-linux-gnueabi)
set(HARROWLIGHT_DEB_ARCH armel)
set(HARROWLIGHT_ARM_FLAGS "-march=armv5t -marm -mfloat-abi=soft")
set(HARROWLIGHT_ARM_LINK_FLAGS "-static")
include(${CMAKE_CURRENT_LIST_DIR}/ArmCommon.cmake)
