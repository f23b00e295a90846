# Cross build for the BCM2835 (Pi 1, Zero): ARMv5T soft-float code, linked statically so
# the program runs on any armel or Raspberry Pi OS userland and in a bare initramfs.
# Its package is labelled armhf, the architecture of 32-bit Raspberry Pi OS: a static
# program needs nothing from the system's C library or its float calling convention, and
# ARMv5T code runs on the ARMv6 of the Pi 1 and Zero as on every later model.
set(HARROWLIGHT_TRIPLET arm-linux-gnueabi)
set(HARROWLIGHT_DEB_ARCH armel)
set(HARROWLIGHT_PACKAGE_ARCH armhf)
set(HARROWLIGHT_ARM_FLAGS "-march=armv5t -marm -mfloat-abi=soft")
set(HARROWLIGHT_ARM_LINK_FLAGS "-static")
include(${CMAKE_CURRENT_LIST_DIR}/ArmCommon.cmake)
