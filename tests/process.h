// Runs a built program as a child process with pipes on its three standard streams.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace vexotest {

// Times are in milliseconds. (No <chrono> here: test files are compiled with the GBK execution
// character set, and <chrono> holds a literal that GBK cannot encode.)
struct ProcessOptions {
  std::vector<std::string> environment;  // KEY=VALUE entries that replace or add to ours
  std::string workingDirectory;          // empty: ours
  int timeoutMs = 20000;
};

struct ProcessResult {
  std::string out;
  std::string err;
  int exitStatus = -1;  // -1 when it ended through a signal or was killed
  bool timedOut = false;
};

// A running program. Input can be fed piece by piece, after output has arrived.
class Session {
 public:
  Session(const std::vector<std::string> &command, const ProcessOptions &options = {});
  ~Session();
  Session(const Session &) = delete;
  Session &operator=(const Session &) = delete;

  // Waits until standard output has received `marker` (counting from the start of the run).
  // Returns false when the time runs out or the program ends first.
  bool waitForOutput(const std::string &marker, int timeoutMs = 20000);
  void write(const std::string &bytes);
  void closeInput();
  // Closes the input (unless `keepInputOpen`) and waits for the end; kills on time-out.
  ProcessResult finish(bool keepInputOpen = false);
  const std::string &out() const { return result_.out; }
  const std::string &err() const { return result_.err; }
  bool running() const { return pid_ > 0 && !exited_; }

 private:
  // One round of moving bytes; returns false when nothing is left to do.
  bool pump(int waitMs);
  int msLeft() const;
  void reap(bool block);

  pid_t pid_ = -1;
  int in_ = -1, out_ = -1, err_ = -1;
  bool exited_ = false;
  std::string pendingInput_;
  bool closeWhenWritten_ = false;
  long long deadlineMs_ = 0;  // on the steady clock
  ProcessResult result_;
};

ProcessResult runProgram(const std::vector<std::string> &command, const std::string &input,
                         const ProcessOptions &options = {});

// The program under test, by its base name ("vexo", "vexoMYSQL", "color"), with the launcher
// (for example wine) in front of it when the suite runs against Windows programs.
std::vector<std::string> programCommand(const std::string &name);
std::string programPath(const std::string &name);
// The line end the programs under test write: "\n", or "\r\n" for Windows programs.
const std::string &lineEnd();
// `text` with each "\n" written as the programs' line end.
std::string lines(const std::string &text);
bool testingWindowsPrograms();

// A fresh folder, removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
  const std::string &path() const { return path_; }

 private:
  std::string path_;
};

std::string readFile(const std::string &path);
void writeFile(const std::string &path, const std::string &bytes, bool executable = false);

}  // namespace vexotest
