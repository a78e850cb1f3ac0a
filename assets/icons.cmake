# The tray icons and the pointer, drawn by our own tool into the application folder, and the desktop's
# application icon in the icon-theme layout under build/icons (installed by the package).
set(VELTRANE_ICON_THEME_DIR ${CMAKE_BINARY_DIR}/icons)
set(VELTRANE_ICON_FILES ${VELTRANE_APP_DIR}/PN.ICO ${VELTRANE_APP_DIR}/SCALE.ICO ${VELTRANE_APP_DIR}/h_point.cur
    ${VELTRANE_ICON_THEME_DIR}/hicolor/scalable/apps/veltrane.svg)
foreach(size 16 22 24 32 48 64 128 256)
  list(APPEND VELTRANE_ICON_FILES ${VELTRANE_ICON_THEME_DIR}/hicolor/${size}x${size}/apps/veltrane.png)
endforeach()
add_custom_command(
  OUTPUT ${VELTRANE_ICON_FILES}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${VELTRANE_APP_DIR}
  COMMAND veltrane-drawicons --theme ${VELTRANE_ICON_THEME_DIR} ${VELTRANE_APP_DIR}
  DEPENDS veltrane-drawicons
  COMMENT "Drawing PN.ICO, SCALE.ICO, h_point.cur and the application icon")
add_custom_target(veltrane_icons ALL DEPENDS ${VELTRANE_ICON_FILES})
