# The three database files of the application folder, made by the project's own tool after each build.
# The tool never replaces a file, so settings changed in a development build survive rebuilds.
add_custom_target(veltrane_databases ALL
  COMMAND $<TARGET_FILE:veltrane-mkdb> ${VELTRANE_APP_DIR}
  DEPENDS veltrane-mkdb
  COMMENT "Database files of ${VELTRANE_APP_DIR}"
  VERBATIM)
