// End-to-end tests of the tools shell: the built program, fed through its standard input.
// This file is compiled with the programs' GBK execution character set, so the Chinese
// literals below are the same GBK bytes that the program must write.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "process.h"

using namespace vexotest;

namespace {

const std::string greeting = "\033[0mmarun tools:输入“help”寻求帮助";
const std::string prompt = "vexo-1.2.0/> ";
const std::string errorTag = "\033[31m[Error]\033[0m";

const std::string helpText =
    "**********|帮助|**********\n"
    "help --- 帮助 cout --- 输出\n"
    "color --- 文本颜色   clear --- 清除样式\n"
    "background_color --- 背景色\n"
    "install --- 安装 run --- 运行\n"
    "MYSQL --- 连接MYSQL\n"
    "text --- 文本 close --- 关闭\n"
    "vexo_v --- vexo信息\n"
    "**********|color|**********\n"
    "0-不变   1-蓝色\n2-绿色   3-浅绿色\n4-红色   5-紫色\n6-黄色   7-白色\n"
    "8-灰色   9-浅蓝色\nA-淡绿色   B-浅淡绿色\nC-谈绿色   D-淡紫色\nE-淡黄色   F-亮白色\n"
    "****|background_color|****\n"
    "0-黑色   1-蓝色\n2-绿色   3-浅绿色\n4-红色   5-紫色\n6-黄色   7-白色\n"
    "8-灰色   9-浅蓝色\nA-淡绿色   B-浅淡绿色\nC-谈绿色   D-淡紫色\nE-淡黄色   F-亮白色\n";

const std::string versionText =
    "marun tools\nv1.2.0\n开发语言：C++\n适用系统：windows\n岚舟工作室开发\n";

// What a whole run writes: the greeting, then `afterGreeting` (prompts included, "\n" as a
// line end).
std::string session(const std::string &afterGreeting) {
  return lines(greeting + "\n" + afterGreeting);
}

std::string notACommand(const std::string &word) {
  return errorTag + "“" + word + "”不是vexo指令\n";
}

ProcessResult runVexo(const std::string &input, ProcessOptions options = {}) {
  return runProgram(programCommand("vexo"), input, options);
}

// A Unix path as Wine's Windows programs see it.
std::string windowsPath(const std::string &path) {
  std::string converted = "Z:" + path;
  std::replace(converted.begin(), converted.end(), '/', '\\');
  return converted;
}

// A folder that goes first on PATH, holding commands that record how they were called.
// Each recorder appends "name arguments..." as one line to the log, then runs its script: sh for
// Linux programs; for Windows programs a batch file of cmd ("\n" written as CR LF), which the
// Windows PATH that Wine builds from WINEPATH leads to.
class Recorders {
 public:
  Recorders() : log_(folder_.path() + "/calls.log") {}

  void add(const std::string &name, const std::string &shScript = "",
           const std::string &cmdScript = "") {
    if (testingWindowsPrograms()) {
      // cmd tries the PATHEXT endings also after a name that has one, such as vexoMYSQL.exe.
      writeFile(folder_.path() + "/" + name + ".cmd",
                lines("@>>\"" + windowsPath(log_) + "\" echo " + name + " %*\n" + cmdScript));
      return;
    }
    writeFile(folder_.path() + "/" + name,
              "#!/bin/sh\nprintf '%s\\n' \"" + name + " $*\" >> '" + log_ + "'\n" + shScript, true);
  }
  // The log, with the line ends of cmd's echo (CR LF) written as "\n".
  std::string calls() const {
    std::string log = readFile(log_);
    for (size_t at = log.find("\r\n"); at != std::string::npos; at = log.find("\r\n", at)) {
      log.erase(at, 1);
    }
    return log;
  }
  ProcessOptions options() const {
    ProcessOptions options;
    options.environment = {"PATH=" + folder_.path() + ":/usr/bin:/bin",
                           "WINEPATH=" + windowsPath(folder_.path())};
    return options;
  }

 private:
  TempDir folder_;
  std::string log_;
};

// ---------------------------------------------------------------------------------------------
// The command shell

struct ShellCase {
  const char *name;
  std::string input;
  std::string afterGreeting;
};

void PrintTo(const ShellCase &shellCase, std::ostream *out) { *out << shellCase.name; }

class ShellDialogue : public testing::TestWithParam<ShellCase> {};

TEST_P(ShellDialogue, WritesExactlyTheseBytes) {
  const ProcessResult result = runVexo(GetParam().input);
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(result.out, session(GetParam().afterGreeting));
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.exitStatus, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Shell, ShellDialogue,
    testing::Values(
        ShellCase{"CloseAtOnce", "close\n", prompt},
        ShellCase{"Help", "help\nclose\n", prompt + helpText + prompt},
        ShellCase{"Version", "vexo_v\nclose\n", prompt + versionText + prompt},
        ShellCase{"Clear", "clear\nclose\n", prompt + "\033[0m已清除\n" + prompt},
        ShellCase{"TwoCommandsOnOneLine", "help vexo_v\nclose\n",
                  prompt + helpText + prompt + versionText + prompt},
        ShellCase{"BlankLinesAndTabsAreSkipped", "\n\n  \t \n\t close\n", prompt},
        ShellCase{"CloseIgnoresWhatFollows", "close help vexo_v\nhelp\n", prompt},
        ShellCase{"CoutDiscardsTheNextWord", "cout hello\ncout help\nclose\n",
                  prompt + prompt + prompt},
        ShellCase{"CoutWaitsOnTheNextLineWithoutPrompt", "cout\n\n  help\nclose\n",
                  prompt + prompt},
        ShellCase{"UpperCaseIsNoCommand", "HELP Help\nclose\n",
                  prompt + notACommand("HELP") + prompt + notACommand("Help") + prompt},
        ShellCase{"PunctuationAndPrefixesAreNoCommand", "help, helpme close1 colo\nclose\n",
                  prompt + notACommand("help,") + prompt + notACommand("helpme") + prompt +
                      notACommand("close1") + prompt + notACommand("colo") + prompt},
        ShellCase{"ChineseWordIsEchoedUnchanged", "帮助\nclose\n",
                  prompt + notACommand("帮助") + prompt},
        ShellCase{"DatabaseClientWordsAreNoCommand", "mysqlHelp closeMysql\nclose\n",
                  prompt + notACommand("mysqlHelp") + prompt + notACommand("closeMysql") + prompt},
        // End of input ends the shell as close would, on a line of its own.
        ShellCase{"EndOfInputAtThePrompt", "", prompt + "\n"},
        ShellCase{"EndOfInputAfterAWord", "help", prompt + helpText + prompt + "\n"},
        ShellCase{"EndOfInputAfterCout", "cout", prompt + "\n"},
        ShellCase{"EndOfInputAfterColor", "color \n", prompt + "\n"},
        ShellCase{"EndOfInputAfterBackgroundColor", "background_color", prompt + "\n"},
        ShellCase{"EndOfInputAfterInstall", "install\n", prompt + "\n"},
        ShellCase{"EndOfInputAfterRun", "run\n\n", prompt + "\n"},
        ShellCase{"EndOfInputAtTheFilePath", "text\n", prompt + "请输入文件路径：\n"}),
    [](const testing::TestParamInfo<ShellCase> &param) { return param.param.name; });

TEST(Shell, PromptIsOnTheScreenBeforeEachRead) {
  // Input is written only once the prompt has arrived through the pipe: an unflushed prompt
  // would leave both sides waiting.
  Session vexo(programCommand("vexo"));
  ASSERT_TRUE(vexo.waitForOutput(lines(greeting + "\n") + prompt, 5000)) << vexo.out();
  vexo.write("help\n");
  ASSERT_TRUE(vexo.waitForOutput(lines(greeting + "\n" + prompt + helpText) + prompt, 5000))
      << vexo.out();
  vexo.write("text\n");
  ASSERT_TRUE(vexo.waitForOutput("请输入文件路径：", 5000)) << vexo.out();
  vexo.write("/nonexistent-folder/file.txt\n");
  ASSERT_TRUE(vexo.waitForOutput(lines(errorTag + "文件打开失败\n") + prompt, 5000)) << vexo.out();
  vexo.write("close\n");
  const ProcessResult result = vexo.finish(true);
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_FALSE(result.timedOut);
}

TEST(Shell, ReadsWordsOfAnyLength) {
  const std::string word(1 << 20, 'x');
  const ProcessResult result = runVexo(word + "\nclose\n");
  EXPECT_EQ(result.out, session(prompt + notACommand(word) + prompt));
  EXPECT_EQ(result.exitStatus, 0);
}

TEST(Shell, PassesBytesThatAreNotGbkUnchangedAndTakesCrLfLineEnds) {
  const std::string word = "\xff\xfe\x80x";
  const ProcessResult result = runVexo(word + "\r\nvexo_v\r\nclose\r\n");
  EXPECT_EQ(result.out, session(prompt + notACommand(word) + prompt + versionText + prompt));
}

// ---------------------------------------------------------------------------------------------
// The colour commands

// Why a colour test checks only the output for Windows programs.
const char *const colorIsBuiltIn =
    "cmd's color is a built-in: no recorder on PATH can take its place to show the command line";

struct ColourCode {
  std::string code;
  std::string textColourLine;
  std::string backgroundColourLine;
};

const std::vector<ColourCode> colourCodes = {
    {"1", "color 1", "color 10"}, {"2", "color 2", "color 20"}, {"3", "color 3", "color 30"},
    {"4", "color 4", "color 40"}, {"5", "color 5", "color 50"}, {"6", "color 6", "color 60"},
    {"7", "color 7", "color 70"}, {"8", "color 8", "color 80"}, {"9", "color 9", "color 90"},
    {"A", "color A", "color A0"}, {"B", "color B", "color B0"}, {"C", "color C", "color C0"},
    {"D", "color D", "color D0"}, {"E", "color E", "color E0"}, {"F", "color F", "color F0"},
    {"0", "color 0", "color 0F"},
};

TEST(Colour, EveryCodeHandsItsCommandLineToTheInterpreter) {
  Recorders recorders;
  recorders.add("color");
  std::string input, expectedOut, expectedCalls;
  for (const ColourCode &row : colourCodes) {
    input += "color " + row.code + "\nbackground_color\n" + row.code + "\n";
    expectedOut += prompt + "执行成功 \n" + prompt + "执行成功 \n";
    expectedCalls += row.textColourLine + "\n" + row.backgroundColourLine + "\n";
  }
  const ProcessResult result = runVexo(input + "close\n", recorders.options());
  EXPECT_EQ(result.out, session(expectedOut + prompt));
  if (testingWindowsPrograms()) {
    GTEST_SKIP() << colorIsBuiltIn;
  }
  EXPECT_EQ(recorders.calls(), expectedCalls);
  EXPECT_EQ(result.exitStatus, 0);
}

TEST(Colour, RejectsEveryOtherWordAndRunsNothing) {
  Recorders recorders;
  recorders.add("color");
  const std::vector<std::string> words = {"a",  "b",  "c",  "d",  "e", "f", "G",  "10",
                                          "01", "00", "AA", "1A", "g", "-", "红", "0x1"};
  std::string input, expectedOut;
  for (const std::string &word : words) {
    for (const std::string command : {"color", "background_color"}) {
      input += command + " " + word + "\n";
      expectedOut += prompt + errorTag + "“" + word + "”不是vexo颜色\n";
    }
  }
  const ProcessResult result = runVexo(input + "close\n", recorders.options());
  EXPECT_EQ(result.out, session(expectedOut + prompt));
  if (testingWindowsPrograms()) {
    GTEST_SKIP() << colorIsBuiltIn;
  }
  EXPECT_EQ(recorders.calls(), "");
}

TEST(Colour, CodeOnALaterLineAndWordsAfterTheCode) {
  Recorders recorders;
  recorders.add("color");
  const ProcessResult result = runVexo("color\n\n 1 vexo_v\nclose\n", recorders.options());
  EXPECT_EQ(result.out, session(prompt + "执行成功 \n" + prompt + versionText + prompt));
  if (testingWindowsPrograms()) {
    GTEST_SKIP() << colorIsBuiltIn;
  }
  EXPECT_EQ(recorders.calls(), "color 1\n");
}

TEST(Colour, SuccessIsReportedWhateverTheInterpreterSays) {
  if (testingWindowsPrograms()) {
    GTEST_SKIP() << colorIsBuiltIn << ", and Wine's color has no console here to refuse a code";
  }
  // A `color` that fails loudly, and none at all: the line is written all the same.
  Recorders failing;
  failing.add("color", "echo refused >&2\nexit 1\n");
  ProcessResult result = runVexo("color 5\nclose\n", failing.options());
  EXPECT_EQ(result.out, session(prompt + "执行成功 \n" + prompt));
  EXPECT_EQ(result.err, "refused\n");

  TempDir empty;
  ProcessOptions noColourAnywhere;
  noColourAnywhere.environment = {"PATH=" + empty.path()};
  noColourAnywhere.workingDirectory = empty.path();
  // With PATH holding only an empty folder, vexo's own folder is appended; hide it by running a
  // copy of the program that has no `color` beside it.
  std::filesystem::copy_file(programPath("vexo"), empty.path() + "/vexo");
  result = runProgram({empty.path() + "/vexo"}, "background_color 7\nclose\n", noColourAnywhere);
  EXPECT_EQ(result.out, session(prompt + "执行成功 \n" + prompt));
}

TEST(Colour, TheRealStandInSetsTheTerminalColours) {
  if (testingWindowsPrograms()) {
    GTEST_SKIP() << "the color stand-in is for Linux terminals; cmd's own color sets the "
                    "attributes of a console, and the test's pipes are none";
  }
  // No recorder: the `color` beside vexo is found through the folder vexo appends to PATH.
  ProcessOptions options;
  options.environment = {"PATH=/usr/bin:/bin"};
  const ProcessResult result = runVexo(
      "color 1\nbackground_color 7\ncolor C\nbackground_color 0\ncolor 0\nclose\n", options);
  EXPECT_EQ(result.out,
            session(prompt + "\033[34;40m执行成功 \n" + prompt + "\033[30;47m执行成功 \n" + prompt +
                    "\033[91;40m执行成功 \n" + prompt + "\033[97;40m执行成功 \n" + prompt +
                    "执行成功 \n" + prompt));
}

struct ColourArgument {
  std::vector<std::string> arguments;
  std::string out;
  int exitStatus;
};

TEST(ColourStandIn, MapsConsoleColoursToAnsiAndRefusesTheRest) {
  if (testingWindowsPrograms()) {
    GTEST_SKIP() << "the color stand-in is a program of the Linux build only";
  }
  const std::vector<ColourArgument> table = {
      {{"1"}, "\033[34;40m", 0},
      {{"2"}, "\033[32;40m", 0},
      {{"3"}, "\033[36;40m", 0},
      {{"4"}, "\033[31;40m", 0},
      {{"5"}, "\033[35;40m", 0},
      {{"6"}, "\033[33;40m", 0},
      {{"7"}, "\033[37;40m", 0},
      {{"8"}, "\033[90;40m", 0},
      {{"9"}, "\033[94;40m", 0},
      {{"a"}, "\033[92;40m", 0},
      {{"B"}, "\033[96;40m", 0},
      {{"c"}, "\033[91;40m", 0},
      {{"D"}, "\033[95;40m", 0},
      {{"e"}, "\033[93;40m", 0},
      {{"F"}, "\033[97;40m", 0},
      {{"1F"}, "\033[97;44m", 0},
      {{"f0"}, "\033[30;107m", 0},
      {{"0F"}, "\033[97;40m", 0},
      {{}, "\033[0m", 0},
      {{"0"}, "", 1},
      {{"77"}, "", 1},
      {{"aA"}, "", 1},
      {{"G"}, "", 1},
      {{"123"}, "", 1},
      {{""}, "", 1},
      {{"1", "2"}, "", 1},
  };
  for (const ColourArgument &row : table) {
    std::vector<std::string> command = {programPath("color")};
    command.insert(command.end(), row.arguments.begin(), row.arguments.end());
    const ProcessResult result = runProgram(command, "");
    EXPECT_EQ(result.out, row.out) << testing::PrintToString(row.arguments);
    EXPECT_EQ(result.exitStatus, row.exitStatus) << testing::PrintToString(row.arguments);
  }
}

// ---------------------------------------------------------------------------------------------
// text

class TextFile : public testing::Test {
 protected:
  std::string path(const std::string &name) const { return folder_.path() + "/" + name; }
  TempDir folder_;
};

const std::string askPath = "请输入文件路径：";
const std::string opened = "文件打开成功！\n输入文本：";
const std::string closed = "文本已关闭\n";

TEST_F(TextFile, WritesTheWordAloneWithoutLineEnd) {
  const ProcessResult result = runVexo("text\n" + path("a.txt") + "\nhello\nclose\n");
  EXPECT_EQ(result.out, session(prompt + askPath + opened + closed + prompt));
  EXPECT_EQ(readFile(path("a.txt")), "hello");
}

TEST_F(TextFile, ReplacesTheWholeContentOfAnExistingFile) {
  writeFile(path("old.txt"), "a much longer old content\nwith two lines\n");
  const ProcessResult result = runVexo("text " + path("old.txt") + " 新的 close\n");
  EXPECT_EQ(result.out, session(prompt + askPath + opened + closed + prompt));
  EXPECT_EQ(readFile(path("old.txt")), "新的");
}

TEST_F(TextFile, OnlyTheFirstWordGoesIntoTheFileAndTheRestAreCommands) {
  const ProcessResult result = runVexo("text\n" + path("b.txt") + "\none vexo_v\nclose\n");
  EXPECT_EQ(result.out,
            session(prompt + askPath + opened + closed + prompt + versionText + prompt));
  EXPECT_EQ(readFile(path("b.txt")), "one");
}

TEST_F(TextFile, APathWithABlankIsCutAndTheRestIsTheText) {
  const ProcessResult result = runVexo("text\n" + path("my") + " file.txt\nclose\n");
  EXPECT_EQ(result.out, session(prompt + askPath + opened + closed + prompt));
  EXPECT_EQ(readFile(path("my")), "file.txt");
}

TEST_F(TextFile, AFolderThatDoesNotExistIsReportedAndTheNextWordIsACommand) {
  const ProcessResult result = runVexo("text\n" + path("missing/c.txt") + "\nvexo_v\nclose\n");
  EXPECT_EQ(result.out, session(prompt + askPath + errorTag + "文件打开失败\n" + prompt +
                                versionText + prompt));
  EXPECT_FALSE(std::filesystem::exists(path("missing")));
}

TEST_F(TextFile, APathNamingAFolderCannotBeOpened) {
  const ProcessResult result = runVexo("text\n" + folder_.path() + "\nclose\n");
  EXPECT_EQ(result.out, session(prompt + askPath + errorTag + "文件打开失败\n" + prompt));
}

TEST_F(TextFile, AFailedWriteIsNotReportedAsSuccess) {
  if (testingWindowsPrograms()) {
    GTEST_SKIP() << "/dev/full is a Linux device";
  }
  const ProcessResult result = runVexo("text\n/dev/full\nword\nclose\n");
  EXPECT_EQ(result.out, session(prompt + askPath + opened + errorTag + "文件写入失败\n" + prompt));
}

TEST_F(TextFile, EndOfInputBeforeTheTextKeepsTheOldContent) {
  writeFile(path("keep.txt"), "precious");
  const ProcessResult result = runVexo("text\n" + path("keep.txt") + "\n  \n");
  EXPECT_EQ(result.out, session(prompt + askPath + opened + "\n"));
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(readFile(path("keep.txt")), "precious");
}

// ---------------------------------------------------------------------------------------------
// install

const std::string vexoAppUrl = "https://github.com/marun-tools/vexoAPP.git";
const std::string dataStorageUrl = "https://github.com/marun-tools/MarunDataStorage.git";

TEST(Install, HandsGitCloneOfEachPackageAndWritesNothingOfItsOwn) {
  Recorders recorders;
  recorders.add("git", "echo cloning >&2\nexit 128\n", "@echo cloning>&2\n@exit /b 128\n");
  const ProcessResult result =
      runVexo("install vexoAPP\ninstall\nMarunDataStorage\nclose\n", recorders.options());
  EXPECT_EQ(result.out, session(prompt + prompt + prompt));
  EXPECT_EQ(result.err, lines("cloning\ncloning\n"));
  EXPECT_EQ(recorders.calls(), "git clone " + vexoAppUrl + "\ngit clone " + dataStorageUrl + "\n");
}

TEST(Install, RejectsAnyOtherWordAndRunsNothing) {
  Recorders recorders;
  recorders.add("git");
  const ProcessResult result = runVexo(
      "install vexoapp install MARUNDATASTORAGE install 软件\nclose\n", recorders.options());
  EXPECT_EQ(result.out, session(prompt + errorTag + "无法下载“vexoapp”\n" + prompt + errorTag +
                                "无法下载“MARUNDATASTORAGE”\n" + prompt + errorTag +
                                "无法下载“软件”\n" + prompt));
  EXPECT_EQ(recorders.calls(), "");
}

// Real git, cloning local bare repositories: the package URLs are rewritten to them by a
// test-only git configuration, so a real clone happens without any network.
class RealGit : public testing::Test {
 protected:
  void SetUp() override {
    if (testingWindowsPrograms()) {
      GTEST_SKIP() << "the suite's git is a Linux program";
    }
    const std::string repositories = folder_.path() + "/repositories";
    for (const std::string name : {"vexoAPP", "MarunDataStorage"}) {
      const std::string work = folder_.path() + "/work-" + name;
      ASSERT_EQ(system(("git init -q -b main '" + work + "' && cd '" + work + "' && echo " + name +
                        " > README && git add README && " +
                        "git -c user.name=t -c user.email=t@t commit -q -m init && " +
                        "git clone -q --bare . '" + repositories + "/" + name + ".git'")
                           .c_str()),
                0);
    }
    gitConfig_ = folder_.path() + "/gitconfig";
    writeFile(gitConfig_,
              "[url \"" + repositories + "/\"]\n\tinsteadOf = https://github.com/marun-tools/\n");
    std::filesystem::create_directory(folder_.path() + "/cwd");
    options_.workingDirectory = folder_.path() + "/cwd";
    options_.environment = {"GIT_CONFIG_GLOBAL=" + gitConfig_, "GIT_CONFIG_NOSYSTEM=1",
                            "GIT_TERMINAL_PROMPT=0"};
  }
  TempDir folder_;
  std::string gitConfig_;
  ProcessOptions options_;
};

TEST_F(RealGit, ClonesBothPackagesIntoTheCurrentFolder) {
  const ProcessResult result =
      runVexo("install vexoAPP\ninstall MarunDataStorage\nclose\n", options_);
  EXPECT_EQ(result.out, session(prompt + prompt + prompt));
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(readFile(options_.workingDirectory + "/vexoAPP/README"), "vexoAPP\n");
  EXPECT_EQ(readFile(options_.workingDirectory + "/MarunDataStorage/README"), "MarunDataStorage\n");
}

TEST_F(RealGit, AFailedCloneLeavesOnlyGitsOwnComplaint) {
  std::filesystem::create_directory(options_.workingDirectory + "/vexoAPP");
  writeFile(options_.workingDirectory + "/vexoAPP/mine", "x");
  const ProcessResult result = runVexo("install vexoAPP\nclose\n", options_);
  EXPECT_EQ(result.out, session(prompt + prompt));
  EXPECT_NE(result.err.find("already exists"), std::string::npos) << result.err;
}

// ---------------------------------------------------------------------------------------------
// run and MYSQL

// Joins a command and its argument in a word without blanks, and how the recorder then logs the
// join: sh expands ${IFS} to a blank; cmd takes a comma for a separator and passes it on.
const std::string joinArgument = testingWindowsPrograms() ? "," : "${IFS}";
const std::string loggedJoin = testingWindowsPrograms() ? " ," : " ";

TEST(Run, HandsTheWordToTheInterpreterAsTheWholeCommandLine) {
  Recorders recorders;
  recorders.add("probe", "echo probe-output\n", "@echo probe-output\n");
  const ProcessResult result = runVexo("run probe\nrun probe vexo_v\nclose\n", recorders.options());
  EXPECT_EQ(result.out, session(prompt + "probe-output\n" + prompt + "probe-output\n" + prompt +
                                versionText + prompt));
  EXPECT_EQ(recorders.calls(), "probe \nprobe \n");
}

TEST(Run, CharactersSpecialToTheInterpreterArePassedOn) {
  Recorders recorders;
  recorders.add("probe");
  // Two commands, the second with an argument and its output piped.
  const std::string word = testingWindowsPrograms() ? "probe&probe" + joinArgument + "two|more"
                                                    : "probe;probe${IFS}two|cat";
  const ProcessResult result = runVexo("run " + word + "\nclose\n", recorders.options());
  EXPECT_EQ(recorders.calls(), "probe \nprobe" + loggedJoin + "two\n");
  EXPECT_EQ(result.out, session(prompt + prompt));
}

TEST(Run, AWordOf999CharactersIsHandedOnWhole) {
  Recorders recorders;
  recorders.add("probe");
  const std::string head = "probe" + joinArgument;
  const std::string argument(999 - head.size(), 'x');
  const ProcessResult result = runVexo("run " + head + argument + "\nclose\n", recorders.options());
  EXPECT_EQ(recorders.calls(), "probe" + loggedJoin + argument + "\n");
  EXPECT_EQ(result.out, session(prompt + prompt));
}

TEST(Run, ALongerWordIsRefusedWholeAndNothingRuns) {
  Recorders recorders;
  recorders.add("probe");
  const std::string head = "probe" + joinArgument;
  const std::string argument(1000 - head.size(), 'x');
  const ProcessResult result =
      runVexo("run " + head + argument + " vexo_v\nclose\n", recorders.options());
  EXPECT_EQ(recorders.calls(), "");
  EXPECT_EQ(result.out, session(prompt + errorTag + "命令过长(超过999个字符)\n" + prompt +
                                versionText + prompt));
}

TEST(Run, AnUnknownCommandLeavesOnlyTheInterpretersComplaint) {
  const ProcessResult result = runVexo("run no-such-command-here\nclose\n");
  EXPECT_EQ(result.out, session(prompt + prompt));
  EXPECT_NE(result.err, "");
  EXPECT_EQ(result.exitStatus, 0);
}

TEST(Mysql, StartsTheClientByItsWindowsNameAndWaitsForIt) {
  Recorders recorders;
  // The stand-in client reads a word of the shell's input, so the shell must wait for it.
  recorders.add("vexoMYSQL.exe",
                "echo client started\nread word\necho \"client got $word\"\nexit 1\n",
                "@echo client started\n@set /p word=\n@echo client got %word%\n@exit /b 1\n");
  ProcessResult result;
  if (testingWindowsPrograms()) {
    // cmd's `set /p` under Wine takes all the input that is waiting, not one line: each answer is
    // typed once the question before it is on the screen.
    Session vexo(programCommand("vexo"), recorders.options());
    vexo.write("MYSQL\n");
    ASSERT_TRUE(vexo.waitForOutput(lines("client started\n"))) << vexo.out();
    vexo.write("hello\n");
    ASSERT_TRUE(vexo.waitForOutput(lines("client got hello\n") + prompt)) << vexo.out();
    vexo.write("vexo_v\nclose\n");
    result = vexo.finish();
  } else {
    result = runVexo("MYSQL\nhello\nvexo_v\nclose\n", recorders.options());
  }
  EXPECT_EQ(recorders.calls(), "vexoMYSQL.exe \n");
  EXPECT_EQ(result.out,
            session(prompt + "client started\nclient got hello\n" + prompt + versionText + prompt));
  EXPECT_EQ(result.exitStatus, 0);
}

}  // namespace
