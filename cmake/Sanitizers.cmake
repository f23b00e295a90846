# AddressSanitizer and UndefinedBehaviorSanitizer for the whole build.
add_library(harrowlight_sanitizers INTERFACE)
if(HARROWLIGHT_SANITIZE)
  set(_san -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  target_compile_options(harrowlight_sanitizers INTERFACE ${_san})
  target_link_options(harrowlight_sanitizers INTERFACE ${_san})
endif()
