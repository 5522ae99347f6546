// Starting other programs. A command line is one text, split into words by
// the rules of the original platform's C runtime (SplitCommandLine), and the
// program runs without a shell; RunShellCommand is the one way through
// /bin/sh.
//
// Program names keep the system's texts: a Windows-shaped path is turned into
// a native one (platform/paths), and a name that does not exist is tried
// once more without a trailing ".exe". A name without a slash is looked for
// beside the running program first, then along PATH, unless the caller asks
// for the name as given (ProcessOptions::search_path).
//
// Descriptors: a started program inherits only its standard input, output
// and error (and the one descriptor ProcessOptions::inherit_fd names); every
// other one is closed in it, also those the caller itself inherited without
// close-on-exec, so that a long-running program holds none of them open.
//
// Threads: any thread may call. Nothing here touches the registry or takes a
// lock between fork and exec.
#ifndef KESTRANE_PLATFORM_PROCESS_H_
#define KESTRANE_PLATFORM_PROCESS_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win_errors.h"

namespace kst {

// The words of a command line, as the started program would see them in its
// argv: words are separated by blanks and tabs; a double quote starts or ends
// a quoted stretch where blanks belong to the word; 2n backslashes before a
// quote give n backslashes and the quote acts, 2n+1 give n backslashes and a
// literal quote; backslashes elsewhere stand for themselves; inside a quoted
// stretch a doubled quote gives one literal quote. The first word (the
// program) is read apart: up to the next quote when it begins with one, else
// up to the first blank or tab, with no backslash rules. Line ends are
// ordinary characters.
std::vector<std::string> SplitCommandLine(std::string_view command_line);

struct ProcessOptions {
  // The program to run. Empty: the first word of the command line.
  std::string application;
  // False: the program is the file the name gives, a name without a slash
  // being one in the caller's current folder; no other folder is searched.
  bool search_path = true;
  // Folder the program starts in (a system path text). Empty: the caller's.
  std::string working_directory;
  // Hidden: the program gets a session of its own (no controlling terminal),
  // standard input from /dev/null and standard output and error appended
  // to output_file (through the data door, platform/root_doors.h: created
  // 0600 when missing, never followed when it is a symbolic link, a regular
  // file only), or /dev/null when that is empty. Not hidden: it shares the caller's terminal and standard streams.
  bool hidden = false;
  std::string output_file;
  // "NAME=value" entries added to (or replacing in) the caller's environment.
  std::vector<std::string> extra_environment;
  // For the platform layer itself: a descriptor of the caller that the
  // program keeps open under the same number. -1: none.
  int inherit_fd = -1;
};

// Runs a program and waits for it without a time limit. The program is
// started from the descriptor the program door (platform/root_doors.h)
// opened, never by its name again. On success
// *exit_code (may be null) gets its exit status, or 128 + the signal number
// when a signal ended it. Errors: kErrorFileNotFound (the program is
// missing), kErrorPathNotFound (its folder, or the working folder, is
// missing), kErrorAccessDenied (not executable), kErrorInvalidParameter
// (empty command line), or another mapped failure of the start. A program
// the door refuses (run as root: one that another user could have put in
// place) gives kErrorAccessDenied and a line on standard error.
WinError RunProgramAndWait(std::string_view command_line,
                           const ProcessOptions& options,
                           uint32_t* exit_code);

// Starts a program that runs on by itself: the caller neither waits for it
// nor leaves a zombie behind (the program's parent becomes init). Returns
// once the program has been started, with the errors of RunProgramAndWait.
WinError StartDetachedProgram(std::string_view command_line,
                              const ProcessOptions& options);

// Hands a command to /bin/sh -c and waits for it; the answer is that of the
// C library's system().
int RunShellCommand(const std::string& command);

// Finds the file a program name stands for, by the rules above. Empty when
// none exists; *error (may be null) then tells why.
std::string ResolveProgram(std::string_view name, WinError* error);

// Raises the calling thread's scheduling priority by the given number of
// steps (1 above normal, 2 highest). Silently does nothing where the caller
// may not raise it.
void RaiseCurrentThreadPriority(int steps);

// Full native path of the running program.
std::string CurrentProgramPath();

}  // namespace kst

#endif  // KESTRANE_PLATFORM_PROCESS_H_
