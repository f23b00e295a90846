# AddressSanitizer and UndefinedBehaviorSanitizer: the flags of the sanitized build, which
# the fuzz targets use as well.
set(HARROWLIGHT_SANITIZER_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=undefined
                                -fno-omit-frame-pointer)
add_library(harrowlight_sanitizers INTERFACE)
if(HARROWLIGHT_SANITIZE)
  target_compile_options(harrowlight_sanitizers INTERFACE ${HARROWLIGHT_SANITIZER_FLAGS})
  target_link_options(harrowlight_sanitizers INTERFACE ${HARROWLIGHT_SANITIZER_FLAGS})
endif()
