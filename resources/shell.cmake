# Shell resources: the icon artwork compiled into the widget kit, the
# desktop entry (with the "tessivo" URL-scheme handler for the browser sign-in
# callback) and the application icon. Include once, after the Tessivo/
# subdirectory has defined tessivo_widgets.
include_guard(GLOBAL)

file(GLOB tessivo_icon_files CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/icons/*.svg)
qt_add_resources(tessivo_widgets tessivo_icons
  PREFIX /icons
  BASE ${CMAKE_CURRENT_LIST_DIR}/icons
  FILES ${tessivo_icon_files})
qt_add_resources(tessivo_widgets tessivo_app_icon
  PREFIX /app
  BASE ${CMAKE_CURRENT_LIST_DIR}/icons/app
  FILES ${CMAKE_CURRENT_LIST_DIR}/icons/app/tessivo.svg)

install(FILES ${CMAKE_CURRENT_LIST_DIR}/tessivo.desktop DESTINATION share/applications)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/icons/app/tessivo.svg DESTINATION share/icons/hicolor/scalable/apps)
