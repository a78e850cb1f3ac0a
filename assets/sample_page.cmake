# The web feed's sample page: served at / and opened by the configuration window's sample button, from
# the application folder (the package installs it to /usr/share/veltrane with the other read-only files).
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/veltrane-sample.html ${VELTRANE_APP_DIR}/veltrane-sample.html COPYONLY)
