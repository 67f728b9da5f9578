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

# One library of the app: the .cpp files of `DIR` (not of its subfolders),
# globbed so that a file added to the folder needs no CMake edit. Sources
# include headers by their path from the source root ("store/Document.h");
# each library publishes only its own headers, through a tree of links under
# the build folder, so an include from a library it does not link fails to
# compile. HEADLESS libraries are checked by tessivo_check_headless() once
# every target exists. A folder without sources yields an interface library,
# so that dependants can link it before its first file lands.
# PUBLISH names the headers other targets may include (default: every one);
# the rest serve the library's own sources alone. INCLUDE_AS replaces the
# path the headers are included by ("." for their bare names).
function(tessivo_library target)
  cmake_parse_arguments(ARG "HEADLESS" "DIR;INCLUDE_AS" "PUBLIC;PRIVATE;PUBLISH" ${ARGN})
  get_filename_component(dir ${ARG_DIR} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
  file(GLOB sources CONFIGURE_DEPENDS ${dir}/*.cpp)
  file(GLOB headers CONFIGURE_DEPENDS ${dir}/*.h)
  # Include paths start below Tessivo/, or at the source root for the
  # components beside it (KeyboardShortcuts/, platform/).
  file(RELATIVE_PATH rel ${PROJECT_SOURCE_DIR}/Tessivo ${dir})
  if(rel MATCHES "^\\.\\.")
    file(RELATIVE_PATH rel ${PROJECT_SOURCE_DIR} ${dir})
  endif()
  if(ARG_INCLUDE_AS)
    set(rel ${ARG_INCLUDE_AS})
  endif()
  set(published ${headers})
  if(ARG_PUBLISH)
    list(TRANSFORM ARG_PUBLISH PREPEND ${dir}/ OUTPUT_VARIABLE published)
    foreach(header ${published})
      if(NOT header IN_LIST headers)
        message(FATAL_ERROR "${target} publishes ${header}, which is not in ${dir}")
      endif()
    endforeach()
  endif()
  set(tree ${PROJECT_BINARY_DIR}/include/${target})
  file(REMOVE_RECURSE ${tree})
  file(MAKE_DIRECTORY ${tree}/${rel})
  foreach(header ${published})
    get_filename_component(name ${header} NAME)
    file(CREATE_LINK ${header} ${tree}/${rel}/${name} SYMBOLIC)
  endforeach()
  if(sources)
    add_library(${target} STATIC ${sources} ${headers})
    target_include_directories(${target} PUBLIC ${tree})
    target_link_libraries(${target} PUBLIC ${ARG_PUBLIC} PRIVATE ${ARG_PRIVATE})
  else()
    add_library(${target} INTERFACE ${headers})
    target_include_directories(${target} INTERFACE ${tree})
    target_link_libraries(${target} INTERFACE ${ARG_PUBLIC} ${ARG_PRIVATE})
  endif()
  if(ARG_HEADLESS)
    set_property(GLOBAL APPEND PROPERTY TESSIVO_HEADLESS_TARGETS ${target})
  endif()
endfunction()

# Runs tessivo_assert_headless on every HEADLESS library.
function(tessivo_check_headless)
  get_property(targets GLOBAL PROPERTY TESSIVO_HEADLESS_TARGETS)
  foreach(target ${targets})
    tessivo_assert_headless(${target})
  endforeach()
endfunction()

# One test executable per tst_*.cpp file in the calling directory, linking
# the libraries in LIBS (by default the library of the folder it tests:
# tests/editor links tessivo_editor_core, tests/editor/ui tessivo_editor).
# Tests in a folder named "ui" run on a display; the rest must be headless.
function(tessivo_add_tests)
  cmake_parse_arguments(ARG "" "" "EXTRA_SOURCES;LIBS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tst_*.cpp)
  if(NOT ARG_LIBS)
    file(RELATIVE_PATH rel ${PROJECT_SOURCE_DIR}/tests ${CMAKE_CURRENT_SOURCE_DIR})
    string(REGEX REPLACE "/ui$" "" subsystem "${rel}")
    string(TOLOWER "${subsystem}" subsystem)
    if(rel MATCHES "/ui$")
      set(ARG_LIBS tessivo_${subsystem})
    elseif(TARGET tessivo_${subsystem}_core)
      set(ARG_LIBS tessivo_${subsystem}_core)
    else()
      set(ARG_LIBS tessivo_${subsystem})
    endif()
  endif()
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
  # The limit of a QTRY_* check that names none: see tests/TestWaits.h.
  target_compile_options(${name} PRIVATE -include ${PROJECT_SOURCE_DIR}/tests/TestWaits.h)
  target_compile_definitions(${name} PRIVATE
    TESSIVO_TEST_DATA_DIR="${CMAKE_CURRENT_SOURCE_DIR}/data"
    TESSIVO_BUILD_DIR="${PROJECT_BINARY_DIR}"
    # Whether the app built beside the test takes the test-only overrides.
    $<$<BOOL:${TESSIVO_TESTING}>:TESSIVO_TESTING>)
  if(folder STREQUAL "ui")
    target_link_libraries(${name} PRIVATE Qt6::Test ${ARG_LIBS})
    add_test(NAME ${name} COMMAND ${name})
    # Window tests share one X display: pointer, focus and window stacking
    # are global there, so they must not run at the same time.
    set_tests_properties(${name} PROPERTIES
      LABELS "ui"
      RUN_SERIAL TRUE
      ENVIRONMENT "QTWEBENGINE_DISABLE_SANDBOX=1;QTWEBENGINE_CHROMIUM_FLAGS=--disable-gpu --no-sandbox")
  else()
    target_link_libraries(${name} PRIVATE Qt6::Test ${ARG_LIBS})
    tessivo_assert_headless(${name})
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES LABELS "core" ENVIRONMENT "QT_QPA_PLATFORM=minimal")
  endif()
endfunction()
