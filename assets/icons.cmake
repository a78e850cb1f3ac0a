# The tray icons and the pointer: drawn by our own tool into the application folder.
set(VELTRANE_ICON_FILES ${VELTRANE_APP_DIR}/PN.ICO ${VELTRANE_APP_DIR}/SCALE.ICO ${VELTRANE_APP_DIR}/h_point.cur)
add_custom_command(
  OUTPUT ${VELTRANE_ICON_FILES}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${VELTRANE_APP_DIR}
  COMMAND veltrane-drawicons ${VELTRANE_APP_DIR}
  DEPENDS veltrane-drawicons
  COMMENT "Drawing PN.ICO, SCALE.ICO and h_point.cur")
add_custom_target(veltrane_icons ALL DEPENDS ${VELTRANE_ICON_FILES})
