// vexo: the marun tools shell. Reads one command word at a time and carries it out.
// The texts below are UTF-8 in this file and GBK bytes in the program (see CMakeLists.txt).
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>

#ifndef _WIN32
#include <filesystem>
#endif

static const char *const vexoAppUrl = "https://github.com/marun-tools/vexoAPP.git";
static const char *const marunDataStorageUrl =
    "https://github.com/marun-tools/MarunDataStorage.git";

static void writeErrorTag() {
  std::cout << "\033[31m"
            << "[Error]"
            << "\033[0m";
}

// The command interpreter shares our console: what we wrote must be out before it writes.
static void runCommandLine(const std::string &commandLine) {
  std::cout.flush();
#ifdef VEXO_FUZZ_RECORD_COMMANDS
  // Fuzzing build: random input must never reach a real shell (think `run rm ...`), so the
  // command line is only recorded on standard error, which nothing else of ours writes to.
  std::cerr << commandLine << std::endl;
#else
  std::system(commandLine.c_str());
#endif
}

static void help() {
  std::cout << "**********|帮助|**********" << std::endl;
  std::cout << "help --- 帮助 cout --- 输出" << std::endl;
  std::cout << "color --- 文本颜色   clear --- 清除样式" << std::endl;
  std::cout << "background_color --- 背景色" << std::endl;
  std::cout << "install --- 安装 run --- 运行" << std::endl;
  std::cout << "MYSQL --- 连接MYSQL" << std::endl;
  std::cout << "text --- 文本 close --- 关闭" << std::endl;
  std::cout << "vexo_v --- vexo信息" << std::endl;
  std::cout << "**********|color|**********" << std::endl;
  std::cout << "0-不变   1-蓝色\n2-绿色   3-浅绿色\n4-红色   5-紫色\n6-黄色   7-白色\n"
               "8-灰色   9-浅蓝色\nA-淡绿色   B-浅淡绿色\nC-谈绿色   D-淡紫色\n"
               "E-淡黄色   F-亮白色"
            << std::endl;
  std::cout << "****|background_color|****" << std::endl;
  std::cout << "0-黑色   1-蓝色\n2-绿色   3-浅绿色\n4-红色   5-紫色\n6-黄色   7-白色\n"
               "8-灰色   9-浅蓝色\nA-淡绿色   B-浅淡绿色\nC-谈绿色   D-淡紫色\n"
               "E-淡黄色   F-亮白色"
            << std::endl;
}

static void discardWord() {
  std::string word;
  std::cin >> word;
}

// Hands the interpreter's `color` command line for one code, or rejects the code.
// A code is one upper-case hex digit; the codes are compared in the order 1..9, A..F, 0.
static void setColour(bool background) {
  std::string color;
  if (!(std::cin >> color)) {
    return;
  }
  std::string argument;
  if (color == "1" || color == "2" || color == "3" || color == "4" || color == "5" ||
      color == "6" || color == "7" || color == "8" || color == "9" || color == "A" ||
      color == "B" || color == "C" || color == "D" || color == "E" || color == "F") {
    argument = background ? color + "0" : color;
  } else if (color == "0") {
    // Black on black would hide the text: the background 0 keeps bright white text.
    argument = background ? "0F" : "0";
  } else {
    writeErrorTag();
    std::cout << "“" + color + "”不是vexo颜色" << std::endl;
    return;
  }
  // The interpreter's verdict is not looked at: cmd refuses `color 0`, which is what 0-不变 means.
  runCommandLine("color " + argument);
  std::cout << "执行成功 " << std::endl;
}

static void clear() { std::cout << "\033[0m已清除" << std::endl; }

static void text() {
  std::cout << "请输入文件路径：";
  std::string textName;
  if (!(std::cin >> textName)) {
    return;
  }
  // Opened without truncation first, so that a file keeps its content until a word arrives. A
  // path holding a NUL byte names no file: opened as typed, the part before the NUL would be
  // emptied, a file that the user did not name.
  std::ofstream outfile;
  if (textName.find('\0') == std::string::npos) {
    outfile.open(textName, std::ios::out | std::ios::app);
  }
  if (!outfile.is_open()) {
    writeErrorTag();
    std::cout << "文件打开失败" << std::endl;
    return;
  }
  std::cout << "文件打开成功！" << std::endl;
  std::cout << "输入文本：";
  std::string text;
  if (!(std::cin >> text)) {
    return;
  }
  outfile.close();
  outfile.open(textName, std::ios::out | std::ios::trunc);
  outfile << text;
  outfile.close();
  if (!outfile) {
    writeErrorTag();
    std::cout << "文件写入失败" << std::endl;
    return;
  }
  std::cout << "文本已关闭" << std::endl;
}

static void install() {
  std::string file;
  if (!(std::cin >> file)) {
    return;
  }
  if (file == "vexoAPP") {
    runCommandLine(std::string("git clone ") + vexoAppUrl);
  } else if (file == "MarunDataStorage") {
    runCommandLine(std::string("git clone ") + marunDataStorageUrl);
  } else {
    writeErrorTag();
    std::cout << "无法下载“" + file + "”" << std::endl;
  }
}

static void run() {
  std::string file_path;
  if (!(std::cin >> file_path)) {
    return;
  }
  if (file_path.size() > 999) {
    writeErrorTag();
    std::cout << "命令过长(超过999个字符)" << std::endl;
    return;
  }
  runCommandLine(file_path);
}

static void mysql() { runCommandLine("vexoMYSQL.exe"); }

static void vexoVersion() {
  std::cout << "marun tools\nv1.2.0\n开发语言：C++\n适用系统：windows\n岚舟工作室开发" << std::endl;
}

#ifndef _WIN32
// cmd finds programs in the program's own folder; here the folder goes last on PATH, so
// `color` and `vexoMYSQL.exe` beside us are found and anything earlier on PATH wins.
static void appendOwnFolderToPath() {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) {
    return;
  }
  const char *path = std::getenv("PATH");
  std::string newPath = path != nullptr && *path != '\0' ? std::string(path) + ":" : "";
  newPath += self.parent_path().string();
  setenv("PATH", newPath.c_str(), 1);
}
#endif

int main() {
  // Unbuffered input: a program that a command starts reads what we have not, so answers typed
  // ahead for the database client reach it and are not held back in our buffer.
  std::setvbuf(stdin, nullptr, _IONBF, 0);
#ifndef _WIN32
  appendOwnFolderToPath();
#endif
  std::cout << "\033[0m"
            << "marun tools:输入“help”寻求帮助" << std::endl;
  std::string directives;
  size_t i = 0;
  while (i == 0) {
    // A command that met the end of input has already used up its prompt.
    if (std::cin) {
      std::cout << "vexo-1.2.0/> " << std::flush;
      std::cin >> directives;
    }
    if (!std::cin) {
      // Input has ended: leave as close would, on a line of our own.
      std::cout << std::endl;
      break;
    }
    if (directives == "help") {
      help();
    } else if (directives == "cout") {
      discardWord();
    } else if (directives == "color") {
      setColour(false);
    } else if (directives == "clear") {
      clear();
    } else if (directives == "background_color") {
      setColour(true);
    } else if (directives == "text") {
      text();
    } else if (directives == "install") {
      install();
    } else if (directives == "run") {
      run();
    } else if (directives == "close") {
      i++;
    } else if (directives == "MYSQL") {
      mysql();
    } else if (directives == "vexo_v") {
      vexoVersion();
    } else {
      writeErrorTag();
      std::cout << "“" + directives + "”不是vexo指令" << std::endl;
    }
  }
  return 0;
}
