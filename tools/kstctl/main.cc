// kstctl: the administrator's tool for a Kestrane installation.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/kstctl/command.h"

namespace kst {

// One line per subcommand, defined in its own foo_command.cc.
int RegCommand(const std::vector<std::string>& args);
int LogCommand(const std::vector<std::string>& args);
int InstanceCommand(const std::vector<std::string>& args);
int StoreCommand(const std::vector<std::string>& args);
int SvcCommand(const std::vector<std::string>& args);
int ProductCommand(const std::vector<std::string>& args);
int CollectorCommand(const std::vector<std::string>& args);
int ModuleCommand(const std::vector<std::string>& args);
int TrainCommand(const std::vector<std::string>& args);
int TuneCommand(const std::vector<std::string>& args);
int ReloadCommand(const std::vector<std::string>& args);
int NotificationsCommand(const std::vector<std::string>& args);

namespace {

struct Subcommand {
  const char* name;
  const char* help;
  CommandFunction run;
};

const Subcommand kSubcommands[] = {
    {"reg", "read and change the registry (keys and typed values)", RegCommand},
    {"log", "list, add and remove the logs of the configuration tree", LogCommand},
    {"instance", "write, remove and re-status a log's analyzer instances", InstanceCommand},
    {"store", "set up the counter store, list the buffer's counters, training tables", StoreCommand},
    {"svc", "start, stop, control, query and list the services", SvcCommand},
    {"product", "show and set rootDirectory, the check interval and notifications", ProductCommand},
    {"collector", "set up the collector's counters, interval and buffer; show them", CollectorCommand},
    {"module", "show an analyzer plug-in's title, description and parameter profiles", ModuleCommand},
    {"train", "train a new analyzer instance of a log from the collected buffer", TrainCommand},
    {"tune", "query or set an analyzer instance's sensitivity", TuneCommand},
    {"reload", "ask the checking service to reload its configuration", ReloadCommand},
    {"notifications", "edit the notification profiles in the alerter's dialog", NotificationsCommand},
};

void PrintUsage(FILE* out) {
  std::fprintf(out,
               "usage: kstctl COMMAND [ARGS...]\n"
               "\n"
               "Administers the Kestrane installation under $KESTRANE_HOME\n"
               "(default /var/lib/kestrane).\n"
               "\n"
               "Commands:\n");
  for (const Subcommand& c : kSubcommands)
    std::fprintf(out, "  %-13s %s\n", c.name, c.help);
  std::fprintf(out,
               "\n"
               "Run 'kstctl COMMAND --help' for a command's own help.\n");
}

int Main(int argc, char** argv) {
  if (argc < 2) {
    PrintUsage(stderr);
    return 2;
  }
  std::string name = argv[1];
  if (name == "--help" || name == "-h" || name == "help") {
    PrintUsage(stdout);
    return 0;
  }
  for (const Subcommand& c : kSubcommands) {
    if (name == c.name) return c.run(std::vector<std::string>(argv + 2, argv + argc));
  }
  std::fprintf(stderr, "kstctl: unknown command '%s'\n", name.c_str());
  std::fprintf(stderr, "Run 'kstctl --help' for the list of commands.\n");
  return 2;
}

}  // namespace
}  // namespace kst

int main(int argc, char** argv) { return kst::Main(argc, argv); }
