# Sanitizer and fuzzing builds (clang). TESSIVO_SANITIZE builds everything
# with AddressSanitizer and UndefinedBehaviorSanitizer, any report fatal.
# TESSIVO_FUZZ also instruments every target for libFuzzer's coverage and
# builds the fuzz targets in fuzz/.
option(TESSIVO_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(TESSIVO_FUZZ "Build the libFuzzer targets (clang; implies TESSIVO_SANITIZE)" OFF)

if(TESSIVO_SANITIZE OR TESSIVO_FUZZ)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
if(TESSIVO_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "TESSIVO_FUZZ needs clang (libFuzzer)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
