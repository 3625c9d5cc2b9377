// The floor of the query benchmark: the least work any client must do to show a result set.
// Connects like the database client, stores the whole result, and writes every value and a
// newline through one stdio buffer, with no prompts and no per-value flush.
//
// Usage: vexo_bench_floor HOST PORT USER PASSWORD DATABASE SOCKET STATEMENT
#include <mysql.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char **argv) {
  if (argc != 8) {
    std::fprintf(stderr, "usage: %s HOST PORT USER PASSWORD DATABASE SOCKET STATEMENT\n", argv[0]);
    return 2;
  }
  const char *host = argv[1];
  unsigned int port = static_cast<unsigned int>(std::strtoul(argv[2], nullptr, 10));
  const char *statement = argv[7];

  static char buffer[1 << 16];
  std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);

  MYSQL *conn = mysql_init(nullptr);
  // The values must arrive as the GBK bytes that the client receives.
  mysql_options(conn, MYSQL_SET_CHARSET_NAME, "gbk");
  if (mysql_real_connect(conn, host, argv[3], argv[4], argv[5], port, argv[6], 0) == nullptr ||
      mysql_query(conn, statement) != 0) {
    std::fprintf(stderr, "%s\n", mysql_error(conn));
    return 1;
  }
  MYSQL_RES *result = mysql_store_result(conn);
  if (result == nullptr) {
    std::fprintf(stderr, "%s\n", mysql_error(conn));
    return 1;
  }
  unsigned int columns = mysql_num_fields(result);
  while (MYSQL_ROW row = mysql_fetch_row(result)) {
    unsigned long *lengths = mysql_fetch_lengths(result);
    for (unsigned int column = 0; column < columns; ++column) {
      // One thread only: the stream needs no lock per value.
      if (row[column] == nullptr) {
        fwrite_unlocked("NULL\n", 1, 5, stdout);
      } else {
        fwrite_unlocked(row[column], 1, lengths[column], stdout);
        putc_unlocked('\n', stdout);
      }
    }
  }
  mysql_free_result(result);
  mysql_close(conn);
  return std::fflush(stdout) == 0 ? 0 : 1;
}
