# Finds the MySQL C API and provides it as the imported target MysqlClient::MysqlClient.
#
# On Linux: Debian's libmariadb-dev through pkg-config (module libmariadb, else mysqlclient).
# For Windows: a static client library built by scripts/, given as MYSQL_CLIENT_ROOT.
if(TARGET MysqlClient::MysqlClient)
  return()
endif()

set(MYSQL_CLIENT_ROOT "" CACHE PATH "Install folder of a client library built for the target")

add_library(MysqlClient::MysqlClient INTERFACE IMPORTED)
if(MYSQL_CLIENT_ROOT)
  find_path(MYSQL_CLIENT_INCLUDE_DIR mysql.h PATHS ${MYSQL_CLIENT_ROOT}/include
            PATH_SUFFIXES mariadb mysql NO_DEFAULT_PATH REQUIRED)
  find_library(MYSQL_CLIENT_LIBRARY NAMES mariadbclient libmariadbclient
               PATHS ${MYSQL_CLIENT_ROOT}/lib PATH_SUFFIXES mariadb NO_DEFAULT_PATH REQUIRED)
  target_include_directories(MysqlClient::MysqlClient INTERFACE ${MYSQL_CLIENT_INCLUDE_DIR})
  target_link_libraries(MysqlClient::MysqlClient INTERFACE ${MYSQL_CLIENT_LIBRARY})
  if(WIN32)
    target_link_libraries(MysqlClient::MysqlClient
                          INTERFACE ws2_32 advapi32 shlwapi crypt32 secur32 bcrypt)
  endif()
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(MYSQL_CLIENT IMPORTED_TARGET libmariadb)
  if(NOT MYSQL_CLIENT_FOUND)
    pkg_check_modules(MYSQL_CLIENT REQUIRED IMPORTED_TARGET mysqlclient)
  endif()
  target_link_libraries(MysqlClient::MysqlClient INTERFACE PkgConfig::MYSQL_CLIENT)
endif()
