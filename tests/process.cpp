#include "process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char **environ;

namespace vexotest {

namespace {

long long nowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::string environmentOr(const char *name, const std::string &fallback) {
  const char *value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : fallback;
}

void check(bool ok, const char *what) {
  if (!ok) {
    throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
  }
}

}  // namespace

Session::Session(const std::vector<std::string> &command, const ProcessOptions &options) {
  int inPipe[2], outPipe[2], errPipe[2];
  check(pipe2(inPipe, O_CLOEXEC) == 0 && pipe2(outPipe, O_CLOEXEC) == 0 &&
            pipe2(errPipe, O_CLOEXEC) == 0,
        "pipe");

  // Everything the child needs is prepared before fork.
  // In a sanitizer build a report must not pass for one of the programs' own exit statuses
  // (both end with 1 on some paths), so sanitizers end with statuses of their own.
  std::vector<std::string> environment = {
      "ASAN_OPTIONS=exitcode=86:detect_leaks=1",
      "UBSAN_OPTIONS=halt_on_error=1:exitcode=87:print_stacktrace=1"};
  for (char **entry = environ; *entry != nullptr; ++entry) {
    const std::string setting = *entry;
    const std::string key = setting.substr(0, setting.find('=') + 1);
    std::erase_if(environment, [&](const std::string &e) { return e.starts_with(key); });
    environment.push_back(setting);
  }
  for (const std::string &setting : options.environment) {
    const std::string key = setting.substr(0, setting.find('=') + 1);
    std::erase_if(environment, [&](const std::string &e) { return e.starts_with(key); });
    environment.push_back(setting);
  }
  std::vector<char *> argv, envp;
  for (const std::string &word : command) {
    argv.push_back(const_cast<char *>(word.c_str()));
  }
  argv.push_back(nullptr);
  for (const std::string &entry : environment) {
    envp.push_back(const_cast<char *>(entry.c_str()));
  }
  envp.push_back(nullptr);

  std::signal(SIGPIPE, SIG_IGN);  // a program that stops reading must not end the test
  pid_ = fork();
  check(pid_ >= 0, "fork");
  if (pid_ == 0) {
    std::signal(SIGPIPE, SIG_DFL);
    dup2(inPipe[0], 0);
    dup2(outPipe[1], 1);
    dup2(errPipe[1], 2);
    if (!options.workingDirectory.empty() && chdir(options.workingDirectory.c_str()) != 0) {
      _exit(126);
    }
    setpgid(0, 0);  // its own group, so that a time-out kills the commands it started too
    execvpe(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  setpgid(pid_, pid_);
  close(inPipe[0]);
  close(outPipe[1]);
  close(errPipe[1]);
  in_ = inPipe[1];
  out_ = outPipe[0];
  err_ = errPipe[0];
  fcntl(in_, F_SETFL, O_NONBLOCK);
  deadlineMs_ = nowMs() + options.timeoutMs;
}

Session::~Session() {
  if (running()) {
    kill(-pid_, SIGKILL);
    reap(true);
  }
  for (int fd : {in_, out_, err_}) {
    if (fd >= 0) {
      close(fd);
    }
  }
}

void Session::reap(bool block) {
  if (exited_ || pid_ <= 0) {
    return;
  }
  int status = 0;
  const pid_t done = waitpid(pid_, &status, block ? 0 : WNOHANG);
  if (done == pid_) {
    exited_ = true;
    result_.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
}

int Session::msLeft() const { return static_cast<int>(std::max(0LL, deadlineMs_ - nowMs())); }

bool Session::pump(int waitMs) {
  if (in_ >= 0 && pendingInput_.empty() && closeWhenWritten_) {
    close(in_);
    in_ = -1;
  }
  pollfd fds[3];
  int count = 0;
  if (out_ >= 0) {
    fds[count++] = {out_, POLLIN, 0};
  }
  if (err_ >= 0) {
    fds[count++] = {err_, POLLIN, 0};
  }
  if (in_ >= 0 && !pendingInput_.empty()) {
    fds[count++] = {in_, POLLOUT, 0};
  }
  if (count == 0) {
    return false;
  }
  const int ready = poll(fds, static_cast<nfds_t>(count), waitMs);
  if (ready < 0 && errno != EINTR) {
    check(false, "poll");
  }
  for (int k = 0; k < count && ready > 0; ++k) {
    if (fds[k].revents == 0) {
      continue;
    }
    if (fds[k].fd == in_) {
      const ssize_t written = ::write(in_, pendingInput_.data(), pendingInput_.size());
      if (written > 0) {
        pendingInput_.erase(0, static_cast<size_t>(written));
      } else if (written < 0 && errno != EAGAIN) {
        pendingInput_.clear();  // the program closed its input
        close(in_);
        in_ = -1;
      }
      continue;
    }
    char buffer[65536];
    const ssize_t got = read(fds[k].fd, buffer, sizeof buffer);
    std::string &sink = fds[k].fd == out_ ? result_.out : result_.err;
    if (got > 0) {
      sink.append(buffer, static_cast<size_t>(got));
    } else if (got == 0 || errno != EINTR) {
      close(fds[k].fd);
      (fds[k].fd == out_ ? out_ : err_) = -1;
    }
  }
  return true;
}

bool Session::waitForOutput(const std::string &marker, int timeoutMs) {
  const long long until = std::min(deadlineMs_, nowMs() + timeoutMs);
  while (result_.out.find(marker) == std::string::npos) {
    const long long left = until - nowMs();
    if (left <= 0 || out_ < 0 || !pump(static_cast<int>(std::min(left, 100LL)))) {
      return result_.out.find(marker) != std::string::npos;
    }
  }
  return true;
}

void Session::write(const std::string &bytes) {
  pendingInput_ += bytes;
  while (!pendingInput_.empty() && in_ >= 0 && msLeft() > 0) {
    pump(100);
  }
}

void Session::closeInput() {
  closeWhenWritten_ = true;
  pump(0);
}

ProcessResult Session::finish(bool keepInputOpen) {
  if (!keepInputOpen) {
    closeWhenWritten_ = true;
  }
  while (out_ >= 0 || err_ >= 0) {
    if (msLeft() <= 0) {
      result_.timedOut = true;
      kill(-pid_, SIGKILL);
      break;
    }
    pump(std::min(msLeft(), 100));
    reap(false);
    // A command it started may still hold the output pipes open; give it a moment.
    if (exited_ && pendingInput_.empty()) {
      const long long grace = nowMs() + 2000;
      while ((out_ >= 0 || err_ >= 0) && nowMs() < grace && pump(100)) {
      }
      break;
    }
  }
  reap(true);
  return result_;
}

ProcessResult runProgram(const std::vector<std::string> &command, const std::string &input,
                         const ProcessOptions &options) {
  Session session(command, options);
  session.write(input);
  return session.finish();
}

bool testingWindowsPrograms() { return environmentOr("VEXO_EXE_SUFFIX", "") == ".exe"; }

std::string programPath(const std::string &name) {
  const std::string folder = environmentOr("VEXO_PROGRAM_DIR", VEXO_DEFAULT_PROGRAM_DIR);
  return folder + "/" + name + environmentOr("VEXO_EXE_SUFFIX", "");
}

std::vector<std::string> programCommand(const std::string &name) {
  std::vector<std::string> command;
  std::istringstream launcher(environmentOr("VEXO_LAUNCHER", ""));
  for (std::string word; launcher >> word;) {
    command.push_back(word);
  }
  command.push_back(programPath(name));
  return command;
}

const std::string &lineEnd() {
  static const std::string end = testingWindowsPrograms() ? "\r\n" : "\n";
  return end;
}

std::string lines(const std::string &text) {
  std::string converted;
  for (char c : text) {
    if (c == '\n') {
      converted += lineEnd();
    } else {
      converted += c;
    }
  }
  return converted;
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "vexo-test-XXXXXX").string();
  check(mkdtemp(pattern.data()) != nullptr, "mkdtemp");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string readFile(const std::string &path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream content;
  content << file.rdbuf();
  return content.str();
}

void writeFile(const std::string &path, const std::string &bytes, bool executable) {
  {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << bytes;
  }
  if (executable) {
    std::filesystem::permissions(path, std::filesystem::perms::owner_all |
                                           std::filesystem::perms::group_read |
                                           std::filesystem::perms::group_exec);
  }
}

}  // namespace vexotest
