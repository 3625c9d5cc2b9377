// A stand-in for one function of the MySQL client library, preloaded (LD_PRELOAD) into the
// database client by tests that need a failure the real library does not give on demand.
// VEXO_FAULT names the function that fails: mysql_init (no handle) or mysql_store_result (no
// result set). Every other call goes to the real library.
#include <dlfcn.h>
#include <mysql.h>

#include <cstdlib>
#include <cstring>

namespace {

bool faulty(const char *function) {
  const char *fault = std::getenv("VEXO_FAULT");
  return fault != nullptr && std::strcmp(fault, function) == 0;
}

template <typename Function>
Function real(const char *name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" MYSQL *STDCALL mysql_init(MYSQL *mysql) {
  if (faulty("mysql_init")) {
    return nullptr;
  }
  return real<MYSQL *(STDCALL *)(MYSQL *)>("mysql_init")(mysql);
}

extern "C" MYSQL_RES *STDCALL mysql_store_result(MYSQL *mysql) {
  if (faulty("mysql_store_result")) {
    return nullptr;
  }
  return real<MYSQL_RES *(STDCALL *)(MYSQL *)>("mysql_store_result")(mysql);
}
