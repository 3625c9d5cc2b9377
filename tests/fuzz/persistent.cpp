// Persistent fuzz target: a whole program (VEXO_FUZZ_PROGRAM, its source file) run once per input
// inside one process, which is many times faster than a fresh process per input. AFL++ hands each
// input over in shared memory; a memory file on descriptor 0 turns it into standard input. Built
// only with VEXO_FUZZ_RECORD_COMMANDS, so that vexo records its command lines instead of running
// them.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>

#ifndef VEXO_FUZZ_RECORD_COMMANDS
#error "the fuzz target must not be able to run command lines"
#endif

#define main programMain
#include VEXO_FUZZ_PROGRAM
#undef main

__AFL_FUZZ_INIT();

int main() {
  // `text` creates files named by the input in the current folder; a folder of our own, emptied
  // after every input, keeps one input's files from changing what the next one does.
  const std::filesystem::path scratch = std::filesystem::current_path() / "scratch";
  std::filesystem::create_directories(scratch);
  std::filesystem::current_path(scratch);
  const int input = memfd_create("fuzz-input", 0);
  if (input < 0) {
    std::perror("memfd_create");
    return 2;
  }
  // vexo appends its own folder to PATH on every start; each run must begin with the same PATH.
  const char *path = std::getenv("PATH");
  const std::string originalPath = path != nullptr ? path : "";

  __AFL_INIT();
  const unsigned char *buffer = __AFL_FUZZ_TESTCASE_BUF;
  while (__AFL_LOOP(10000)) {
    const size_t length = static_cast<size_t>(__AFL_FUZZ_TESTCASE_LEN);
    // (Outside the fuzzer the input is read from the real standard input, once.)
    if (ftruncate(input, 0) != 0 ||
        pwrite(input, buffer, length, 0) != static_cast<ssize_t>(length) || dup2(input, 0) != 0) {
      std::abort();
    }
    // A fresh standard input: no pushed-back or read-ahead byte, no end-of-file flag from the last
    // run. (Both programs read it through the C stream, vexo by way of std::cin.)
    std::fseek(stdin, 0, SEEK_SET);
    std::clearerr(stdin);
    std::cin.clear();
    std::cout.clear();
#ifdef VEXO_FUZZ_CLIENT
    readAhead.clear();  // the client's own characters read ahead of their use
#endif
    programMain();
    std::cout.flush();
    setenv("PATH", originalPath.c_str(), 1);
    for (const auto &entry : std::filesystem::directory_iterator(".")) {
      std::filesystem::remove_all(entry.path());
    }
  }
  return 0;
}
