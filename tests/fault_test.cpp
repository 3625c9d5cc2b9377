// Fault tests of both programs: input that no person would type (words of 1 MiB, NUL bytes,
// bytes that are not GBK, CR LF line ends), an output that cannot be written, a full disk, and a
// database server that is killed, frozen or never answers. The built programs run through their
// standard streams, as in the other tests, against real MariaDB servers: the vexo_db server of
// the CTest fixture for what only reads and writes, servers of their own for what kills one.
//
// This file is compiled with the programs' GBK execution character set, so the Chinese literals
// below are the same GBK bytes that the programs write.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "client_texts.h"
#include "process.h"

using namespace vexotest;

namespace {

const std::string errorTag = "\033[31m[Error]\033[0m";
const std::string mebibyteWord(1 << 20, 'w');
const std::string mebibyteNumber(1 << 20, '9');

bool contains(const std::string &text, const std::string &part) {
  return text.find(part) != std::string::npos;
}

bool atMostOneLine(const std::string &text) {
  return text.empty() || text.find('\n') == text.size() - 1;
}

// The program with a shell in front that first runs `setup` (a redirection, a limit): "$@" is the
// program's command. Linux only.
std::vector<std::string> underShell(const std::string &setup, const std::string &name) {
  std::vector<std::string> command = {"/bin/sh", "-c", setup, "sh"};
  for (const std::string &word : programCommand(name)) {
    command.push_back(word);
  }
  return command;
}

// ---------------------------------------------------------------------------------------------
// The tools shell

const std::string vexoPrompt = "vexo-1.2.0/> ";
const std::string askPath = "请输入文件路径：";
const std::string opened = "文件打开成功！\n输入文本：";
const std::string closed = "文本已关闭\n";
const std::string openFailed = errorTag + "文件打开失败\n";
const std::string writeFailed = errorTag + "文件写入失败\n";
const std::string cleared = "\033[0m已清除\n";

std::string vexoSession(const std::string &afterGreeting) {
  return lines("\033[0mmarun tools:输入“help”寻求帮助\n" + afterGreeting);
}

std::string notAVexoCommand(const std::string &word) {
  return errorTag + "“" + word + "”不是vexo指令\n";
}

ProcessResult runVexo(const std::string &input, const ProcessOptions &options = {}) {
  return runProgram(programCommand("vexo"), input, options);
}

// Both programs read their input a byte at a time (so that a program they start gets the rest):
// a mebibyte takes seconds, more under the sanitizers.
ProcessOptions mebibyteTime() {
  ProcessOptions options;
  options.timeoutMs = 180000;
  return options;
}

class VexoFaults : public testing::Test {
 protected:
  std::string path(const std::string &name) const { return folder_.path() + "/" + name; }
  TempDir folder_;
};

TEST_F(VexoFaults, EveryWordThatVexoReadsMayBeAMebibyte) {
  // `run` and `install` meet no real command: their words are refused before anything runs.
  const std::string &w = mebibyteWord;
  struct Case {
    const char *where;
    std::string input, afterGreeting;
  };
  const std::vector<Case> cases = {
      {"cout", "cout " + w + " clear", vexoPrompt + vexoPrompt + cleared},
      {"color", "color " + w, vexoPrompt + errorTag + "“" + w + "”不是vexo颜色\n"},
      {"background_color", "background_color\n" + w,
       vexoPrompt + errorTag + "“" + w + "”不是vexo颜色\n"},
      {"text path", "text " + path(w) + " clear",
       vexoPrompt + askPath + openFailed + vexoPrompt + cleared},
      {"text word", "text " + path("long.txt") + " " + w, vexoPrompt + askPath + opened + closed},
      {"install", "install " + w, vexoPrompt + errorTag + "无法下载“" + w + "”\n"},
      {"run", "run " + w, vexoPrompt + errorTag + "命令过长(超过999个字符)\n"},
  };
  for (const Case &c : cases) {
    const ProcessResult result = runVexo(c.input + "\nclose\n", mebibyteTime());
    EXPECT_FALSE(result.timedOut) << c.where;
    EXPECT_TRUE(result.out == vexoSession(c.afterGreeting + vexoPrompt)) << c.where;
    EXPECT_EQ(result.err, "") << c.where;
    EXPECT_EQ(result.exitStatus, 0) << c.where;
  }
  EXPECT_TRUE(readFile(path("long.txt")) == w);
}

TEST_F(VexoFaults, NulBytesAndBytesThatAreNotGbkArePassedOnUnchanged) {
  const std::string odd = std::string("a\0b", 3) + "\xff\x80\xfe";
  const ProcessResult result = runVexo(odd + "\ncolor " + odd + "\ninstall " + odd + "\ntext " +
                                       path("odd.txt") + "\n" + odd + "\nclose\n");
  EXPECT_EQ(result.out,
            vexoSession(vexoPrompt + notAVexoCommand(odd) + vexoPrompt + errorTag + "“" + odd +
                        "”不是vexo颜色\n" + vexoPrompt + errorTag + "无法下载“" + odd + "”\n" +
                        vexoPrompt + askPath + opened + closed + vexoPrompt));
  EXPECT_EQ(readFile(path("odd.txt")), odd);
}

TEST_F(VexoFaults, APathWithANulByteOpensNoFile) {
  // Fault found: the path "keep\0.bak" used to empty the file keep, which the user did not name.
  writeFile(path("keep"), "precious");
  const std::string pathWithNul = path("keep") + std::string(1, '\0') + ".bak";
  const ProcessResult result = runVexo("text " + pathWithNul + " clear\nclose\n");
  EXPECT_EQ(result.out,
            vexoSession(vexoPrompt + askPath + openFailed + vexoPrompt + cleared + vexoPrompt));
  EXPECT_EQ(readFile(path("keep")), "precious");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder_.path()), {}), 1);
}

TEST_F(VexoFaults, CrLfLineEndsAreLineEndsAlsoForText) {
  const ProcessResult result = runVexo("text\r\n" + path("crlf.txt") + "\r\nword\r\nclose\r\n");
  EXPECT_EQ(result.out, vexoSession(vexoPrompt + askPath + opened + closed + vexoPrompt));
  EXPECT_EQ(readFile(path("crlf.txt")), "word");
}

TEST_F(VexoFaults, AClosedOrFullStandardOutputChangesNothingElse) {
  if (testingWindowsPrograms()) {
    GTEST_SKIP() << "uses a Linux shell";
  }
  // With its output closed, the file that `text` opens may get descriptor 1: none of the shell's
  // own output may end up in it.
  for (const std::string setup : {"exec \"$@\" >&-", "exec \"$@\" >/dev/full"}) {
    const std::string file = path("out.txt");
    const ProcessResult result =
        runProgram(underShell(setup, "vexo"),
                   "help vexo_v color G text " + file + " word\nnope clear cout x\nclose\nhelp\n");
    EXPECT_FALSE(result.timedOut) << setup;
    EXPECT_EQ(result.out, "") << setup;
    EXPECT_EQ(result.err, "") << setup;
    EXPECT_EQ(result.exitStatus, 0) << setup;
    EXPECT_EQ(readFile(file), "word") << setup;
  }
}

// A file system of 64 KiB, filled up but for what `keep` holds, in a folder of this test.
class VexoFullDisk : public VexoFaults {
 protected:
  void SetUp() override {
    if (testingWindowsPrograms()) {
      GTEST_SKIP() << "mounts a Linux file system";
    }
    disk_ = path("disk");
    std::filesystem::create_directory(disk_);
    if (mount("vexo-test", disk_.c_str(), "tmpfs", 0, "size=64k,mode=0777") != 0) {
      GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
    }
    mounted_ = true;
    writeFile(disk_ + "/keep", "precious");
    std::ofstream filler(disk_ + "/filler", std::ios::binary);
    const std::string block(4096, 'f');
    while (filler.write(block.data(), static_cast<std::streamsize>(block.size())) &&
           filler.flush()) {
    }
  }
  void TearDown() override {
    if (mounted_) {
      umount2(disk_.c_str(), MNT_DETACH);
    }
  }
  std::string disk_;
  bool mounted_ = false;
};

TEST_F(VexoFullDisk, AFailedWriteIsReportedAndNoOtherFileLosesItsContent) {
  const std::string big(256 * 1024, 'b');
  const ProcessResult result =
      runVexo("text " + disk_ + "/new.txt " + big + " text " + disk_ + "/keep\n\nclear\nclose\n");
  // The second `text` is given "clear" as its word: it replaces keep, as asked, and fits.
  EXPECT_EQ(result.out, vexoSession(vexoPrompt + askPath + opened + writeFailed + vexoPrompt +
                                    askPath + opened + closed + vexoPrompt));
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(readFile(disk_ + "/keep"), "clear");
  EXPECT_EQ(readFile(disk_ + "/filler").find_first_not_of('f'), std::string::npos);
}

TEST_F(VexoFaults, AFileSizeLimitIsAFailedWrite) {
  if (testingWindowsPrograms()) {
    GTEST_SKIP() << "uses a Linux shell";
  }
  // ulimit -f counts blocks of 512 bytes. Past the limit the kernel would end the program with
  // SIGXFSZ unless the signal is ignored, as it is here: then the write fails with EFBIG.
  writeFile(path("other.txt"), "other");
  const ProcessResult result =
      runProgram(underShell("trap '' XFSZ; ulimit -f 4; exec \"$@\"", "vexo"),
                 "text " + path("big.txt") + " " + std::string(8192, 'b') + " clear\nclose\n");
  EXPECT_EQ(result.out, vexoSession(vexoPrompt + askPath + opened + writeFailed + vexoPrompt +
                                    cleared + vexoPrompt));
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(readFile(path("other.txt")), "other");
}

// ---------------------------------------------------------------------------------------------
// The database client

using clienttexts::allQuestions;
using clienttexts::connected;
using clienttexts::prompt;
const std::string askQuery = "输入要查询的表格名称:输入要查询的列(用逗号','隔开):";
const std::string askInsert =
    "输入要修改的表格名称:输入要修改的列(用逗号','隔开):"
    "输入要插入的内容(用逗号','隔开,字符需加上'单引号'):";
const std::string versionText =
    "marun tools mysql\nv1.0.0\n开发语言：C++\n适用系统：windows\n岚舟工作室开发\n";

std::string session(const std::string &afterGreeting) {
  return lines(allQuestions + connected + afterGreeting);
}

std::string inserted(int rows) {
  return "\033[34m[Message]\033[0m插入成功：受影响的行是" + std::to_string(rows) + "\n";
}

std::string notACommand(const std::string &word) {
  return errorTag + "“" + word + "”不是vexoMySQL指令\n";
}

std::string notANumber(const std::string &word) {
  return errorTag + "“" + word + "”不是有效的数字\n";
}

std::string environmentOr(const char *name, const std::string &fallback) {
  const char *value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : fallback;
}

std::string sandboxScript() { return environmentOr("VEXO_DB_SCRIPT", VEXO_DB_SCRIPT); }

// A server of scripts/mariadb-sandbox.sh, known by its folder; server.env is read by bash itself.
struct Server {
  std::string folder, port, socket, user, password, name;
  pid_t pid = 0;

  bool load() {
    const ProcessResult values = runProgram(
        {"bash", "-c",
         "source \"$0/server.env\" && printf '%s\\n' \"$VEXO_DB_PORT\" \"$VEXO_DB_SOCKET\" "
         "\"$VEXO_DB_USER\" \"$VEXO_DB_PASSWORD\" \"$VEXO_DB_NAME\" \"$VEXO_DB_PID\"",
         folder},
        "");
    std::istringstream in(values.out);
    std::string pidText;
    if (!std::getline(in, port) || !std::getline(in, socket) || !std::getline(in, user) ||
        !std::getline(in, password) || !std::getline(in, name) || !std::getline(in, pidText)) {
      return false;
    }
    pid = static_cast<pid_t>(std::atoi(pidText.c_str()));
    return values.exitStatus == 0 && !port.empty() && pid > 0;
  }
  // The seven answers on one line, over TCP (so that the Windows programs under wine can use it).
  std::string answers() const {
    return "127.0.0.1 " + user + " " + password + " " + name + " " + port + " NULL 0\n";
  }
  // The server's own client as the administrator; returns the rows, tab-separated.
  std::string sql(const std::string &statements) const {
    const ProcessResult result =
        runProgram({"bash", "-c",
                    "source \"$0/server.env\" && $VEXO_DB_ROOT_CMD --batch --skip-column-names "
                    "--database=\"$VEXO_DB_NAME\" -e \"$1\"",
                    folder, statements},
                   "");
    EXPECT_EQ(result.exitStatus, 0) << statements << "\n" << result.err;
    return result.out;
  }
};

Server withFolder(const std::string &folder) {
  Server server;
  server.folder = folder;
  return server;
}

// The client as the child of this test with the given name: its process id, or 0.
pid_t childProcess(const std::string &name) {
  for (const auto &entry : std::filesystem::directory_iterator("/proc")) {
    const std::string stat = readFile(entry.path().string() + "/stat");
    const size_t open = stat.find('('), close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos ||
        stat.substr(open + 1, close - open - 1) != name) {
      continue;
    }
    std::istringstream rest(stat.substr(close + 2));
    std::string state;
    long parent = 0;
    rest >> state >> parent;
    if (parent == getpid()) {
      return static_cast<pid_t>(std::atol(entry.path().filename().c_str()));
    }
  }
  return 0;
}

// Processor time that a process has used so far, in clock ticks (user and system).
long cpuTicks(pid_t pid) {
  const std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
  std::istringstream rest(stat.substr(stat.rfind(')') + 2));
  std::string field;
  long user = 0, system = 0;
  for (int k = 3; k <= 13; k++) {
    rest >> field;  // fields 3 to 13: state ... cmajflt
  }
  rest >> user >> system;
  return user + system;
}

// A value from /proc/PID/status, in kB.
long statusKb(pid_t pid, const std::string &key) {
  std::istringstream status(readFile("/proc/" + std::to_string(pid) + "/status"));
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with(key + ":")) {
      return std::atol(line.c_str() + key.size() + 1);
    }
  }
  return -1;
}

void pause(int ms) { usleep(static_cast<useconds_t>(ms) * 1000); }

// The client, started by `client`, is still there after two seconds, and has used no more than
// a fifth of a second of processor time in them: it waits and does not spin.
void expectWaitingIdle(const Session &client) {
  pause(500);
  const pid_t pid = childProcess("vexoMYSQL");
  ASSERT_NE(pid, 0);
  const long ticksBefore = cpuTicks(pid);
  pause(2000);
  EXPECT_TRUE(client.running());
  EXPECT_LT(cpuTicks(pid) - ticksBefore, sysconf(_SC_CLK_TCK) / 5)
      << "the waiting client used the processor";
}

// Tests against the vexo_db server of the CTest fixture.
class ClientFaults : public testing::Test {
 protected:
  void SetUp() override {
    server_.folder = environmentOr("VEXO_DB_SANDBOX", VEXO_DB_SANDBOX);
    ASSERT_TRUE(server_.load()) << "no server in " << server_.folder
                                << " (the CTest fixture vexoMYSQL.server.start starts it)";
  }
  ProcessResult runClient(const std::string &input, const ProcessOptions &options = {}) const {
    return runProgram(programCommand("vexoMYSQL"), input, options);
  }
  Server server_;
};

TEST_F(ClientFaults, EveryWordThatTheClientReadsMayBeAMebibyte) {
  server_.sql(
      "CREATE TABLE IF NOT EXISTS fault_long (id INT PRIMARY KEY, v MEDIUMTEXT);"
      "DELETE FROM fault_long;");
  const std::string &w = mebibyteWord;
  const Server &s = server_;
  const std::string rest = " " + s.name + " " + s.port + " NULL 0\n";
  struct Case {
    const char *where;
    std::string input;
    int exitStatus;
    std::string errStart;  // what standard error begins with
  };
  const std::vector<Case> cases = {
      {"host", w + " " + s.user + " " + s.password + rest, 1, errorTag + "连接失败: "},
      {"user", "127.0.0.1 " + w + " " + s.password + rest, 1, errorTag + "连接失败: "},
      {"password", "127.0.0.1 " + s.user + " " + w + rest, 1, errorTag + "连接失败: "},
      {"database", "127.0.0.1 " + s.user + " " + s.password + " " + w + " " + s.port + " NULL 0\n",
       1, errorTag + "连接失败: "},
      {"port",
       "127.0.0.1 " + s.user + " " + s.password + " " + s.name + " " + mebibyteNumber + " " +
           s.port + " NULL 0\ncloseMysql\n",
       0, lines(notANumber(mebibyteNumber))},
      {"socket", "localhost " + s.user + " " + s.password + " " + s.name + " 0 " + w + " 0\n", 1,
       errorTag + "连接失败: "},
      {"flags",
       "127.0.0.1 " + s.user + " " + s.password + " " + s.name + " " + s.port + " NULL " +
           mebibyteNumber + " 0\ncloseMysql\n",
       0, lines(notANumber(mebibyteNumber))},
      {"command word", s.answers() + w + "\ncloseMysql\n", 0, lines(notACommand(w))},
      {"query table", s.answers() + "query " + w + " id\n", 1, "查询失败: "},
      {"query columns", s.answers() + "query people " + w + "\n", 1, "查询失败: "},
      {"insert table", s.answers() + "insert " + w + " id\n1\n", 1, errorTag + "插入失败："},
      {"insert columns", s.answers() + "insert fault_long " + w + "\n1\n", 1,
       errorTag + "插入失败："},
      // A values line of 1 MiB is a value of 1 MiB: stored whole and read back whole.
      {"values line", s.answers() + "insert fault_long id,v\n1, '" + w + "'\nquery fault_long v\n",
       0, ""},
  };
  for (const Case &c : cases) {
    const ProcessResult result = runClient(c.input, mebibyteTime());
    EXPECT_FALSE(result.timedOut) << c.where;
    EXPECT_EQ(result.exitStatus, c.exitStatus) << c.where;
    EXPECT_TRUE(result.err.starts_with(c.errStart)) << c.where << ": " << result.err.substr(0, 200);
    EXPECT_TRUE(atMostOneLine(result.err)) << c.where;
  }
  EXPECT_EQ(server_.sql("SELECT id, LENGTH(v), v = REPEAT('w', 1048576) FROM fault_long"),
            "1\t1048576\t1\n");
  const ProcessResult readBack = runClient(s.answers() + "query fault_long v\n", mebibyteTime());
  EXPECT_TRUE(readBack.out == session(prompt + askQuery + w + "\n" + prompt + "\n"));
}

TEST_F(ClientFaults, NulBytesAndBytesThatAreNotGbk) {
  server_.sql(
      "CREATE TABLE IF NOT EXISTS fault_bytes (id INT PRIMARY KEY, "
      "name VARCHAR(20) CHARACTER SET utf8mb4); DELETE FROM fault_bytes;");
  // A command word is echoed with every byte.
  const std::string odd = std::string("a\0b", 3) + "\xff\x80";
  ProcessResult result = runClient(server_.answers() + odd + " closeMysql\n");
  EXPECT_EQ(result.out, session(prompt + prompt));
  EXPECT_EQ(result.err, lines(notACommand(odd)));
  EXPECT_EQ(result.exitStatus, 0);

  // Bytes that are not GBK reach the server, which refuses them for a Unicode column.
  result = runClient(server_.answers() + "insert fault_bytes id,name 1, '\xff\xfe'\n");
  EXPECT_TRUE(result.err.starts_with(errorTag + "插入失败：Incorrect string value")) << result.err;
  EXPECT_EQ(result.exitStatus, 1);

  // The statement is handed on as a NUL-terminated text: it ends at the NUL, here inside a quoted
  // value, and the server refuses what is left.
  result = runClient(server_.answers() + "insert fault_bytes id,name\n2, 'a" +
                     std::string(1, '\0') + "b'\n");
  EXPECT_TRUE(result.err.starts_with(errorTag + "插入失败：You have an error in your SQL syntax"))
      << result.err;
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_EQ(server_.sql("SELECT COUNT(*) FROM fault_bytes"), "0\n");
}

TEST_F(ClientFaults, CrLfLineEndsAreLineEndsEverywhere) {
  // Fault found: the character that insert skips was the CR of a CR LF line end, which left the
  // values line empty, so that the server refused the statement and the program ended.
  server_.sql(
      "CREATE TABLE IF NOT EXISTS fault_crlf (id INT PRIMARY KEY, name VARCHAR(20));"
      "DELETE FROM fault_crlf;");
  std::string answers = server_.answers();
  for (size_t blank = answers.find(' '); blank != std::string::npos;
       blank = answers.find(' ', blank)) {
    answers.replace(blank, 1, "\r\n");
  }
  answers.replace(answers.size() - 1, 1, "\r\n");
  const ProcessResult result = runClient(
      answers +
      "insert\r\nfault_crlf\r\nid,name\r\n1, 'one'\r\ninsert fault_crlf id,name 2, 'two'\r\n"
      "query\r\nfault_crlf\r\nname\r\ncloseMysql\r\n");
  EXPECT_EQ(result.out, session(prompt + askInsert + inserted(1) + prompt + askInsert +
                                inserted(1) + prompt + askQuery + "one\ntwo\n" + prompt));
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(server_.sql("SELECT id, HEX(name) FROM fault_crlf"), "1\t6F6E65\n2\t74776F\n");
}

TEST_F(ClientFaults, AClosedOrFullStandardOutputChangesNothingElse) {
  if (testingWindowsPrograms()) {
    GTEST_SKIP() << "uses a Linux shell";
  }
  server_.sql(
      "CREATE TABLE IF NOT EXISTS fault_output (id INT PRIMARY KEY);"
      "DELETE FROM fault_output;");
  // With its output closed, the connection's socket may get descriptor 1: none of the client's
  // own output may end up on the connection.
  int id = 0;
  for (const std::string setup : {"exec \"$@\" >&-", "exec \"$@\" >/dev/full"}) {
    id++;
    const ProcessResult result =
        runProgram(underShell(setup, "vexoMYSQL"),
                   server_.answers() + "query people id\ninsert fault_output id\n" +
                       std::to_string(id) + "\nnope mysqlHelp query people name closeMysql\n");
    EXPECT_FALSE(result.timedOut) << setup;
    EXPECT_EQ(result.out, "") << setup;
    EXPECT_EQ(result.err, lines(notACommand("nope"))) << setup;
    EXPECT_EQ(result.exitStatus, 0) << setup;
  }
  EXPECT_EQ(server_.sql("SELECT id FROM fault_output ORDER BY id"), "1\n2\n");
}

// ---------------------------------------------------------------------------------------------
// Memory: the client's peak memory after 100 and after 1,000 queries and inserts

TEST_F(ClientFaults, PeakMemoryDoesNotGrowWithTheNumberOfStatements) {
#ifdef VEXO_SANITIZE_BUILD
  GTEST_SKIP() << "AddressSanitizer's quarantine holds freed memory on purpose";
#endif
  if (testingWindowsPrograms()) {
    GTEST_SKIP() << "reads the memory of a Linux process";
  }
  server_.sql(
      "CREATE TABLE IF NOT EXISTS fault_memory (id INT PRIMARY KEY, name VARCHAR(50));"
      "DELETE FROM fault_memory;");
  long peakKb[2] = {0, 0};
  const int counts[2] = {100, 1000};
  int nextId = 0;
  for (int run = 0; run < 2; run++) {
    std::string input = server_.answers();
    for (int k = 0; k < counts[run]; k++) {
      input += "insert fault_memory id,name\n" + std::to_string(++nextId) +
               ", 'a name of some length'\nquery people *\n";
    }
    ProcessOptions options;
    options.timeoutMs = 120000;
    Session client(programCommand("vexoMYSQL"), options);
    client.write(input + "vexoMysql_v\n");
    // Once the version text is out, every statement has run and the client waits for a word.
    ASSERT_TRUE(client.waitForOutput(lines(versionText + prompt), 110000)) << client.err();
    const pid_t pid = childProcess("vexoMYSQL");
    ASSERT_NE(pid, 0);
    peakKb[run] = statusKb(pid, "VmHWM");
    client.write("closeMysql\n");
    const ProcessResult result = client.finish(true);
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.err, "");
  }
  std::cout << "peak resident memory: " << peakKb[0] << " kB after " << counts[0]
            << " queries and inserts, " << peakKb[1] << " kB after " << counts[1] << std::endl;
  // A leak of 1 KiB a statement would add almost 2 MiB over the 900 more statements.
  EXPECT_LE(peakKb[1], peakKb[0] + 512);
  EXPECT_EQ(server_.sql("SELECT COUNT(*) FROM fault_memory"), "1100\n");
}

// ---------------------------------------------------------------------------------------------
// A server of the test's own, killed or frozen

class OwnServer : public testing::Test {
 protected:
  void SetUp() override {
    if (testingWindowsPrograms()) {
      GTEST_SKIP() << "signals a Linux server process";
    }
    ProcessOptions options;
    options.timeoutMs = 180000;
    const ProcessResult started =
        runProgram({"bash", sandboxScript(), "start", server_.folder}, "", options);
    ASSERT_EQ(started.exitStatus, 0) << started.out << started.err;
    ASSERT_TRUE(server_.load());
    server_.sql("CREATE TABLE t (id INT PRIMARY KEY); INSERT INTO t VALUES (1), (2);");
  }
  void TearDown() override {
    if (server_.pid > 0) {
      kill(server_.pid, SIGCONT);
    }
    ProcessOptions options;
    options.timeoutMs = 120000;
    runProgram({"bash", sandboxScript(), "stop", server_.folder}, "", options);
  }
  void killServer() {
    ASSERT_EQ(kill(server_.pid, SIGKILL), 0);
    for (int waited = 0; kill(server_.pid, 0) == 0 && waited < 100; waited++) {
      pause(50);
    }
    ASSERT_NE(kill(server_.pid, 0), 0) << "the server is still there";
  }
  ProcessOptions clientOptions() const {
    ProcessOptions options;
    options.timeoutMs = 30000;  // "promptly": far less than any time-out of the library or kernel
    return options;
  }
  TempDir folder_;
  Server server_ = withFolder(folder_.path() + "/db");
};

using KilledServer = OwnServer;

TEST_F(KilledServer, BetweenCommandsAndWhileTheDialogueWaits) {
  Session querying(programCommand("vexoMYSQL"), clientOptions());
  Session inserting(programCommand("vexoMYSQL"), clientOptions());
  Session asking(programCommand("vexoMYSQL"), clientOptions());
  querying.write(server_.answers() + "query t id\n");
  inserting.write(server_.answers() + "vexoMysql_v\n");
  // All but the last answer: the dialogue waits for the client flags.
  const std::string answers = server_.answers();
  asking.write(answers.substr(0, answers.rfind(' ') + 1));
  ASSERT_TRUE(querying.waitForOutput(session(prompt + askQuery + "1\n2\n" + prompt)))
      << querying.err();
  ASSERT_TRUE(inserting.waitForOutput(session(prompt + versionText + prompt))) << inserting.err();
  ASSERT_TRUE(asking.waitForOutput(allQuestions)) << asking.err();

  killServer();

  querying.write("query t id\n");
  inserting.write("insert t id\n3\n");
  asking.write("0\n");
  const ProcessResult queried = querying.finish(true);
  EXPECT_FALSE(queried.timedOut);
  EXPECT_EQ(queried.out, session(prompt + askQuery + "1\n2\n" + prompt + askQuery));
  EXPECT_TRUE(queried.err.starts_with("查询失败: ")) << queried.err;
  EXPECT_TRUE(contains(queried.err, "Lost connection") || contains(queried.err, "gone away"))
      << queried.err;
  EXPECT_EQ(queried.exitStatus, 1);

  const ProcessResult insertedRow = inserting.finish(true);
  EXPECT_FALSE(insertedRow.timedOut);
  EXPECT_EQ(insertedRow.out, session(prompt + versionText + prompt + askInsert));
  EXPECT_TRUE(insertedRow.err.starts_with(errorTag + "插入失败：")) << insertedRow.err;
  EXPECT_EQ(insertedRow.exitStatus, 1);

  const ProcessResult connection = asking.finish(true);
  EXPECT_FALSE(connection.timedOut);
  EXPECT_EQ(connection.out, lines(allQuestions));
  EXPECT_TRUE(connection.err.starts_with(errorTag + "连接失败: Can't connect to server on"))
      << connection.err;
  EXPECT_EQ(connection.exitStatus, 1);
}

TEST_F(KilledServer, WhileALargeResultIsBeingRead) {
  // Rows of 20 kB, one a millisecond: the client reads the result for minutes, unless the server
  // goes. Nothing is written until the whole result is in.
  Session client(programCommand("vexoMYSQL"), clientOptions());
  client.write(server_.answers() + "query seq_1_to_1000000 seq,REPEAT('x',20000),SLEEP(0.001)\n");
  std::string running;
  for (int waited = 0; waited < 200 && running != "1\n"; waited++) {
    pause(100);
    running = server_.sql(
        "SELECT COUNT(*) FROM information_schema.PROCESSLIST "
        "WHERE INFO LIKE 'SELECT seq,REPEAT%' AND TIME >= 1");
  }
  ASSERT_EQ(running, "1\n") << "the statement did not start";

  killServer();

  const ProcessResult result = client.finish(true);
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(result.out, session(prompt + askQuery));
  EXPECT_EQ(result.err,
            lines(errorTag + "获取结果集失败: Lost connection to server during query\n"));
  EXPECT_EQ(result.exitStatus, 1);
}

using SlowServer = OwnServer;

TEST_F(SlowServer, AFrozenServerIsWaitedForWithoutSpinningAndThenServes) {
  // A stopped server still completes the connection (the kernel does), then answers nothing: the
  // client, which sets no time-out of its own, waits in the library, and goes on once it answers.
  ASSERT_EQ(kill(server_.pid, SIGSTOP), 0);
  Session client(programCommand("vexoMYSQL"), clientOptions());
  client.write(server_.answers() + "query t id\ncloseMysql\n");
  ASSERT_TRUE(client.waitForOutput(allQuestions)) << client.err();
  expectWaitingIdle(client);
  EXPECT_EQ(client.out(), lines(allQuestions));

  ASSERT_EQ(kill(server_.pid, SIGCONT), 0);
  const ProcessResult result = client.finish(true);
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(result.out, session(prompt + askQuery + "1\n2\n" + prompt));
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.exitStatus, 0);
}

TEST(NoServer, AListenerThatNeverAnswersIsWaitedForUntilItGoesAway) {
  // A socket that listens but never accepts: the connection is made by the kernel, and the
  // server's greeting never comes. The client waits (it sets no time-out, by design) without
  // using the processor, and fails with the library's reason once the listener closes.
  if (testingWindowsPrograms()) {
    GTEST_SKIP() << "reads the state of a Linux process";
  }
  const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(listener, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
  ASSERT_EQ(listen(listener, 4), 0);
  ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length), 0);
  const std::string port = std::to_string(ntohs(address.sin_port));

  ProcessOptions options;
  options.timeoutMs = 30000;
  Session client(programCommand("vexoMYSQL"), options);
  client.write("127.0.0.1 user password db " + port + " NULL 0\n");
  ASSERT_TRUE(client.waitForOutput(lines(allQuestions)));
  expectWaitingIdle(client);

  close(listener);
  const ProcessResult result = client.finish();
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(result.out, lines(allQuestions));
  EXPECT_TRUE(result.err.starts_with(errorTag + "连接失败: Lost connection to server at "
                                                "'handshake: reading initial communication "
                                                "packet'"))
      << result.err;
  EXPECT_EQ(result.exitStatus, 1);
}

}  // namespace
