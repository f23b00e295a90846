# Compiler warnings, linked to every target of the project.
add_library(harrowlight_warnings INTERFACE)
target_compile_options(harrowlight_warnings INTERFACE
  -Wall
  -Wextra
  -Wpedantic
  -Wshadow               # a local hiding a global such as GPIO is a bug waiting to happen
  -Wconversion           # narrowing between the 32-bit register words and int counts
  -Wformat=2             # every escape sequence goes through a printf format
  -Wimplicit-fallthrough
  -Wnull-dereference
  -Wcast-qual            # keep volatile on register pointers
)
if(HARROWLIGHT_WERROR)
  target_compile_options(harrowlight_warnings INTERFACE -Werror)
endif()
