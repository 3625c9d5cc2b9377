// End-to-end tests of the database client against a real MariaDB server: the built program, fed
// through its standard input. The server is the throwaway one that the CTest fixture of
// tests/CMakeLists.txt starts (scripts/mariadb-sandbox.sh) and fills (vexoMYSQL_fixture.sql);
// its coordinates come from the server.env file in the sandbox folder.
//
// This file is compiled with the programs' GBK execution character set, so the Chinese literals
// below are the same GBK bytes that the program must write. UTF-8 texts are written as u8"".
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "client_texts.h"
#include "process.h"

using namespace vexotest;

namespace {

// ---------------------------------------------------------------------------------------------
// The client's texts (GBK)

const std::string errorTag = "\033[31m[Error]\033[0m";
const std::string messageTag = "\033[34m[Message]\033[0m";

using clienttexts::allQuestions;
using clienttexts::connected;
using clienttexts::firstQuestions;
using clienttexts::prompt;
using clienttexts::questions;

const std::string helpText =
    "**********|帮助|**********\n"
    "mysqlHelp --- vexoMySQL帮助\n"
    "query --- 查询 insert --- 插入\n"
    "closeMysql --- 关闭vexoMySQL\n";

const std::string versionText =
    "marun tools mysql\nv1.0.0\n开发语言：C++\n适用系统：windows\n岚舟工作室开发\n";

const std::string askQueryTable = "输入要查询的表格名称:";
const std::string askQueryColumns = "输入要查询的列(用逗号','隔开):";
const std::string askQuery = askQueryTable + askQueryColumns;
const std::string askInsertTable = "输入要修改的表格名称:";
const std::string askInsertColumns = "输入要修改的列(用逗号','隔开):";
const std::string askValues = "输入要插入的内容(用逗号','隔开,字符需加上'单引号'):";
const std::string askInsert = askInsertTable + askInsertColumns + askValues;

const std::string inputEnded = errorTag + "输入已结束，未连接\n";
const std::string noRowsAffected = errorTag + "插入失败：没有受影响的行\n";

std::string inserted(int rows) {
  return messageTag + "插入成功：受影响的行是" + std::to_string(rows) + "\n";
}

std::string notACommand(const std::string &word) {
  return errorTag + "“" + word + "”不是vexoMySQL指令\n";
}

std::string notANumber(const std::string &word) {
  return errorTag + "“" + word + "”不是有效的数字\n";
}

// What a run that connects writes on standard output: the seven questions, the success line, the
// greeting, then `afterGreeting`.
std::string session(const std::string &afterGreeting) {
  return lines(allQuestions + connected + afterGreeting);
}

std::string utf8(const char8_t *text) { return reinterpret_cast<const char *>(text); }

// ---------------------------------------------------------------------------------------------
// The server

std::string environmentOr(const char *name, const std::string &fallback) {
  const char *value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : fallback;
}

std::string sandboxScript() { return environmentOr("VEXO_DB_SCRIPT", VEXO_DB_SCRIPT); }

struct Server {
  std::string host, port, socket, user, password, name, adminUser;
};

// server.env is written by `printf %q`: plain words, and backslash escapes at most.
std::map<std::string, std::string> readEnvironmentFile(const std::string &path) {
  std::map<std::string, std::string> settings;
  const std::string content = readFile(path);
  size_t start = 0;
  while (start < content.size()) {
    size_t end = content.find('\n', start);
    if (end == std::string::npos) {
      end = content.size();
    }
    const std::string line = content.substr(start, end - start);
    start = end + 1;
    const size_t equals = line.find('=');
    if (line.empty() || line[0] == '#' || equals == std::string::npos) {
      continue;
    }
    std::string value;
    for (size_t k = equals + 1; k < line.size(); k++) {
      if (line[k] == '\\' && k + 1 < line.size()) {
        k++;
      }
      value += line[k];
    }
    settings[line.substr(0, equals)] = value;
  }
  return settings;
}

bool loadServer(const std::string &folder, Server &server) {
  auto settings = readEnvironmentFile(folder + "/server.env");
  server = {settings["VEXO_DB_HOST"],      settings["VEXO_DB_PORT"],     settings["VEXO_DB_SOCKET"],
            settings["VEXO_DB_USER"],      settings["VEXO_DB_PASSWORD"], settings["VEXO_DB_NAME"],
            settings["VEXO_DB_ADMIN_USER"]};
  return !server.port.empty() && !server.socket.empty() && !server.user.empty();
}

// The seven answers on one line.
std::string answers(const Server &server, const std::string &socket = "NULL",
                    const std::string &flags = "0") {
  return server.host + " " + server.user + " " + server.password + " " + server.name + " " +
         server.port + " " + socket + " " + flags + "\n";
}

// The server's own command-line client, as the administrator, in the test database; the
// connection is utf8mb4, so texts come back as UTF-8. Returns what it wrote (tab-separated rows).
std::string adminSql(const Server &server, const std::string &sql) {
  const ProcessResult result =
      runProgram({"mariadb", "--no-defaults", "--protocol=socket", "--socket=" + server.socket,
                  "--user=" + server.adminUser, "--batch", "--skip-column-names",
                  "--default-character-set=utf8mb4", "--database=" + server.name, "-e", sql},
                 "");
  EXPECT_EQ(result.exitStatus, 0) << sql << "\n" << result.err;
  return result.out;
}

class Db : public testing::Test {
 protected:
  void SetUp() override {
    const std::string folder = environmentOr("VEXO_DB_SANDBOX", VEXO_DB_SANDBOX);
    ASSERT_TRUE(loadServer(folder, server_))
        << "no server: " << folder << "/server.env is missing; the CTest fixture "
        << "vexoMYSQL.server.start starts it (or run scripts/mariadb-sandbox.sh start " << folder
        << " and load tests/vexoMYSQL_fixture.sql)";
  }
  std::string answers(const std::string &socket = "NULL", const std::string &flags = "0") const {
    return ::answers(server_, socket, flags);
  }
  ProcessResult runClient(const std::string &input, const ProcessOptions &options = {}) const {
    return runProgram(programCommand("vexoMYSQL"), input, options);
  }
  // A connected session: the answers, then `commands`.
  ProcessResult connectAndRun(const std::string &commands) const {
    return runClient(answers() + commands);
  }
  std::string sql(const std::string &statement) const { return adminSql(server_, statement); }

  Server server_;
};

// ---------------------------------------------------------------------------------------------
// The connection dialogue

using Dialogue = Db;

TEST_F(Dialogue, AllSevenAnswersOnOneLineConnect) {
  const ProcessResult result = connectAndRun("closeMysql\n");
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(result.out, session(prompt));
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.exitStatus, 0);
}

TEST_F(Dialogue, EachQuestionIsOnTheScreenBeforeItsAnswerIsRead) {
  // Each answer is written only once its question has arrived through the pipe.
  Session client(programCommand("vexoMYSQL"));
  const std::vector<std::string> given = {
      server_.host, server_.user, server_.password, server_.name, server_.port, "NULL", "0"};
  std::string expected;
  for (size_t k = 0; k < questions.size(); k++) {
    expected += questions[k];
    ASSERT_TRUE(client.waitForOutput(lines(expected), 5000)) << client.out();
    client.write(given[k] + "\n");
  }
  expected += connected + prompt;
  ASSERT_TRUE(client.waitForOutput(lines(expected), 5000)) << client.out();
  client.write("query\n");
  expected += askQueryTable;
  ASSERT_TRUE(client.waitForOutput(lines(expected), 5000)) << client.out();
  client.write("people\n");
  expected += askQueryColumns;
  ASSERT_TRUE(client.waitForOutput(lines(expected), 5000)) << client.out();
  client.write("name\n");
  expected += "alice\nbob\ncarol\n" + prompt;
  ASSERT_TRUE(client.waitForOutput(lines(expected), 5000)) << client.out();
  client.write("insert\n");
  expected += askInsertTable;
  ASSERT_TRUE(client.waitForOutput(lines(expected), 5000)) << client.out();
  client.write("ins_interactive\n");
  expected += askInsertColumns;
  ASSERT_TRUE(client.waitForOutput(lines(expected), 5000)) << client.out();
  client.write("id,name\n");
  expected += askValues;
  ASSERT_TRUE(client.waitForOutput(lines(expected), 5000)) << client.out();
  client.write("1, 'typed'\n");
  expected += inserted(1) + prompt;
  ASSERT_TRUE(client.waitForOutput(lines(expected), 5000)) << client.out();
  client.write("closeMysql\n");
  const ProcessResult result = client.finish(true);
  EXPECT_EQ(result.out, lines(expected));
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(sql("SELECT id, name FROM ins_interactive"), "1\ttyped\n");
}

TEST_F(Dialogue, ALineEndAloneAtThePortQuestionWaitsForANumber) {
  Session client(programCommand("vexoMYSQL"));
  client.write(server_.host + " " + server_.user + " " + server_.password + " " + server_.name +
               "\n\n\n  \n");
  ASSERT_TRUE(client.waitForOutput(lines(firstQuestions(5)), 5000)) << client.out();
  EXPECT_FALSE(client.waitForOutput(questions[5], 500)) << "an empty answer was taken";
  client.write(server_.port + "\nNULL\n0\ncloseMysql\n");
  const ProcessResult result = client.finish(true);
  EXPECT_EQ(result.out, session(prompt));
  EXPECT_EQ(result.exitStatus, 0);
}

TEST_F(Dialogue, WrongPasswordEndsWithTheLibrarysReason) {
  const ProcessResult result =
      runClient(server_.host + " " + server_.user + " wrong-password " + server_.name + " " +
                server_.port + " NULL 0\nmysqlHelp\n");
  EXPECT_EQ(result.out, lines(allQuestions));
  EXPECT_EQ(result.err, lines(errorTag + "连接失败: Access denied for user '" + server_.user +
                              "'@'127.0.0.1' (using password: YES)\n"));
  EXPECT_EQ(result.exitStatus, 1);
}

TEST_F(Dialogue, AMissingDatabaseOrServerFailsTheSameWay) {
  ProcessResult result = runClient(server_.host + " " + server_.user + " " + server_.password +
                                   " no_such_database " + server_.port + " NULL 0\n");
  EXPECT_EQ(result.out, lines(allQuestions));
  EXPECT_EQ(result.err, lines(errorTag + "连接失败: Access denied for user '" + server_.user +
                              "'@'127.0.0.1' to database 'no_such_database'\n"));
  EXPECT_EQ(result.exitStatus, 1);

  // Port 1 on the loopback: nothing listens there.
  result = runClient("127.0.0.1 " + server_.user + " " + server_.password + " " + server_.name +
                     " 1 NULL 0\n");
  EXPECT_EQ(result.out, lines(allQuestions));
  EXPECT_TRUE(result.err.starts_with(errorTag + "连接失败: Can't connect to server on '127.0.0.1'"))
      << result.err;
  EXPECT_EQ(result.exitStatus, 1);
}

TEST_F(Dialogue, APasswordWithABlankMovesTheLaterAnswersDown) {
  // "pass word": "pass" is the password, "word" the database, the database name meets the port
  // question and is refused there; the rest connects nowhere (wrong password).
  const ProcessResult result = runClient(server_.host + " " + server_.user + " pass word " +
                                         server_.name + " " + server_.port + " NULL 0\n");
  EXPECT_EQ(result.out, lines(firstQuestions(5) + questions[4] + questions[5] + questions[6]));
  EXPECT_EQ(result.err,
            lines(notANumber(server_.name) + errorTag + "连接失败: Access denied for user '" +
                  server_.user + "'@'127.0.0.1' (using password: YES)\n"));
  EXPECT_EQ(result.exitStatus, 1);
}

TEST_F(Dialogue, PortAndFlagsMustBeWholeNumbersThatFit) {
  // Every refused word gets its line and the same question again; nothing of it leaks into the
  // next answer (the socket answer that follows is NULL, not a rest of "3306abc"). A number with
  // leading zeros is a number.
  const std::vector<std::string> badPorts = {
      "abc", "3306abc", "-1", "+1", "4294967296", "99999999999999999999", "1.5", "端口"};
  const std::vector<std::string> badFlags = {"x", "0x2", "-0", "18446744073709551616", "2,"};
  std::string input =
      server_.host + " " + server_.user + " " + server_.password + " " + server_.name + "\n";
  std::string out = firstQuestions(4), err;
  for (const std::string &word : badPorts) {
    input += word + "\n";
    out += questions[4];
    err += notANumber(word);
  }
  input += "000" + server_.port + "\nNULL\n";
  out += questions[4] + questions[5];
  for (const std::string &word : badFlags) {
    input += word + " ";
    out += questions[6];
    err += notANumber(word);
  }
  input += "0\nquery people id\ncloseMysql\n";
  out += questions[6] + connected + prompt + askQuery + "1\n2\n3\n" + prompt;
  const ProcessResult result = runClient(input);
  EXPECT_EQ(result.out, lines(out));
  EXPECT_EQ(result.err, lines(err));
  EXPECT_EQ(result.exitStatus, 0);
}

TEST_F(Dialogue, TheClientFlagsReachTheLibrary) {
  // CLIENT_FOUND_ROWS (2): an upsert that changes nothing counts the row it found.
  const std::string upsert = "insert ins_found_rows id\n1) ON DUPLICATE KEY UPDATE id=(1\n";
  ProcessResult result = runClient(answers("NULL", "2") + upsert + "closeMysql\n");
  EXPECT_EQ(result.out, session(prompt + askInsert + inserted(1) + prompt));
  EXPECT_EQ(result.err, "");
  result = runClient(answers("NULL", "0") + upsert + "closeMysql\n");
  EXPECT_EQ(result.out, session(prompt + askInsert + prompt));
  EXPECT_EQ(result.err, lines(noRowsAffected));
}

TEST_F(Dialogue, LocalhostWithTheSocketAnswerNullUsesTheLibrarysDefaultSocket) {
  if (testingWindowsPrograms()) {
    GTEST_SKIP() << "Windows has no Unix socket: there the answer names a pipe, and the server "
                    "here listens on none";
  }
  // libmariadb's default socket path can be set through MYSQL_UNIX_PORT: with it pointing at the
  // test server, the answer NULL connects, so no socket path was handed on.
  ProcessOptions options;
  options.environment = {"MYSQL_UNIX_PORT=" + server_.socket};
  const std::string localAnswers =
      "localhost " + server_.user + " " + server_.password + " " + server_.name + " 3306 ";
  ProcessResult result =
      runClient(localAnswers + "NULL 0\nquery people name\ncloseMysql\n", options);
  EXPECT_EQ(result.out, session(prompt + askQuery + "alice\nbob\ncarol\n" + prompt));
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.exitStatus, 0);

  // The default is really what it used: pointed elsewhere, the same answers fail there.
  options.environment = {"MYSQL_UNIX_PORT=/nonexistent/default.sock"};
  result = runClient(localAnswers + "NULL 0\n", options);
  EXPECT_EQ(result.out, lines(allQuestions));
  EXPECT_TRUE(result.err.starts_with(errorTag + "连接失败: Can't connect to local server through "
                                                "socket '/nonexistent/default.sock'"))
      << result.err;
  EXPECT_EQ(result.exitStatus, 1);

  // Any other answer is the socket path, as typed.
  result = runClient(localAnswers + server_.socket + " 0\nquery people id\ncloseMysql\n", options);
  EXPECT_EQ(result.out, session(prompt + askQuery + "1\n2\n3\n" + prompt));
  EXPECT_EQ(result.exitStatus, 0);
  result = runClient(localAnswers + "/nonexistent/typed.sock 0\n", options);
  EXPECT_TRUE(result.err.starts_with(errorTag + "连接失败: Can't connect to local server through "
                                                "socket '/nonexistent/typed.sock'"))
      << result.err;
  EXPECT_EQ(result.exitStatus, 1);
}

TEST_F(Dialogue, AnswersHaveNoLengthLimit) {
  // A password of 300 characters (the user longpw of the fixture) connects.
  const std::string longPassword(300, 'p');
  ProcessResult result = runClient(server_.host + " longpw " + longPassword + " " + server_.name +
                                   " " + server_.port + " NULL 0\nquery people name\ncloseMysql\n");
  EXPECT_EQ(result.out, session(prompt + askQuery + "alice\nbob\ncarol\n" + prompt));
  EXPECT_EQ(result.err, "");
  // Cut at 224 characters, it would not.
  result = runClient(server_.host + " longpw " + longPassword.substr(0, 224) + " " + server_.name +
                     " " + server_.port + " NULL 0\n");
  EXPECT_TRUE(result.err.starts_with(errorTag + "连接失败: Access denied for user 'longpw'"))
      << result.err;
  // A host name of 5000 characters is handed on whole: the library refuses it, nothing breaks.
  result = runClient(std::string(5000, 'h') + " " + server_.user + " x y 3306 NULL 0\n");
  EXPECT_EQ(result.out, lines(allQuestions));
  EXPECT_TRUE(result.err.starts_with(errorTag + "连接失败: ")) << result.err;
  EXPECT_EQ(result.exitStatus, 1);
}

TEST_F(Dialogue, EndOfInputAtEachQuestionEndsWithoutConnecting) {
  const std::vector<std::string> given = {server_.host, server_.user, server_.password,
                                          server_.name, server_.port, "NULL"};
  std::string input;
  for (size_t answered = 0; answered <= given.size(); answered++) {
    const ProcessResult result = runClient(input);
    EXPECT_EQ(result.out, lines(firstQuestions(answered + 1) + "\n")) << answered;
    EXPECT_EQ(result.err, lines(inputEnded)) << answered;
    EXPECT_EQ(result.exitStatus, 1) << answered;
    if (answered < given.size()) {
      input += given[answered] + (answered % 2 == 0 ? "\n" : " \t ");
    }
  }
  // After a refused number, and after blanks only.
  ProcessResult result = runClient(server_.host + " u p d abc");
  EXPECT_EQ(result.out, lines(firstQuestions(5) + questions[4] + "\n"));
  EXPECT_EQ(result.err, lines(notANumber("abc") + inputEnded));
  EXPECT_EQ(result.exitStatus, 1);
  result = runClient(" \n\t\n");
  EXPECT_EQ(result.out, lines(questions[0] + "\n"));
  EXPECT_EQ(result.err, lines(inputEnded));
  EXPECT_EQ(result.exitStatus, 1);
}

// ---------------------------------------------------------------------------------------------
// The command prompt loop

using Shell = Db;

TEST_F(Shell, HelpVersionAndRejectionTexts) {
  const ProcessResult result = connectAndRun(
      "mysqlHelp\nvexoMysql_v\nclosemysql MySQLHelp MYSQL help 帮助 query,\n"
      "closeMysql\n");
  EXPECT_EQ(result.out, session(prompt + helpText + prompt + versionText + prompt + prompt +
                                prompt + prompt + prompt + prompt + prompt));
  EXPECT_EQ(result.err,
            lines(notACommand("closemysql") + notACommand("MySQLHelp") + notACommand("MYSQL") +
                  notACommand("help") + notACommand("帮助") + notACommand("query,")));
  EXPECT_EQ(result.exitStatus, 0);
}

TEST_F(Shell, SeveralCommandsOnOneLineAndNothingAfterCloseMysql) {
  const ProcessResult result = connectAndRun("vexoMysql_v mysqlHelp closeMysql mysqlHelp\nquery\n");
  EXPECT_EQ(result.out, session(prompt + versionText + prompt + helpText + prompt));
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.exitStatus, 0);
}

TEST_F(Shell, BlankLinesAtThePromptAreSkippedWithoutANewPrompt) {
  // The last word is cut off by the end of input and is still a word.
  const ProcessResult result = connectAndRun("\n\n \t \n mysqlHelp\r\n\n closeMysql");
  EXPECT_EQ(result.out, session(prompt + helpText + prompt));
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.exitStatus, 0);
}

TEST_F(Shell, StandardOutputAndErrorKeepTheOrderAPersonSees) {
  // Both streams into one pipe, as on a console: every line is where it belongs.
  std::vector<std::string> command = {"/bin/sh", "-c", "exec \"$@\" 2>&1", "sh"};
  for (const std::string &word : programCommand("vexoMYSQL")) {
    command.push_back(word);
  }
  const ProcessResult result =
      runProgram(command, server_.host + " " + server_.user + " " + server_.password + " " +
                              server_.name + " x " + server_.port +
                              " NULL 0\nnope mysqlHelp insert ins_no_rows id\n"
                              "1) ON DUPLICATE KEY UPDATE id=(1\nquery no_such_table *\n");
  EXPECT_EQ(result.out,
            lines(firstQuestions(5) + notANumber("x") + questions[4] + questions[5] + questions[6] +
                  connected + prompt + notACommand("nope") + prompt + helpText + prompt +
                  askInsert + noRowsAffected + prompt + askQuery + "查询失败: Table '" +
                  server_.name + ".no_such_table' doesn't exist\n"));
  EXPECT_EQ(result.exitStatus, 1);
}

TEST_F(Shell, EndOfInputAtThePromptClosesAndEndsWithZero) {
  ProcessResult result = connectAndRun("");
  EXPECT_EQ(result.out, session(prompt + "\n"));
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.exitStatus, 0);
  result = connectAndRun("mysqlHelp\n\n  \n");
  EXPECT_EQ(result.out, session(prompt + helpText + prompt + "\n"));
  EXPECT_EQ(result.exitStatus, 0);
}

// ---------------------------------------------------------------------------------------------
// query

using Query = Db;

TEST_F(Query, NamedColumnsWriteOneValuePerLineRowAfterRow) {
  const ProcessResult result = connectAndRun(
      "query people id,name\nquery\nempty_table\nid\n"
      "query people name,id closeMysql\n");
  EXPECT_EQ(result.out,
            session(prompt + askQuery + "1\nalice\n2\nbob\n3\ncarol\n" + prompt + askQuery +
                    prompt + askQuery + "alice\n1\nbob\n2\ncarol\n3\n" + prompt));
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.exitStatus, 0);
}

TEST_F(Query, StarSelectsEveryColumn) {
  const ProcessResult result = connectAndRun("query\npeople\n*\nquery empty_table *\ncloseMysql\n");
  EXPECT_EQ(result.out, session(prompt + askQuery + "1\nalice\n2\nbob\n3\ncarol\n" + prompt +
                                askQuery + prompt));
  EXPECT_EQ(result.exitStatus, 0);
}

TEST_F(Query, SqlNullIsWrittenAsNullInItsPlace) {
  const ProcessResult result = connectAndRun("query with_nulls * closeMysql\n");
  EXPECT_EQ(result.out, session(prompt + askQuery + "1\nNULL\nx\n2\ny\nNULL\n" + prompt));
  EXPECT_EQ(result.exitStatus, 0);
}

TEST_F(Query, AValueHoldingANulByteIsWrittenWhole) {
  const ProcessResult result = connectAndRun("query binary_values v,id closeMysql\n");
  EXPECT_EQ(result.out,
            session(prompt + askQuery + std::string("a\0b\n1\n\0\xff\n\n2\n", 12) + prompt));
  EXPECT_EQ(result.exitStatus, 0);
}

TEST_F(Query, ManyRowsComeOutWholeAndInOrder) {
  std::string expected;
  for (int k = 1; k <= 5000; k++) {
    expected += std::to_string(k) + "\nrow-" + std::to_string(k) + "\n";
  }
  const ProcessResult result = connectAndRun("query many_rows * query many_rows * closeMysql\n");
  EXPECT_EQ(result.out,
            session(prompt + askQuery + expected + prompt + askQuery + expected + prompt));
  EXPECT_EQ(result.exitStatus, 0);
}

TEST_F(Query, AColumnListWithABlankIsCutAndTheUntaggedFailureEndsTheProgram) {
  const ProcessResult result = connectAndRun("query people id, name\nmysqlHelp\n");
  EXPECT_EQ(result.out, session(prompt + askQuery));
  EXPECT_EQ(result.err,
            lines("查询失败: You have an error in your SQL syntax; check the manual that "
                  "corresponds to your MariaDB server version for the right syntax to use near "
                  "'FROM people' at line 1\n"));
  EXPECT_EQ(result.exitStatus, 1);
}

TEST_F(Query, AnUnknownTableOrColumnEndsTheProgram) {
  ProcessResult result = connectAndRun("query no_such_table *\ncloseMysql\n");
  EXPECT_EQ(result.out, session(prompt + askQuery));
  EXPECT_EQ(result.err,
            lines("查询失败: Table '" + server_.name + ".no_such_table' doesn't exist\n"));
  EXPECT_EQ(result.exitStatus, 1);
  result = connectAndRun("query people nope\ncloseMysql\n");
  // The server's wording after the column name differs between versions.
  EXPECT_TRUE(result.err.starts_with("查询失败: Unknown column 'nope' in '")) << result.err;
  EXPECT_EQ(result.err.find('\n'), result.err.size() - 1);
  EXPECT_EQ(result.exitStatus, 1);
}

// ---------------------------------------------------------------------------------------------
// insert

using Insert = Db;

TEST_F(Insert, ARowIsInsertedAndReported) {
  const ProcessResult result =
      connectAndRun("insert\nins_plain\nid,name\n1, 'one'\nquery ins_plain * closeMysql\n");
  EXPECT_EQ(result.out,
            session(prompt + askInsert + inserted(1) + prompt + askQuery + "1\none\n" + prompt));
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(sql("SELECT id, name FROM ins_plain"), "1\tone\n");
}

TEST_F(Insert, TheValuesLineIsTakenWholeWithBlanksAndQuotes) {
  const ProcessResult result = connectAndRun(
      "insert ins_quotes id,a,b\n  7 ,  'a b  c', 'say \"hi\", it''s'  \n"
      "closeMysql\n");
  EXPECT_EQ(result.out, session(prompt + askInsert + inserted(1) + prompt));
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(sql("SELECT id, a, b FROM ins_quotes"), "7\ta b  c\tsay \"hi\", it's\n");
}

TEST_F(Insert, ValuesOnTheSameLineAsTheColumnsWordAreTakenAtOnce) {
  // The one skipped character is the blank after the columns word; the prompt comes all the same.
  const ProcessResult result =
      connectAndRun("insert ins_same_line id,name 5, 'same line'\ncloseMysql\n");
  EXPECT_EQ(result.out, session(prompt + askInsert + inserted(1) + prompt));
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(sql("SELECT id, name FROM ins_same_line"), "5\tsame line\n");
}

TEST_F(Insert, ABlankBeforeTheLineEndLeavesTheValuesEmptyAndTheServerRefuses) {
  const ProcessResult result =
      connectAndRun("insert ins_empty_values id,name \n1, 'never'\ncloseMysql\n");
  EXPECT_EQ(result.out, session(prompt + askInsert));
  EXPECT_EQ(result.err,
            lines(errorTag + "插入失败：Column count doesn't match value count at row 1\n"));
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_EQ(sql("SELECT COUNT(*) FROM ins_empty_values"), "0\n");
}

TEST_F(Insert, ADuplicateKeyEndsTheProgram) {
  const ProcessResult result =
      connectAndRun("insert ins_duplicate id,name\n1, 'second'\nmysqlHelp\n");
  EXPECT_EQ(result.out, session(prompt + askInsert));
  EXPECT_EQ(result.err, lines(errorTag + "插入失败：Duplicate entry '1' for key 'PRIMARY'\n"));
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_EQ(sql("SELECT id, name FROM ins_duplicate"), "1\tfirst\n");
}

TEST_F(Insert, AStatementThatAffectsNoRowsIsReportedAndThePromptGoesOn) {
  // The values line turns the statement into an upsert that changes nothing: 0 rows affected.
  const ProcessResult result = connectAndRun(
      "insert ins_no_rows id\n1) ON DUPLICATE KEY UPDATE id=(1\nquery ins_no_rows id\n"
      "closeMysql\n");
  EXPECT_EQ(result.out, session(prompt + askInsert + prompt + askQuery + "1\n" + prompt));
  EXPECT_EQ(result.err, lines(noRowsAffected));
  EXPECT_EQ(result.exitStatus, 0);
}

TEST_F(Insert, TheValueNullStoresSqlNull) {
  const ProcessResult result =
      connectAndRun("insert ins_null id,name\n1, NULL\nquery ins_null name,id closeMysql\n");
  EXPECT_EQ(result.out,
            session(prompt + askInsert + inserted(1) + prompt + askQuery + "NULL\n1\n" + prompt));
  EXPECT_EQ(sql("SELECT id, name IS NULL FROM ins_null"), "1\t1\n");
}

TEST_F(Insert, TextWithoutQuotesReachesTheServerUnquoted) {
  const ProcessResult result = connectAndRun("insert ins_unquoted id,name\n1, abc\n");
  EXPECT_EQ(result.out, session(prompt + askInsert));
  EXPECT_TRUE(result.err.starts_with(errorTag + "插入失败：Unknown column 'abc' in '"))
      << result.err;
  EXPECT_EQ(result.exitStatus, 1);
}

TEST_F(Insert, AStatementThatReturnsRowsLeavesTheConnectionUsable) {
  // INSERT ... RETURNING, spliced in through the values line: the returned rows are dropped.
  const ProcessResult result = connectAndRun(
      "insert ins_returning id\n5), (6) RETURNING (id\nquery ins_returning id closeMysql\n");
  EXPECT_EQ(result.out,
            session(prompt + askInsert + inserted(2) + prompt + askQuery + "5\n6\n" + prompt));
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.exitStatus, 0);
}

TEST_F(Insert, EndOfInputInsideACommandClosesAndEndsWithZero) {
  struct Case {
    std::string commands, out;
  };
  const std::vector<Case> cases = {
      {"query", askQueryTable},
      {"query\npeople\n", askQuery},
      {"insert", askInsertTable},
      {"insert ins_end_of_input\n", askInsertTable + askInsertColumns},
      {"insert ins_end_of_input id,name", askInsertTable + askInsertColumns},
      {"insert ins_end_of_input id,name\n", askInsert},
  };
  for (const Case &c : cases) {
    const ProcessResult result = connectAndRun(c.commands);
    EXPECT_EQ(result.out, session(prompt + c.out + "\n")) << c.commands;
    EXPECT_EQ(result.err, "") << c.commands;
    EXPECT_EQ(result.exitStatus, 0) << c.commands;
  }
  EXPECT_EQ(sql("SELECT COUNT(*) FROM ins_end_of_input"), "0\n");
  // A values line cut off by the end of input is still a line: it is inserted.
  const ProcessResult result = connectAndRun("insert ins_end_of_input id,name\n9, 'last'");
  EXPECT_EQ(result.out, session(prompt + askInsert + inserted(1) + prompt + "\n"));
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(sql("SELECT id, name FROM ins_end_of_input"), "9\tlast\n");
}

// ---------------------------------------------------------------------------------------------
// Character set: the console's GBK against utf8mb4 columns

using CharacterSet = Db;

TEST_F(CharacterSet, ChineseStoredByTheServersOwnClientComesOutAsGbk) {
  // The fixture loaded these rows as UTF-8 through a utf8mb4 connection.
  const ProcessResult result = connectAndRun("query chinese name closeMysql\n");
  EXPECT_EQ(result.out, session(prompt + askQuery + "中文数据\n你好，世界\n岚舟工作室\n" + prompt));
  // The same bytes, spelled out: 中 is D6 D0 in GBK.
  EXPECT_NE(result.out.find(lines("\xd6\xd0\xce\xc4\xca\xfd\xbe\xdd\n")), std::string::npos);
}

TEST_F(CharacterSet, ChineseTypedAsGbkIsStoredAsTheRightCharacters) {
  const ProcessResult result = connectAndRun(
      "insert ins_chinese id,name\n1, '汉字测试'\ninsert ins_chinese id,name 2, '岚舟，你好'\n"
      "query ins_chinese name closeMysql\n");
  EXPECT_EQ(result.out,
            session(prompt + askInsert + inserted(1) + prompt + askInsert + inserted(1) + prompt +
                    askQuery + "汉字测试\n岚舟，你好\n" + prompt));
  EXPECT_EQ(result.err, "");
  // Through the server's own client, in UTF-8: the right characters, not mojibake.
  EXPECT_EQ(sql("SELECT id, name, CHAR_LENGTH(name) FROM ins_chinese ORDER BY id"),
            utf8(u8"1\t汉字测试\t4\n2\t岚舟，你好\t5\n"));
  EXPECT_EQ(sql("SELECT HEX(CONVERT(name USING utf8mb4)) FROM ins_chinese WHERE id = 1"),
            "E6B189E5AD97E6B58BE8AF95\n");
}

TEST_F(CharacterSet, TheConnectionSpeaksGbk) {
  const ProcessResult check = connectAndRun(
      "query information_schema.SESSION_VARIABLES VARIABLE_NAME,VARIABLE_VALUE closeMysql\n");
  EXPECT_NE(check.out.find(lines("CHARACTER_SET_CLIENT\ngbk\n")), std::string::npos) << check.out;
  EXPECT_NE(check.out.find(lines("CHARACTER_SET_RESULTS\ngbk\n")), std::string::npos);
  EXPECT_NE(check.out.find(lines("CHARACTER_SET_CONNECTION\ngbk\n")), std::string::npos);
  EXPECT_EQ(check.exitStatus, 0);
}

// ---------------------------------------------------------------------------------------------
// The server going away in the middle of a session: a server of this test's own

class StoppedServer : public testing::Test {
 protected:
  void SetUp() override {
    ProcessOptions options;
    options.timeoutMs = 180000;
    const ProcessResult started = runProgram({"bash", sandboxScript(), "start", dir_}, "", options);
    ASSERT_EQ(started.exitStatus, 0) << started.out << started.err;
    ASSERT_TRUE(loadServer(dir_, server_));
    adminSql(server_, "CREATE TABLE t (id INT PRIMARY KEY); INSERT INTO t VALUES (1), (2);");
  }
  void TearDown() override { stop(); }
  void stop() {
    ProcessOptions options;
    options.timeoutMs = 120000;
    const ProcessResult stopped = runProgram({"bash", sandboxScript(), "stop", dir_}, "", options);
    EXPECT_EQ(stopped.exitStatus, 0) << stopped.err;
  }
  TempDir folder_;
  std::string dir_ = folder_.path() + "/db";
  Server server_;
};

TEST_F(StoppedServer, TheNextStatementFailsCleanlyWithoutHanging) {
  ProcessOptions options;
  options.timeoutMs = 60000;
  Session querying(programCommand("vexoMYSQL"), options);
  Session inserting(programCommand("vexoMYSQL"), options);
  querying.write(answers(server_) + "query t id\n");
  inserting.write(answers(server_) + "mysqlHelp\n");
  ASSERT_TRUE(querying.waitForOutput(session(prompt + askQuery + "1\n2\n" + prompt), 10000))
      << querying.out() << querying.err();
  ASSERT_TRUE(inserting.waitForOutput(session(prompt + helpText + prompt), 10000))
      << inserting.out() << inserting.err();

  stop();

  querying.write("query t id\n");
  inserting.write("insert t id\n3\n");
  const ProcessResult queried = querying.finish(true);
  const ProcessResult insertedRow = inserting.finish(true);
  EXPECT_FALSE(queried.timedOut);
  EXPECT_EQ(queried.out, session(prompt + askQuery + "1\n2\n" + prompt + askQuery));
  EXPECT_TRUE(queried.err.starts_with("查询失败: ")) << queried.err;
  EXPECT_TRUE(queried.err.find("gone away") != std::string::npos ||
              queried.err.find("Lost connection") != std::string::npos)
      << queried.err;
  EXPECT_EQ(queried.err.find('\n'), queried.err.size() - 1) << "one line";
  EXPECT_EQ(queried.exitStatus, 1);

  EXPECT_FALSE(insertedRow.timedOut);
  EXPECT_EQ(insertedRow.out, session(prompt + helpText + prompt + askInsert));
  EXPECT_TRUE(insertedRow.err.starts_with(errorTag + "插入失败：")) << insertedRow.err;
  EXPECT_EQ(insertedRow.err.find('\n'), insertedRow.err.size() - 1) << "one line";
  EXPECT_EQ(insertedRow.exitStatus, 1);
}

// ---------------------------------------------------------------------------------------------
// Failures that a real library does not give on demand: a preloaded stand-in for one function

class LibraryFault : public Db {
 protected:
  void SetUp() override {
    if (testingWindowsPrograms()) {
      GTEST_SKIP() << "LD_PRELOAD is Linux, and vexoMYSQL.exe has the library linked in";
    }
    Db::SetUp();
  }
  ProcessOptions faulty(const std::string &function) const {
    ProcessOptions options;
    options.environment = {"LD_PRELOAD=" VEXO_FAULT_SHIM, "VEXO_FAULT=" + function,
                           // In the sanitizer build the stand-in comes before the ASan runtime.
                           "ASAN_OPTIONS=exitcode=86:detect_leaks=1:abort_on_error=0:"
                           "verify_asan_link_order=0"};
    return options;
  }
};

TEST_F(LibraryFault, NoHandleFromMysqlInit) {
  const ProcessResult result = runClient(answers() + "closeMysql\n", faulty("mysql_init"));
  EXPECT_EQ(result.out, lines(allQuestions));
  EXPECT_EQ(result.err, lines(errorTag + "连接失败: 无法初始化连接\n"));
  EXPECT_EQ(result.exitStatus, 1);
}

TEST_F(LibraryFault, NoResultSetFromMysqlStoreResult) {
  const ProcessResult result =
      runClient(answers() + "query people id\ncloseMysql\n", faulty("mysql_store_result"));
  EXPECT_EQ(result.out, session(prompt + askQuery));
  EXPECT_EQ(result.err, lines(errorTag + "获取结果集失败: \n"));
  EXPECT_EQ(result.exitStatus, 1);
}

// ---------------------------------------------------------------------------------------------
// MYSQL in the tools shell: vexo starts the real vexoMYSQL.exe beside it

const std::string vexoGreeting = "\033[0mmarun tools:输入“help”寻求帮助\n";
const std::string vexoPrompt = "vexo-1.2.0/> ";
const std::string vexoVersion =
    "marun tools\nv1.2.0\n开发语言：C++\n适用系统：windows\n岚舟工作室开发\n";

class ToolsShell : public Db {
 protected:
  // Windows' cmd finds vexoMYSQL.exe in the current folder; on Linux vexo puts its own folder on
  // PATH.
  ProcessResult runVexo(const std::string &input) const {
    ProcessOptions options;
    if (testingWindowsPrograms()) {
      options.workingDirectory = std::filesystem::path(programPath("vexo")).parent_path().string();
    }
    return runProgram(programCommand("vexo"), input, options);
  }
};

TEST_F(ToolsShell, MysqlRunsAWholeSessionAndTheShellPromptComesBack) {
  // The whole session typed ahead in one go: the client takes its words, the shell the rest.
  const ProcessResult result = runVexo("MYSQL\n" + answers() +
                                       "query people id,name\ninsert ins_shell id,name\n1, '汉字'\n"
                                       "closeMysql\nvexo_v\nclose\n");
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(result.out, lines(vexoGreeting + vexoPrompt + allQuestions + connected + prompt +
                              askQuery + "1\nalice\n2\nbob\n3\ncarol\n" + prompt + askInsert +
                              inserted(1) + prompt + vexoPrompt + vexoVersion + vexoPrompt));
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(sql("SELECT id, name FROM ins_shell"), utf8(u8"1\t汉字\n"));
}

TEST_F(ToolsShell, AFailedConnectionReturnsToTheShellPrompt) {
  const ProcessResult result =
      runVexo("MYSQL\n" + server_.host + " " + server_.user + " wrong " + server_.name + " " +
              server_.port + " NULL 0\nvexo_v\nclose\n");
  EXPECT_EQ(result.out, lines(vexoGreeting + vexoPrompt + allQuestions + vexoPrompt + vexoVersion +
                              vexoPrompt));
  EXPECT_EQ(result.err, lines(errorTag + "连接失败: Access denied for user '" + server_.user +
                              "'@'127.0.0.1' (using password: YES)\n"));
  EXPECT_EQ(result.exitStatus, 0);
}

TEST_F(ToolsShell, AFailedStatementAndTheEndOfInputReturnToTheShell) {
  ProcessResult result = runVexo("MYSQL\n" + answers() + "query no_such_table *\nclose\n");
  EXPECT_EQ(result.out, lines(vexoGreeting + vexoPrompt + allQuestions + connected + prompt +
                              askQuery + vexoPrompt));
  EXPECT_EQ(result.err,
            lines("查询失败: Table '" + server_.name + ".no_such_table' doesn't exist\n"));
  EXPECT_EQ(result.exitStatus, 0);
  // The input ends inside the client: it leaves on a line of its own, and so does the shell.
  result = runVexo("MYSQL\n" + answers() + "mysqlHelp");
  EXPECT_EQ(result.out, lines(vexoGreeting + vexoPrompt + allQuestions + connected + prompt +
                              helpText + prompt + "\n" + vexoPrompt + "\n"));
  EXPECT_EQ(result.exitStatus, 0);
}

// ---------------------------------------------------------------------------------------------
// Memory: many statements under valgrind's memcheck (its own CTest test, vexoMYSQL.valgrind)

class Valgrind : public Db {
 protected:
  void SetUp() override {
#ifdef VEXO_SANITIZE_BUILD
    GTEST_SKIP() << "the sanitizer build is checked by ASan and LeakSanitizer instead";
#endif
    if (testingWindowsPrograms()) {
      GTEST_SKIP() << "valgrind runs Linux programs";
    }
    if (runProgram({"/bin/sh", "-c", "command -v valgrind"}, "").exitStatus != 0) {
      GTEST_SKIP() << "valgrind is not installed";
    }
    Db::SetUp();
  }
  // Runs the client under memcheck; the log goes to `log`. Leaks of the kinds definite and
  // indirect count as errors, and any error makes the exit status 99.
  ProcessResult runUnderValgrind(const std::string &input, const std::string &log) const {
    ProcessOptions options;
    options.timeoutMs = 500000;
    return runProgram(
        {"valgrind", "--tool=memcheck", "--leak-check=full", "--show-leak-kinds=definite,indirect",
         "--errors-for-leak-kinds=definite,indirect", "--error-exitcode=99", "--log-file=" + log,
         programPath("vexoMYSQL")},
        input, options);
  }
  static void expectNoLeak(const std::string &log) {
    const std::string text = readFile(log);
    EXPECT_NE(text.find("ERROR SUMMARY: 0 errors"), std::string::npos) << text;
    const bool noneAtAll = text.find("All heap blocks were freed") != std::string::npos;
    const bool noneLost = text.find("definitely lost: 0 bytes in 0 blocks") != std::string::npos &&
                          text.find("indirectly lost: 0 bytes in 0 blocks") != std::string::npos;
    EXPECT_TRUE(noneAtAll || noneLost) << text;
    // The figures, for the record.
    const size_t heap = text.find("HEAP SUMMARY");
    if (heap != std::string::npos) {
      std::cout << text.substr(heap, text.find("For lists", heap) - heap) << std::endl;
    }
  }
  TempDir folder_;
};

TEST_F(Valgrind, ManyQueriesAndInsertsLeakNothing) {
  constexpr int rounds = 1000;  // 1,000 inserts and 1,000 queries
  std::string input = answers();
  std::string expected = prompt;
  std::string table;
  for (int k = 1; k <= rounds; k++) {
    const std::string id = std::to_string(k);
    input += "insert ins_valgrind id,name\n" + id + ", '第" + id + "行'\nquery ins_valgrind name\n";
    table += "第" + id + "行\n";
    expected += askInsert + inserted(1) + prompt + askQuery + table + prompt;
  }
  input += "closeMysql\n";
  const std::string log = folder_.path() + "/memcheck.log";
  const ProcessResult result = runUnderValgrind(input, log);
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(result.exitStatus, 0) << readFile(log);
  EXPECT_TRUE(result.out == session(expected)) << "the output differs";
  EXPECT_EQ(result.err, "");
  expectNoLeak(log);
}

TEST_F(Valgrind, EveryOtherEndLeaksNothing) {
  // The end of input at the prompt, a refused statement, a failed connection, no connection.
  const std::vector<std::string> inputs = {
      answers() + "query people * mysqlHelp",
      answers() + "insert people id\n1\n",
      answers() + "query no_such_table *\n",
      server_.host + " " + server_.user + " wrong x " + server_.port + " NULL 0\n",
      server_.host + " " + server_.user + " abc",
  };
  for (size_t k = 0; k < inputs.size(); k++) {
    const std::string log = folder_.path() + "/memcheck-" + std::to_string(k) + ".log";
    const ProcessResult result = runUnderValgrind(inputs[k], log);
    EXPECT_NE(result.exitStatus, 99) << readFile(log);
    expectNoLeak(log);
  }
}

}  // namespace
