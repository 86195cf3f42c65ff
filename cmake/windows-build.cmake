# The 32-bit Windows build (cross-built with cmake/mingw-i686.cmake by
# scripts/build-windows.sh): MVGWS.dll and MVCOM.dll from the same sources as
# the Linux libraries, the test host mvwinhost.exe, and the checks of the
# DLL's export and import tables and the run under Wine as CTest tests.
# Included from the top-level CMakeLists.txt when WIN32.

set(MVGWS_CURL_PREFIX "" CACHE PATH "static libcurl for i686 Windows (scripts/build-curl-windows.sh)")
set(MVGWS_SQLITE_PREFIX "" CACHE PATH "static SQLite for i686 Windows (scripts/build-sqlite-windows.sh)")
set(MVGWS_GWSIM "" CACHE FILEPATH "the Linux gwsim that the Wine run talks to")
if(NOT EXISTS "${MVGWS_CURL_PREFIX}/lib/libcurl.a")
  message(FATAL_ERROR "MVGWS_CURL_PREFIX must name the static libcurl (run scripts/build-windows.sh)")
endif()
if(NOT EXISTS "${MVGWS_SQLITE_PREFIX}/lib/libsqlite3.a")
  message(FATAL_ERROR "MVGWS_SQLITE_PREFIX must name the static SQLite (run scripts/build-windows.sh)")
endif()

# C99 printf family (the same results as on Linux: vsnprintf counts what it
# cut, %zu and %lld work) instead of the old msvcrt one; Windows 7 API level.
add_compile_definitions(__USE_MINGW_ANSI_STDIO=1 _WIN32_WINNT=0x0601 WINVER=0x0601)
# Nothing of the compiler's runtime is shipped beside the DLLs.
add_link_options(-static-libgcc -static-libstdc++ -static)
# The shipped DLLs carry no debug information.
add_link_options($<$<CONFIG:Release>:-s>)

add_library(CURL::libcurl STATIC IMPORTED)
set_target_properties(CURL::libcurl PROPERTIES
  IMPORTED_LOCATION "${MVGWS_CURL_PREFIX}/lib/libcurl.a"
  INTERFACE_INCLUDE_DIRECTORIES "${MVGWS_CURL_PREFIX}/include"
  INTERFACE_COMPILE_DEFINITIONS CURL_STATICLIB
  INTERFACE_LINK_LIBRARIES "ws2_32;crypt32;bcrypt;advapi32")
add_library(SQLite::SQLite3 STATIC IMPORTED)
set_target_properties(SQLite::SQLite3 PROPERTIES
  IMPORTED_LOCATION "${MVGWS_SQLITE_PREFIX}/lib/libsqlite3.a"
  INTERFACE_INCLUDE_DIRECTORIES "${MVGWS_SQLITE_PREFIX}/include")

add_subdirectory(platform)
add_subdirectory(host/mvcom)
add_subdirectory(plugin)
add_subdirectory(host/mvwinhost)

add_custom_target(banned_functions ALL
  COMMAND ${CMAKE_SOURCE_DIR}/scripts/check-banned.sh ${CMAKE_SOURCE_DIR}
  COMMENT "Checking for banned string functions"
  VERBATIM)

enable_testing()
add_subdirectory(tests/windows)
