#include "platform/process.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "platform/ascii.h"
#include "platform/paths.h"
#include "platform/root_doors.h"

extern char** environ;

namespace kst {

namespace {

// The one place where a failure of the start becomes a Win32 number.
WinError ErrnoToWinError(int err) {
  switch (err) {
    case 0: return kErrorSuccess;
    case ENOENT: return kErrorFileNotFound;
    case ENOTDIR: return kErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EISDIR: return kErrorAccessDenied;
    case ENOMEM:
    case EAGAIN: return kErrorNotEnoughMemory;
    case E2BIG:
    case EINVAL: return kErrorInvalidParameter;
    default: return kErrorAccessDenied;
  }
}

bool IsRegularFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The name as given, or without ".exe" when only that exists.
std::string TryWithAndWithoutExe(const std::string& path) {
  if (IsRegularFile(path)) return path;
  if (EndsWithNoCase(path, ".exe")) {
    std::string bare = path.substr(0, path.size() - 4);
    if (IsRegularFile(bare)) return bare;
  }
  return std::string();
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Everything the child needs, built before fork: after fork only
// async-signal-safe calls are made.
struct Launch {
  std::string program;
  int program_fd = -1;  // what the program door checked: the exec uses it
  bool script = false;  // the interpreter reads the script through program_fd
  std::vector<std::string> args;
  std::vector<std::string> env;
  std::vector<char*> argv;
  std::vector<char*> envp;
  std::string working_directory;
  int stdin_fd = -1;
  int stdout_fd = -1;
  int inherit_fd = -1;
  bool new_session = false;
  int fd_limit = 1024;  // where closing one by one stops, when it must

  ~Launch() {
    if (program_fd >= 0) ::close(program_fd);
    if (stdin_fd >= 0) ::close(stdin_fd);
    if (stdout_fd >= 0) ::close(stdout_fd);
  }
};

std::vector<std::string> BuildEnvironment(
    const std::vector<std::string>& extra) {
  std::vector<std::string> env;
  for (char** e = environ; e != nullptr && *e != nullptr; ++e) env.push_back(*e);
  for (const std::string& entry : extra) {
    size_t eq = entry.find('=');
    std::string_view key(entry.data(), eq == std::string::npos ? entry.size() : eq + 1);
    bool replaced = false;
    for (std::string& have : env) {
      if (have.compare(0, key.size(), key) == 0) {
        have = entry;
        replaced = true;
        break;
      }
    }
    if (!replaced) env.push_back(entry);
  }
  return env;
}

// The file a program name gives by itself; made absolute, since the program
// may start in another folder.
std::string ResolveAsGiven(const std::string& name, WinError* error) {
  std::string native = NativePath(name);
  if (native.empty()) {
    *error = kErrorInvalidParameter;
    return "";
  }
  std::string found = TryWithAndWithoutExe(native);
  if (found.empty()) {
    *error = native.find('/') != std::string::npos && !IsDirectory(FolderOf(native)) ? kErrorPathNotFound
                                                                                     : kErrorFileNotFound;
    return "";
  }
  if (found[0] == '/') return found;
  std::error_code ignored;
  return (std::filesystem::current_path(ignored) / found).string();
}

WinError PrepareLaunch(std::string_view command_line,
                       const ProcessOptions& options, Launch* launch) {
  launch->args = SplitCommandLine(command_line);
  std::string name = options.application;
  if (name.empty()) {
    if (launch->args.empty() || launch->args[0].empty()) return kErrorInvalidParameter;
    name = launch->args[0];
  }
  if (launch->args.empty()) launch->args.push_back(name);
  WinError error = kErrorSuccess;
  launch->program = options.search_path ? ResolveProgram(name, &error) : ResolveAsGiven(name, &error);
  if (launch->program.empty()) return error;
  // Root runs nothing another user could have put in the program's place.
  std::string refusal;
  launch->program_fd = OpenProgramDoor(launch->program, &launch->script, &refusal);
  if (launch->program_fd < 0) {
    if (refusal.empty()) return ErrnoToWinError(errno);
    std::fprintf(stderr, "%s\n", DoorRefusal("run", launch->program, refusal).c_str());
    std::fflush(stderr);
    return kErrorAccessDenied;
  }
  if (!options.working_directory.empty()) {
    launch->working_directory = NativePath(options.working_directory);
    if (!IsDirectory(launch->working_directory)) return kErrorPathNotFound;
  }
  launch->env = BuildEnvironment(options.extra_environment);
  for (std::string& a : launch->args) launch->argv.push_back(a.data());
  launch->argv.push_back(nullptr);
  for (std::string& e : launch->env) launch->envp.push_back(e.data());
  launch->envp.push_back(nullptr);
  launch->inherit_fd = options.inherit_fd;
  rlimit files{};
  if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY) {
    launch->fd_limit = static_cast<int>(std::min<rlim_t>(files.rlim_cur, 65536));
  }
  if (options.hidden) {
    launch->new_session = true;
    launch->stdin_fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (launch->stdin_fd < 0) return ErrnoToWinError(errno);
    if (options.output_file.empty()) {
      launch->stdout_fd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    } else {
      // The caller tells why, where it matters (a service's log).
      launch->stdout_fd = OpenDataDoor(NativePath(options.output_file),
                                       O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW, 0600, &refusal);
    }
    if (launch->stdout_fd < 0) return ErrnoToWinError(errno);
  }
  return kErrorSuccess;
}

// Closes every descriptor from 3 up, also those the caller inherited
// without close-on-exec, except the ones in `keep` (ascending, -1 for
// none). Async-signal-safe.
void CloseAllBut(const int (&keep)[3], int limit) {
  int first = 3;
  for (int fd : keep) {
    if (fd < first) continue;
    if (fd > first && ::close_range(static_cast<unsigned>(first), static_cast<unsigned>(fd - 1), 0) != 0) {
      for (int i = first; i < fd && i < limit; ++i) ::close(i);
    }
    first = fd + 1;
  }
  if (::close_range(static_cast<unsigned>(first), ~0u, 0) == 0) return;
  for (int fd = first; fd < limit; ++fd) ::close(fd);
}

// Runs in the child after fork: sets up and execs, or reports errno on the
// pipe and ends. Async-signal-safe calls only.
[[noreturn]] void ExecChild(const Launch& launch, int report_fd) {
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  struct sigaction default_action;
  memset(&default_action, 0, sizeof(default_action));
  default_action.sa_handler = SIG_DFL;
  sigaction(SIGPIPE, &default_action, nullptr);
  if (launch.stdin_fd >= 0) {
    dup2(launch.stdin_fd, 0);
    dup2(launch.stdout_fd, 1);
    dup2(launch.stdout_fd, 2);
  }
  // Only the standard streams, the named descriptor, the program's own
  // (closed by the exec unless it is a script) and the start report (closed
  // by the exec) stay open.
  int keep[3] = {report_fd, launch.inherit_fd, launch.program_fd};
  std::sort(std::begin(keep), std::end(keep));
  CloseAllBut(keep, launch.fd_limit);
  if (launch.inherit_fd >= 0) fcntl(launch.inherit_fd, F_SETFD, 0);
  if (launch.script) fcntl(launch.program_fd, F_SETFD, 0);
  int err = 0;
  if (!launch.working_directory.empty() &&
      chdir(launch.working_directory.c_str()) != 0) {
    err = errno == ENOENT ? ENOTDIR : errno;
  } else {
    syscall(SYS_execveat, launch.program_fd, "", launch.argv.data(), launch.envp.data(),
            AT_EMPTY_PATH);
    err = errno;
  }
  ssize_t ignored = write(report_fd, &err, sizeof(err));
  (void)ignored;
  _exit(127);
}

// Reads the child's start report: EOF means the exec succeeded.
WinError ReadStartReport(int read_fd) {
  int err = 0;
  ssize_t n;
  do {
    n = ::read(read_fd, &err, sizeof(err));
  } while (n < 0 && errno == EINTR);
  ::close(read_fd);
  if (n == static_cast<ssize_t>(sizeof(err))) return ErrnoToWinError(err);
  return kErrorSuccess;
}

int WaitForChild(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return status;
}

WinError Spawn(std::string_view command_line, const ProcessOptions& options,
               bool detached, uint32_t* exit_code) {
  Launch launch;
  WinError error = PrepareLaunch(command_line, options, &launch);
  if (error != kErrorSuccess) return error;
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) return ErrnoToWinError(errno);
  pid_t pid = ::fork();
  if (pid < 0) {
    int err = errno;
    ::close(report[0]);
    ::close(report[1]);
    return ErrnoToWinError(err);
  }
  if (pid == 0) {
    ::close(report[0]);
    if (launch.new_session) setsid();
    if (detached) {
      pid_t grandchild = fork();
      if (grandchild < 0) {
        int err = errno;
        ssize_t ignored = write(report[1], &err, sizeof(err));
        (void)ignored;
        _exit(127);
      }
      if (grandchild > 0) _exit(0);
    }
    ExecChild(launch, report[1]);
  }
  ::close(report[1]);
  error = ReadStartReport(report[0]);
  if (detached) {
    WaitForChild(pid);
    return error;
  }
  int status = WaitForChild(pid);
  if (error != kErrorSuccess) return error;
  if (exit_code != nullptr) {
    if (WIFEXITED(status)) {
      *exit_code = static_cast<uint32_t>(WEXITSTATUS(status));
    } else if (WIFSIGNALED(status)) {
      *exit_code = 128u + static_cast<uint32_t>(WTERMSIG(status));
    } else {
      *exit_code = 0;
    }
  }
  return kErrorSuccess;
}

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view line) {
  std::vector<std::string> words;
  size_t i = 0, n = line.size();
  auto is_blank = [](char c) { return c == ' ' || c == '\t'; };
  while (i < n && is_blank(line[i])) ++i;
  if (i >= n) return words;
  // The program name: no backslash rules.
  std::string first;
  if (line[i] == '"') {
    ++i;
    while (i < n && line[i] != '"') first.push_back(line[i++]);
    if (i < n) ++i;
  } else {
    while (i < n && !is_blank(line[i])) first.push_back(line[i++]);
  }
  words.push_back(first);
  while (true) {
    while (i < n && is_blank(line[i])) ++i;
    if (i >= n) break;
    std::string word;
    bool quoted = false;
    while (i < n && (quoted || !is_blank(line[i]))) {
      if (line[i] == '\\') {
        size_t count = 0;
        while (i < n && line[i] == '\\') { ++count; ++i; }
        if (i < n && line[i] == '"') {
          word.append(count / 2, '\\');
          if (count % 2 == 1) {
            word.push_back('"');
            ++i;
          }
        } else {
          word.append(count, '\\');
        }
      } else if (line[i] == '"') {
        if (quoted && i + 1 < n && line[i + 1] == '"') {
          word.push_back('"');
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
      } else {
        word.push_back(line[i++]);
      }
    }
    words.push_back(word);
  }
  return words;
}

std::string ResolveProgram(std::string_view name, WinError* error) {
  WinError missing = kErrorFileNotFound;
  std::string native = NativePath(name);
  std::string found;
  if (native.empty()) {
    missing = kErrorInvalidParameter;
  } else if (native.find('/') != std::string::npos) {
    found = TryWithAndWithoutExe(native);
    if (found.empty() && !IsDirectory(FolderOf(native))) missing = kErrorPathNotFound;
  } else {
    std::vector<std::string> folders{FolderOf(CurrentProgramPath())};
    const char* path = std::getenv("PATH");
    std::string_view rest = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
    while (true) {
      size_t colon = rest.find(':');
      std::string_view dir = rest.substr(0, colon);
      folders.emplace_back(dir.empty() ? "." : std::string(dir));
      if (colon == std::string_view::npos) break;
      rest.remove_prefix(colon + 1);
    }
    for (const std::string& folder : folders) {
      found = TryWithAndWithoutExe(folder + "/" + native);
      if (!found.empty()) break;
    }
  }
  if (found.empty() && error != nullptr) *error = missing;
  return found;
}

void RaiseCurrentThreadPriority(int steps) {
  // On Linux a thread's nice value is set through its thread id.
  id_t thread = static_cast<id_t>(::syscall(SYS_gettid));
  int now = ::getpriority(PRIO_PROCESS, thread);
  ::setpriority(PRIO_PROCESS, thread, now - 5 * steps);
}

std::string CurrentProgramPath() {
  char buffer[4096];
  ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
  if (n <= 0) return std::string();
  return std::string(buffer, static_cast<size_t>(n));
}

WinError RunProgramAndWait(std::string_view command_line,
                           const ProcessOptions& options,
                           uint32_t* exit_code) {
  return Spawn(command_line, options, /*detached=*/false, exit_code);
}

WinError StartDetachedProgram(std::string_view command_line,
                              const ProcessOptions& options) {
  return Spawn(command_line, options, /*detached=*/true, nullptr);
}

int RunShellCommand(const std::string& command) {
  return std::system(command.c_str());
}

}  // namespace kst
