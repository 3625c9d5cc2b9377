# Cross-building for 64-bit Windows with Debian's MinGW-w64 (g++-mingw-w64-x86-64).
#   cmake -S . -B build-windows --toolchain cmake/mingw-w64-x86_64.cmake
# or the `windows` preset. Also used for the client library (scripts/build-mysql-client-mingw.sh).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${MINGW_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLET}-g++)
set(CMAKE_RC_COMPILER ${MINGW_TRIPLET}-windres)

# Libraries and headers come from the MinGW sysroot or from the client library built for Windows,
# never from the build machine; its programs are the ones run during the build.
set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLET})
if(MYSQL_CLIENT_ROOT)
  list(APPEND CMAKE_FIND_ROOT_PATH ${MYSQL_CLIENT_ROOT})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
