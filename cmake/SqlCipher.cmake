# The SQLCipher library behind the database layer, as one target: veltrane_sqlcipher.
# By default the system's (pkg-config "sqlcipher"). With VELTRANE_SQLCIPHER_AMALGAMATION set to a folder
# holding an amalgamation (sqlite3.c, sqlite3.h), that library is built here instead, so the layer can be
# proved against another generation of SQLCipher than the system ships (scripts/test-sqlcipher4.sh).
set(VELTRANE_SQLCIPHER_AMALGAMATION "" CACHE PATH
    "Folder with an SQLCipher amalgamation (sqlite3.c, sqlite3.h) to build against instead of the system library")

if(VELTRANE_SQLCIPHER_AMALGAMATION)
  set(amalgamation ${VELTRANE_SQLCIPHER_AMALGAMATION})
  if(NOT EXISTS ${amalgamation}/sqlite3.c OR NOT EXISTS ${amalgamation}/sqlite3.h)
    message(FATAL_ERROR "VELTRANE_SQLCIPHER_AMALGAMATION: no sqlite3.c and sqlite3.h in ${amalgamation}")
  endif()
  enable_language(C)
  find_package(OpenSSL REQUIRED COMPONENTS Crypto)
  find_package(Threads REQUIRED)
  add_library(veltrane_sqlcipher STATIC ${amalgamation}/sqlite3.c)
  # Its own flags, not the project's warnings: this is someone else's code, built as its makers build it.
  set_target_properties(veltrane_sqlcipher PROPERTIES C_STANDARD 99 POSITION_INDEPENDENT_CODE ON AUTOMOC OFF)
  target_compile_options(veltrane_sqlcipher PRIVATE -w)
  target_compile_definitions(veltrane_sqlcipher
    PUBLIC SQLITE_HAS_CODEC
    # Temporary tables in memory: SQLCipher would otherwise write them unencrypted to disk.
    PRIVATE SQLITE_TEMP_STORE=2 SQLCIPHER_CRYPTO_OPENSSL SQLITE_THREADSAFE=1)
  # SYSTEM, as the installed header is: its macros are not held to the project's warnings.
  target_include_directories(veltrane_sqlcipher SYSTEM BEFORE PUBLIC ${amalgamation})
  target_link_libraries(veltrane_sqlcipher PUBLIC OpenSSL::Crypto Threads::Threads ${CMAKE_DL_LIBS} m)
  message(STATUS "SQLCipher: built from ${amalgamation}")
else()
  pkg_check_modules(SQLCIPHER REQUIRED IMPORTED_TARGET sqlcipher)
  add_library(veltrane_sqlcipher INTERFACE)
  target_link_libraries(veltrane_sqlcipher INTERFACE PkgConfig::SQLCIPHER)
  # SQLCipher's header declares the key functions only with this.
  target_compile_definitions(veltrane_sqlcipher INTERFACE SQLITE_HAS_CODEC)
endif()
