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

# Assertions, Qt's (Q_ASSERT) and ours (assert), in an optimised build too.
# CMake's release flags carry -DNDEBUG and Qt's targets add QT_NO_DEBUG to
# every configuration but Debug; the sanitizer job keeps both kinds, so a
# broken precondition stops the test that reaches it.
option(TESSIVO_ASSERTS "Keep assert() and Q_ASSERT in every build type" OFF)
if(TESSIVO_ASSERTS)
  foreach(config RELEASE RELWITHDEBINFO MINSIZEREL)
    string(REGEX REPLACE "(^| )-DNDEBUG( |$)" " " CMAKE_CXX_FLAGS_${config} "${CMAKE_CXX_FLAGS_${config}}")
  endforeach()
  add_compile_definitions(QT_FORCE_ASSERTS)
endif()
