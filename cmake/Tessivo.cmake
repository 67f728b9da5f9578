# Shared build helpers.

# Fails the configure step when `target` links, directly or through any
# dependency, a Qt module that needs a display. The headless library must
# stay testable without a window system.
function(tessivo_assert_headless target)
  set(seen "")
  set(queue ${target})
  while(queue)
    list(POP_FRONT queue item)
    if(item IN_LIST seen OR NOT TARGET ${item})
      continue()
    endif()
    list(APPEND seen ${item})
    if(item MATCHES "^Qt6?::(Gui|Widgets|WebEngine.*|Svg.*|OpenGL.*|Quick.*|Qml.*)$")
      message(FATAL_ERROR "${target} must not link ${item}: it is the headless library")
    endif()
    get_target_property(aliased ${item} ALIASED_TARGET)
    if(aliased)
      list(APPEND queue ${aliased})
    endif()
    get_target_property(type ${item} TYPE)
    if(NOT type STREQUAL "INTERFACE_LIBRARY")
      get_target_property(libs ${item} LINK_LIBRARIES)
      if(libs)
        list(APPEND queue ${libs})
      endif()
    endif()
    get_target_property(ilibs ${item} INTERFACE_LINK_LIBRARIES)
    if(ilibs)
      foreach(lib ${ilibs})
        string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" lib "${lib}")
        list(APPEND queue ${lib})
      endforeach()
    endif()
  endwhile()
endfunction()

# One test executable per tst_*.cpp file in the calling directory. Tests in
# a folder named "ui" link the widget library and run on a display; the rest
# link only the headless library.
function(tessivo_add_tests)
  cmake_parse_arguments(ARG "" "" "EXTRA_SOURCES;LIBS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tst_*.cpp)
  get_filename_component(folder ${CMAKE_CURRENT_SOURCE_DIR} NAME)
  foreach(src ${sources})
    get_filename_component(name ${src} NAME_WE)
    tessivo_add_test(${name} SOURCES ${src} ${ARG_EXTRA_SOURCES} LIBS ${ARG_LIBS})
  endforeach()
endfunction()

function(tessivo_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  get_filename_component(folder ${CMAKE_CURRENT_SOURCE_DIR} NAME)
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  target_compile_definitions(${name} PRIVATE
    TESSIVO_TEST_DATA_DIR="${CMAKE_CURRENT_SOURCE_DIR}/data"
    TESSIVO_BUILD_DIR="${PROJECT_BINARY_DIR}")
  if(folder STREQUAL "ui")
    target_link_libraries(${name} PRIVATE tessivo_ui Qt6::Test ${ARG_LIBS})
    add_test(NAME ${name} COMMAND ${name})
    # Window tests share one X display: pointer, focus and window stacking
    # are global there, so they must not run at the same time.
    set_tests_properties(${name} PROPERTIES
      LABELS "ui"
      RUN_SERIAL TRUE
      ENVIRONMENT "QTWEBENGINE_DISABLE_SANDBOX=1;QTWEBENGINE_CHROMIUM_FLAGS=--disable-gpu --no-sandbox")
  else()
    target_link_libraries(${name} PRIVATE tessivo_core Qt6::Test ${ARG_LIBS})
    tessivo_assert_headless(${name})
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES LABELS "core" ENVIRONMENT "QT_QPA_PLATFORM=minimal")
  endif()
endfunction()
