# Cross build for 64-bit Raspberry Pi OS (Pi 3, 4, 5, Zero 2): AArch64 code, linked
# statically like the native build, so the package depends on no particular C library and
# installs on bullseye as on bookworm.
set(HARROWLIGHT_TRIPLET aarch64-linux-gnu)
set(HARROWLIGHT_DEB_ARCH arm64)
set(HARROWLIGHT_PROCESSOR aarch64)
set(HARROWLIGHT_ARM_FLAGS "")
set(HARROWLIGHT_ARM_LINK_FLAGS "")
include(${CMAKE_CURRENT_LIST_DIR}/ArmCommon.cmake)
