// A subcommand made of actions ("kstctl log add ..."): the table of actions
// and the one dispatcher that checks their word counts and prints help.
#ifndef KESTRANE_TOOLS_KSTCTL_ACTION_TABLE_H_
#define KESTRANE_TOOLS_KSTCTL_ACTION_TABLE_H_

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace kst {

using ActionArgs = std::vector<std::string>;

struct Action {
  const char* name;
  const char* synopsis;  // the action's words, e.g. "add LOG COUNTER..."
  const char* help;
  size_t min_args;  // after the action's name
  size_t max_args;  // SIZE_MAX: any number
  int (*run)(const ActionArgs& args);
};

// Runs the action that args[0] names. `intro` opens the help; `notes`
// (may be empty) follows the list of actions.
template <size_t N>
int DispatchAction(const char* command, const Action (&actions)[N], const char* intro,
                   const char* notes, const std::vector<std::string>& args) {
  auto help = [&](FILE* out) {
    std::fprintf(out, "usage: kstctl %s ACTION ARGS...\n\n%s\nActions:\n", command, intro);
    for (const Action& a : actions) std::fprintf(out, "  %-44s %s\n", a.synopsis, a.help);
    std::fprintf(out, "%s", notes);
  };
  if (args.empty()) {
    help(stderr);
    return 2;
  }
  if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    help(stdout);
    return 0;
  }
  for (const Action& a : actions) {
    if (args[0] != a.name) continue;
    const ActionArgs rest(args.begin() + 1, args.end());
    if (rest.size() < a.min_args || rest.size() > a.max_args) {
      std::fprintf(stderr, "usage: kstctl %s %s\n", command, a.synopsis);
      return 2;
    }
    return a.run(rest);
  }
  std::fprintf(stderr, "kstctl %s: unknown action '%s'\n", command, args[0].c_str());
  std::fprintf(stderr, "Run 'kstctl %s --help' for the list of actions.\n", command);
  return 2;
}

}  // namespace kst

#endif  // KESTRANE_TOOLS_KSTCTL_ACTION_TABLE_H_
