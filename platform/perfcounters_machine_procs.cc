// The Process and Thread objects of the machine's counter source. Processes
// are counted per program name (every process of one program adds to its
// instance), so that a path stays valid while the processes behind it come
// and go; threads are "process/index", numbered per program name in process
// and thread order.
// The CPU time of a name and the totals are carried from reading to reading,
// so that a process or thread that ends does not make them fall.
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <unordered_map>

#include "platform/perfcounters_source.h"

namespace kst::perf {
namespace {

std::vector<long> NumericEntries(const std::string& folder) {
  std::vector<long> ids;
  if (DIR* dir = ::opendir(folder.c_str())) {
    while (dirent* entry = ::readdir(dir)) {
      char* end = nullptr;
      const long id = std::strtol(entry->d_name, &end, 10);
      if (*end == '\0' && entry->d_name[0] != '\0') ids.push_back(id);
    }
    ::closedir(dir);
  }
  std::sort(ids.begin(), ids.end());
  return ids;
}

// The fields of a /proc stat file: its command name, and the fields after
// the name counted from 3 (the state) as the proc manual numbers them.
struct StatLine {
  std::string name;  // as the kernel keeps it, at most 15 characters
  std::vector<double> fields;  // fields[i] is field i + 3
  double Field(size_t number) const {
    return number >= 3 && number - 3 < fields.size() ? fields[number - 3] : 0.0;
  }
};

bool ReadStat(const std::string& path, StatLine* stat) {
  std::string text;
  if (!ReadSmallFile(path, &text)) return false;
  // The name may hold blanks and parentheses: it runs to the last ')'.
  const size_t open = text.find('(');
  const size_t close = text.rfind(')');
  if (open == std::string::npos || close == std::string::npos || close < open) return false;
  stat->name = text.substr(open + 1, close - open - 1);
  stat->fields.clear();
  const char* at = text.c_str() + close + 1;
  while (*at != '\0') {
    while (*at == ' ') ++at;
    if (*at == '\0' || *at == '\n') break;
    char* end = nullptr;
    const double value = std::strtod(at, &end);
    stat->fields.push_back(end == at ? 0.0 : value);  // the state letter reads as 0
    at = end == at ? at + 1 : end;
    while (*at != ' ' && *at != '\0') ++at;
  }
  return true;
}

double ClockTicks() {
  static const double ticks = static_cast<double>(::sysconf(_SC_CLK_TCK));
  return ticks;
}

double PageBytes() {
  static const double bytes = static_cast<double>(::sysconf(_SC_PAGESIZE));
  return bytes;
}

double ContextSwitches(const std::string& status_path) {
  std::string text;
  if (!ReadSmallFile(status_path, &text)) return 0.0;
  return KeyValue(text, "voluntary_ctxt_switches") + KeyValue(text, "nonvoluntary_ctxt_switches");
}

// The longest name the kernel keeps of a program.
constexpr size_t kKernelNameLength = 15;

// A process's instance name and the one it had before (empty when the two
// agree). A process is named by its program's whole file name, without its
// folder; the kernel's name is that name cut to 15 characters, so where it
// is that long, the program file or the command line's first word that
// begins with it gives the rest.
struct ProcessName {
  std::string name;
  std::string alias;
};

ProcessName NameOf(const std::string& folder, const std::string& kernel_name) {
  if (kernel_name.size() < kKernelNameLength) return {InstanceName(kernel_name), ""};
  std::string programs[2];
  char link[4096];
  const ssize_t n = ::readlink((folder + "/exe").c_str(), link, sizeof link);
  if (n > 0) {
    programs[0].assign(link, static_cast<size_t>(n));
    const std::string deleted = " (deleted)";
    if (programs[0].ends_with(deleted)) programs[0].resize(programs[0].size() - deleted.size());
  }
  if (ReadSmallFile(folder + "/cmdline", &programs[1])) programs[1].resize(std::strlen(programs[1].c_str()));
  for (const std::string& program : programs) {
    const std::string file = program.substr(program.rfind('/') + 1);
    if (file.size() > kernel_name.size() && file.starts_with(kernel_name)) {
      return {InstanceName(file), InstanceName(kernel_name)};
    }
  }
  return {InstanceName(kernel_name), ""};
}

}  // namespace

ObjectDef ProcessObject() {
  return {"Process", true,
          {{"% Processor Time", CounterKind::kTimeShare},
           {"Working Set", CounterKind::kGauge},
           {"Private Bytes", CounterKind::kGauge},
           {"Thread Count", CounterKind::kGauge}}};
}

ObjectDef ThreadObject() {
  return {"Thread", true,
          {{"% Processor Time", CounterKind::kTimeShare}, {"Context Switches/sec", CounterKind::kRate}}};
}

// What the tasks of one object did, carried from reading to reading.
struct TaskSampler::Sums {
  // A task is known by its id and its start time, as ids are reused.
  struct Task {
    double start;
    double cpu;
    double switches;
    bool seen;
  };
  std::unordered_map<long, Task> tasks;
  std::map<std::string, double> cpu_by_name;  // names of the latest reading only
  double cpu = 0;
  double switches = 0;

  // Counts one task's cumulative figures of this reading: what they grew
  // since its last reading, or all of them for a task not read before (it
  // began after that reading, or this is the first).
  void Count(long id, double start, double task_cpu, double task_switches, double* cpu_growth,
             double* switch_growth) {
    auto [it, fresh] = tasks.try_emplace(id, Task{start, 0, 0, false});
    Task& task = it->second;
    if (!fresh && task.start != start) task = Task{start, 0, 0, false};
    *cpu_growth = std::max(0.0, task_cpu - task.cpu);
    *switch_growth = std::max(0.0, task_switches - task.switches);
    task.cpu = task_cpu;
    task.switches = task_switches;
    task.seen = true;
    cpu += *cpu_growth;
    switches += *switch_growth;
  }

  // Ends a reading: forgets the tasks it did not see.
  void EndReading() {
    for (auto it = tasks.begin(); it != tasks.end();) {
      if (it->second.seen) {
        it->second.seen = false;
        ++it;
      } else {
        it = tasks.erase(it);
      }
    }
  }
};

TaskSampler::TaskSampler(const std::string& root)
    : proc_(root + "/proc"), processes_(std::make_unique<Sums>()), threads_(std::make_unique<Sums>()) {}
TaskSampler::~TaskSampler() = default;

void TaskSampler::SampleProcesses(double now, ObjectSample* out) {
  struct Gauges {
    double working_set = 0, private_bytes = 0, threads = 0;
  };
  std::map<std::string, Gauges> by_name;
  std::map<std::string, std::string> alias_of;
  Gauges total;
  std::map<std::string, double> cpu_by_name;
  for (long pid : NumericEntries(proc_)) {
    const std::string folder = proc_ + "/" + std::to_string(pid);
    StatLine stat;
    if (!ReadStat(folder + "/stat", &stat)) continue;  // gone meanwhile
    const ProcessName names = NameOf(folder, stat.name);
    if (!names.alias.empty()) alias_of.emplace(names.name, names.alias);
    std::string statm;
    double data_pages = 0;
    if (ReadSmallFile(folder + "/statm", &statm)) {
      // size resident shared text lib data dirty: the sixth is private data
      if (std::sscanf(statm.c_str(), "%*s %*s %*s %*s %*s %lf", &data_pages) != 1) data_pages = 0;
    }
    double cpu = 0, unused = 0;
    processes_->Count(pid, stat.Field(22), stat.Field(14) + stat.Field(15), 0, &cpu, &unused);
    // A name keeps its sum while some process of it lives.
    auto known = processes_->cpu_by_name.find(names.name);
    auto sum = cpu_by_name.try_emplace(
        names.name, known == processes_->cpu_by_name.end() ? 0.0 : known->second).first;
    sum->second += cpu;
    const Gauges one{stat.Field(24) * PageBytes(), data_pages * PageBytes(), stat.Field(20)};
    for (Gauges* gauges : {&by_name[names.name], &total}) {
      gauges->working_set += one.working_set;
      gauges->private_bytes += one.private_bytes;
      gauges->threads += one.threads;
    }
  }
  processes_->EndReading();
  processes_->cpu_by_name = cpu_by_name;
  const double clock = now * ClockTicks();
  by_name["_Total"] = total;
  cpu_by_name["_Total"] = processes_->cpu;
  for (const auto& [name, gauges] : by_name) {
    InstanceSample process;
    process.name = name;
    if (auto alias = alias_of.find(name); alias != alias_of.end()) process.alias = alias->second;
    process.values = {RawValue{cpu_by_name[name], clock, true}, RawValue{gauges.working_set, 0, true},
                      RawValue{gauges.private_bytes, 0, true}, RawValue{gauges.threads, 0, true}};
    out->push_back(std::move(process));
  }
}

void TaskSampler::SampleThreads(double now, ObjectSample* out) {
  const double clock = now * ClockTicks();
  std::map<std::string, int> next_index;  // per process name
  for (long pid : NumericEntries(proc_)) {
    const std::string folder = proc_ + "/" + std::to_string(pid);
    StatLine process;
    if (!ReadStat(folder + "/stat", &process)) continue;
    const ProcessName names = NameOf(folder, process.name);
    for (long tid : NumericEntries(folder + "/task")) {
      const std::string task = folder + "/task/" + std::to_string(tid);
      StatLine stat;
      if (!ReadStat(task + "/stat", &stat)) continue;
      const double cpu = stat.Field(14) + stat.Field(15);
      const double switches = ContextSwitches(task + "/status");
      double cpu_growth = 0, switch_growth = 0;
      threads_->Count(tid, stat.Field(22), cpu, switches, &cpu_growth, &switch_growth);
      InstanceSample thread;
      thread.parent = names.name;
      thread.name = std::to_string(next_index[names.name]++);
      if (!names.alias.empty()) {
        thread.alias_parent = names.alias;
        thread.alias = thread.name;
      }
      thread.values = {RawValue{cpu, clock, true}, RawValue{switches, now, true}};
      out->push_back(std::move(thread));
    }
  }
  threads_->EndReading();
  InstanceSample total;
  total.parent = "_Total";
  total.name = "_Total";
  total.values = {RawValue{threads_->cpu, clock, true}, RawValue{threads_->switches, now, true}};
  out->push_back(std::move(total));
}

}  // namespace kst::perf
