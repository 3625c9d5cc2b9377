// vexoMYSQL: the marun tools database client. Asks seven questions, connects to a MySQL server
// through the MySQL C API, then reads one command word at a time: query, insert, mysqlHelp,
// vexoMysql_v, closeMysql. The texts below are UTF-8 in this file and GBK bytes in the program
// (see cmake/VexoFlags.cmake).
//
// Output: standard output stays buffered and is flushed before every read of standard input,
// before anything goes to standard error (std::cerr is tied to std::cout), when the buffer is
// full, and at the end; so a value costs no system call of its own, and the bytes, and their order
// as a person sees them, are those of a flush after every line.
//
// Input: read byte by byte from the unbuffered C stream, so that the program never takes more of
// its standard input than it uses (but the one character that ends a word): when the tools shell
// started it, the words typed after closeMysql are still there for the shell.
#include <mysql.h>

#include <cstdint>
#include <cstdio>
#include <iostream>
#include <string>

static void writeErrorLine(const std::string &text) {
  std::cerr << "\033[31m" + std::string("[Error]") + "\033[0m" + text + "\n";
}

// Characters that were read from the input but are not used yet, the next one last: the one that
// ended a word, and the one after a lone CR. They are kept here, and not pushed back into the C
// stream, which takes back only one for sure.
static std::string readAhead;

// The next character of input. A CR LF line end (input written on Windows) is one '\n', as the
// Windows console gives it.
static int readChar() {
  if (!readAhead.empty()) {
    const int c = static_cast<unsigned char>(readAhead.back());
    readAhead.pop_back();
    return c;
  }
  const int c = std::getchar();
  if (c == '\r') {
    const int next = std::getchar();
    if (next == '\n') {
      return next;
    }
    if (next != EOF) {
      readAhead.push_back(static_cast<char>(next));
    }
  }
  return c;
}

// The characters that separate words, as for `std::cin >> word`.
static bool isBlank(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Reads the next word: blanks and line ends before it are skipped, and the character that ends it
// stays unread. False when the input ends before a word begins.
static bool readWord(std::string &word) {
  std::cout.flush();
  word.clear();
  int c = readChar();
  while (c != EOF && isBlank(c)) {
    c = readChar();
  }
  if (c == EOF) {
    return false;
  }
  while (c != EOF && !isBlank(c)) {
    word += static_cast<char>(c);
    c = readChar();
  }
  if (c != EOF) {
    readAhead.push_back(static_cast<char>(c));
  }
  return true;
}

// Writes the prompt and reads the answer, one word.
static bool askWord(const char *prompt, std::string &word) {
  std::cout << prompt;
  return readWord(word);
}

// Reads the rest of the current line, without its line end (which is consumed). A last line cut
// off by the end of input counts as a line. False when the input has already ended.
static bool readLine(std::string &line) {
  std::cout.flush();
  line.clear();
  int c = readChar();
  if (c == EOF) {
    return false;
  }
  while (c != EOF && c != '\n') {
    line += static_cast<char>(c);
    c = readChar();
  }
  return true;
}

// Skips exactly one character of input, whatever it is. False when the input has ended.
static bool skipOneCharacter() {
  std::cout.flush();
  return readChar() != EOF;
}

// A whole word of decimal digits whose value fits in `Number`.
template <typename Number>
static bool parseNumber(const std::string &word, Number &value) {
  Number parsed = 0;
  for (char c : word) {
    if (c < '0' || c > '9') {
      return false;
    }
    const auto digit = static_cast<Number>(c - '0');
    if (parsed > (static_cast<Number>(-1) - digit) / 10) {
      return false;
    }
    parsed = static_cast<Number>(parsed * 10 + digit);
  }
  value = parsed;
  return !word.empty();
}

// Asks for a number until a valid one is typed. False when the input ends.
template <typename Number>
static bool askNumber(const char *prompt, Number &value) {
  std::string word;
  for (;;) {
    if (!askWord(prompt, word)) {
      return false;
    }
    if (parseNumber(word, value)) {
      return true;
    }
    writeErrorLine("“" + word + "”不是有效的数字");
  }
}

// What a command that sends a statement gives back to the prompt loop.
enum class Outcome { goOn, inputEnded, failed };

static void mysqlHelp() {
  std::cout << "**********|帮助|**********\n"
               "mysqlHelp --- vexoMySQL帮助\n"
               "query --- 查询 insert --- 插入\n"
               "closeMysql --- 关闭vexoMySQL\n";
}

static void vexoMysqlVersion() {
  std::cout << "marun tools mysql\nv1.0.0\n开发语言：C++\n适用系统：windows\n岚舟工作室开发\n";
}

static Outcome query(MYSQL *conn) {
  std::string table, qr;
  if (!askWord("输入要查询的表格名称:", table) || !askWord("输入要查询的列(用逗号','隔开):", qr)) {
    return Outcome::inputEnded;
  }
  const std::string s = "SELECT " + qr + " FROM " + table;
  if (mysql_query(conn, s.c_str()) != 0) {
    std::cerr << "查询失败: " + std::string(mysql_error(conn)) + "\n";
    return Outcome::failed;
  }
  MYSQL_RES *result = mysql_store_result(conn);
  if (result == nullptr) {
    writeErrorLine("获取结果集失败: " + std::string(mysql_error(conn)));
    return Outcome::failed;
  }
  const auto num_row = static_cast<int>(mysql_field_count(conn));
  // The values are gathered in a block of about 64 KiB that goes to std::cout in one write: a
  // stream operation per value, and std::cout's own small buffer, cost more than the rest of a
  // large query. The bytes written are the same.
  std::string block;
  block.reserve(1 << 16);
  MYSQL_ROW row;
  while ((row = mysql_fetch_row(result)) != nullptr) {
    // Each value with its own length: a value may hold a NUL byte.
    const unsigned long *lengths = mysql_fetch_lengths(result);
    for (int num = 0; num < num_row; num++) {
      if (row[num] == nullptr) {
        block.append("NULL");
      } else {
        block.append(row[num], lengths[num]);
      }
      block += '\n';
    }
    if (block.size() >= (1 << 16) - 1024) {
      std::cout.write(block.data(), static_cast<std::streamsize>(block.size()));
      block.clear();
    }
  }
  std::cout.write(block.data(), static_cast<std::streamsize>(block.size()));
  mysql_free_result(result);
  return Outcome::goOn;
}

static Outcome insert(MYSQL *conn) {
  std::string table, qr, qr_1;
  if (!askWord("输入要修改的表格名称:", table) || !askWord("输入要修改的列(用逗号','隔开):", qr) ||
      !skipOneCharacter()) {
    return Outcome::inputEnded;
  }
  std::cout << "输入要插入的内容(用逗号','隔开,字符需加上'单引号'):";
  if (!readLine(qr_1)) {
    return Outcome::inputEnded;
  }
  const std::string s = "INSERT INTO " + table + " (" + qr + ") VALUES (" + qr_1 + ")";
  if (mysql_query(conn, s.c_str()) != 0) {
    writeErrorLine("插入失败：" + std::string(mysql_error(conn)));
    return Outcome::failed;
  }
  // A statement spliced to return rows (INSERT ... RETURNING) leaves them pending: they are
  // read, which makes the count known, and dropped; else every later statement would fail as out
  // of sync.
  MYSQL_RES *returned = mysql_field_count(conn) != 0 ? mysql_store_result(conn) : nullptr;
  const auto affected_rows = static_cast<int64_t>(mysql_affected_rows(conn));
  mysql_free_result(returned);
  if (affected_rows > 0) {
    std::cout << "\033[34m"
              << "[Message]"
              << "\033[0m"
              << "插入成功："
              << "受影响的行是" << affected_rows << '\n';
  } else {
    writeErrorLine("插入失败：没有受影响的行");
  }
  return Outcome::goOn;
}

int main() {
  std::ios::sync_with_stdio(false);
  // Unbuffered input: see the head of this file.
  std::setvbuf(stdin, nullptr, _IONBF, 0);

  // The connection dialogue.
  std::string host, user, password, dbtest, unix_socket;
  unsigned int port = 3306;
  unsigned long client_flag = 0;
  const bool answered = askWord("数据库(localhost或域名或IP地址):", host) &&
                        askWord("用户名:", user) && askWord("密码:", password) &&
                        askWord("数据库名称:", dbtest) &&
                        askNumber("服务器的端口号(默认 3306):", port) &&
                        askWord("Unix 系统下的套接字文件路径(默认 NULL):", unix_socket) &&
                        askNumber("客户端连接标志位(默认 0):", client_flag);
  if (!answered) {
    std::cout << '\n';  // ends the line of the unanswered prompt
    writeErrorLine("输入已结束，未连接");
    return 1;
  }

  MYSQL *conn = mysql_init(nullptr);
  if (conn == nullptr) {
    writeErrorLine("连接失败: 无法初始化连接");
    return 1;
  }
  // The console's bytes are GBK; the library's default connection character set is not.
  mysql_options(conn, MYSQL_SET_CHARSET_NAME, "gbk");
  // The answer NULL stands for no socket path: the library's default.
  if (mysql_real_connect(conn, host.c_str(), user.c_str(), password.c_str(), dbtest.c_str(), port,
                         unix_socket == "NULL" ? nullptr : unix_socket.c_str(),
                         client_flag) == nullptr) {
    writeErrorLine("连接失败: " + std::string(mysql_error(conn)));
    mysql_close(conn);  // releases the handle; no connection is open
    return 1;
  }
  std::cout << "成功连接MySQL!\n";

  // The command prompt loop.
  std::cout << "marun tools mysql:输入“mysqlHelp”寻求帮助\n";
  std::string mysqlDirectives;
  uint64_t i = 0;
  while (i == 0) {
    std::cout << "vexo-1.2.0/vexoMySQL.exe/> ";
    Outcome outcome = Outcome::goOn;
    if (!readWord(mysqlDirectives)) {
      outcome = Outcome::inputEnded;
    } else if (mysqlDirectives == "mysqlHelp") {
      mysqlHelp();
    } else if (mysqlDirectives == "query") {
      outcome = query(conn);
    } else if (mysqlDirectives == "insert") {
      outcome = insert(conn);
    } else if (mysqlDirectives == "closeMysql") {
      i++;
    } else if (mysqlDirectives == "vexoMysql_v") {
      vexoMysqlVersion();
    } else {
      writeErrorLine("“" + mysqlDirectives + "”不是vexoMySQL指令");
    }
    if (outcome == Outcome::failed) {
      mysql_close(conn);
      return 1;
    }
    if (outcome == Outcome::inputEnded) {
      // Input has ended: leave as closeMysql would, on a line of our own.
      std::cout << '\n';
      break;
    }
  }
  mysql_close(conn);
  return 0;
}
