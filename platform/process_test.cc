#include "platform/process.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "gtest/gtest.h"
#include "platform/registry_testing.h"

namespace kst {
namespace {

TEST(SplitCommandLineTest, FollowsTheRuntimeRules) {
  struct Case {
    const char* line;
    std::vector<std::string> words;
  } cases[] = {
      {"", {}},
      {"  \t ", {}},
      {"prog a b", {"prog", "a", "b"}},
      {"  prog   a\tb  ", {"prog", "a", "b"}},
      {"\"C:\\Program Files\\K\\x.exe\" -a", {"C:\\Program Files\\K\\x.exe", "-a"}},
      // The program word knows no backslash rules.
      {"C:\\a\\\"b c", {"C:\\a\\\"b", "c"}},
      {"p \"a b\" c", {"p", "a b", "c"}},
      {"p a\"b c\"d", {"p", "ab cd"}},
      {"p \\\\\\\"x", {"p", "\\\"x"}},        // 3 backslashes + quote
      {"p \\\\\"x y\"", {"p", "\\x y"}},       // 2 backslashes + quote
      {"p a\\\\b", {"p", "a\\\\b"}},           // no quote: literal
      {"p \"a\"\"b\"", {"p", "a\"b"}},         // doubled quote inside quotes
      {"p \"\"", {"p", ""}},
      {"p  -day 1", {"p", "-day", "1"}},       // two blanks give no empty word
      {"p \"unterminated arg", {"p", "unterminated arg"}},
      {"p line1\nline2", {"p", "line1\nline2"}},
      {"p \"C:\\dir\\\\\" x", {"p", "C:\\dir\\", "x"}},
  };
  for (const Case& c : cases) EXPECT_EQ(SplitCommandLine(c.line), c.words) << c.line;
}

class ProcessTest : public ::testing::Test {
 protected:
  std::string WriteScript(const std::string& name, const std::string& body) {
    std::string path = home_ + "/" + name;
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    ::chmod(path.c_str(), 0755);
    return path;
  }
  static std::string Slurp(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  TempKestraneHome home_dir_;
  const std::string home_ = home_dir_.path();
};

TEST_F(ProcessTest, WaitsAndGivesExitCodeAndArguments) {
  std::string script = WriteScript("args", "printf '%s|' \"$@\" > \"$KESTRANE_HOME/out\"; exit 7");
  uint32_t code = 0;
  ASSERT_EQ(RunProgramAndWait("\"" + script + "\" a \"b c\" \"d\\\"e\"", {}, &code),
            kErrorSuccess);
  EXPECT_EQ(code, 7u);
  EXPECT_EQ(Slurp(home_ + "/out"), "a|b c|d\"e|");
}

TEST_F(ProcessTest, ExeSuffixAndWindowsInstallPathsAreMapped) {
  WriteScript("tool", "exit 3");
  uint32_t code = 0;
  EXPECT_EQ(RunProgramAndWait("\"" + home_ + "/tool.exe\"", {}, &code), kErrorSuccess);
  EXPECT_EQ(code, 3u);
  code = 0;
  EXPECT_EQ(RunProgramAndWait("\"C:\\Program Files\\Kestrane\\tool.exe\" x", {}, &code),
            kErrorSuccess);
  EXPECT_EQ(code, 3u);
}

TEST_F(ProcessTest, StartFailuresAreMapped) {
  std::string plain = home_ + "/plain";
  std::ofstream(plain) << "data";
  ::chmod(plain.c_str(), 0644);
  ProcessOptions in_missing_folder;
  in_missing_folder.working_directory = home_ + "/nofolder";
  struct Case {
    std::string line;
    ProcessOptions options;
    WinError error;
  } cases[] = {
      {home_ + "/missing.exe", ProcessOptions(), kErrorFileNotFound},
      {home_ + "/nofolder/prog", ProcessOptions(), kErrorPathNotFound},
      {"no-such-program-anywhere", ProcessOptions(), kErrorFileNotFound},
      {"", ProcessOptions(), kErrorInvalidParameter},
      {"/bin/true", in_missing_folder, kErrorPathNotFound},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RunProgramAndWait(c.line, c.options, nullptr), c.error) << c.line;
    EXPECT_EQ(StartDetachedProgram(c.line, c.options), c.error) << c.line;
  }
  if (::geteuid() != 0) {
    EXPECT_EQ(RunProgramAndWait(plain, {}, nullptr), kErrorAccessDenied);
  }
}

TEST_F(ProcessTest, NameAsGivenIsNotSearchedFor) {
  // A bare name is the file in the current folder, wherever the program
  // then starts; PATH and the running program's folder are not searched.
  WriteScript("here", "pwd > \"$KESTRANE_HOME/ran\"");
  std::string folder = home_ + "/elsewhere";
  std::filesystem::create_directory(folder);
  std::filesystem::path before = std::filesystem::current_path();
  ASSERT_EQ(::chdir(home_.c_str()), 0);
  ProcessOptions as_given;
  as_given.search_path = false;
  as_given.working_directory = folder;
  EXPECT_EQ(RunProgramAndWait("here", as_given, nullptr), kErrorSuccess);
  EXPECT_EQ(RunProgramAndWait("here.exe", as_given, nullptr), kErrorSuccess);
  EXPECT_EQ(RunProgramAndWait("sh -c true", as_given, nullptr), kErrorFileNotFound);
  EXPECT_EQ(StartDetachedProgram("sh -c true", as_given), kErrorFileNotFound);
  EXPECT_EQ(RunProgramAndWait("nofolder/here", as_given, nullptr), kErrorPathNotFound);
  EXPECT_EQ(RunProgramAndWait("sh -c true", {}, nullptr), kErrorSuccess) << "searched by default";
  std::filesystem::current_path(before);
  EXPECT_EQ(Slurp(home_ + "/ran"), folder + "\n");
}

TEST_F(ProcessTest, HiddenProgramWritesToItsOutputFileInItsFolder) {
  ::mkdir((home_ + "/work").c_str(), 0755);
  std::string script = WriteScript("hidden",
                                   "pwd; echo to-stderr >&2; echo \"$EXTRA\"; "
                                   "read line || echo no-input; [ -t 0 ] || echo no-tty");
  ProcessOptions options;
  options.hidden = true;
  options.output_file = home_ + "/log";
  options.working_directory = home_ + "/work";
  options.extra_environment = {"EXTRA=set"};
  std::ofstream(home_ + "/log") << "before\n";
  ASSERT_EQ(RunProgramAndWait(script, options, nullptr), kErrorSuccess);
  EXPECT_EQ(Slurp(home_ + "/log"),
            "before\n" + home_ + "/work\nto-stderr\nset\nno-input\nno-tty\n");
}

TEST_F(ProcessTest, DetachedProgramRunsOnWithoutBeingOurChild) {
  // The program ends only once it sees "go" (or after a minute).
  std::string script = WriteScript(
      "bg", "for i in $(seq 600); do [ -e \"$KESTRANE_HOME/go\" ] && break; sleep 0.1; done; "
            "echo $PPID > \"$KESTRANE_HOME/bg.out\"");
  ProcessOptions options;
  options.hidden = true;
  ASSERT_EQ(StartDetachedProgram(script, options), kErrorSuccess);
  EXPECT_TRUE(Slurp(home_ + "/bg.out").empty()) << "the start waited until the program ended";
  std::ofstream(home_ + "/go").close();
  // No child is left to wait for.
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
  for (int i = 0; i < 1500 && Slurp(home_ + "/bg.out").empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  std::string parent = Slurp(home_ + "/bg.out");
  ASSERT_FALSE(parent.empty()) << "the program did not end within 30 s of \"go\"";
  EXPECT_NE(std::stoi(parent), ::getpid());
}

TEST_F(ProcessTest, OnlyTheNamedDescriptorIsInherited) {
  // The other pipe is not close-on-exec, as a descriptor the caller got from
  // its own parent may not be: a started service must not hold it open.
  int keep[2], other[2];
  ASSERT_EQ(::pipe2(keep, O_CLOEXEC), 0);
  ASSERT_EQ(::pipe(other), 0);
  std::string script = WriteScript(
      "fds", "echo kept >&" + std::to_string(keep[1]) + "; { echo leaked >&" +
                 std::to_string(other[1]) + "; } 2>/dev/null; exit 0");
  ProcessOptions options;
  options.inherit_fd = keep[1];
  ASSERT_EQ(RunProgramAndWait(script, options, nullptr), kErrorSuccess);
  ::close(keep[1]);
  ::close(other[1]);
  char buffer[32] = {};
  EXPECT_EQ(::read(keep[0], buffer, sizeof(buffer)), 5);
  EXPECT_EQ(::read(other[0], buffer, sizeof(buffer)), 0);
  ::close(keep[0]);
  ::close(other[0]);
}

TEST_F(ProcessTest, ShellCommandRunsThroughTheShell) {
  EXPECT_EQ(RunShellCommand("echo a | tr a b > \"$KESTRANE_HOME/sh.out\""), 0);
  EXPECT_EQ(Slurp(home_ + "/sh.out"), "b\n");
}

}  // namespace
}  // namespace kst
