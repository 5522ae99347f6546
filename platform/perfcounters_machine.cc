// The machine's counter source: processors, memory, system, disks and network
// interfaces from /proc and /sys (processes and threads live beside it, in
// perfcounters_machine_procs.cc).
#include <dirent.h>
#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>

#include "platform/perfcounters_source.h"

namespace kst::perf {

bool ReadSmallFile(const std::string& path, std::string* out) {
  out->clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buffer[16384];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    out->append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  return true;
}

std::string InstanceName(std::string_view raw) {
  std::string name(raw);
  for (char& c : name) {
    if (c == '/' || c == '\\' || c == '(' || c == ')' || c == ';' || c == '\n') c = '_';
  }
  return name;
}

namespace {

constexpr CounterKind kGauge = CounterKind::kGauge;
constexpr CounterKind kRate = CounterKind::kRate;
constexpr CounterKind kShare = CounterKind::kTimeShare;

enum ObjectId { kProcessor, kMemory, kSystem, kPhysicalDisk, kLogicalDisk, kNetwork, kProcess, kThread };

std::vector<ObjectDef> MachineObjects() {
  return {
      {"Processor", true,
       {{"% Processor Time", kShare}, {"% User Time", kShare}, {"% Privileged Time", kShare},
        {"% Idle Time", kShare}, {"% Interrupt Time", kShare}, {"Interrupts/sec", kRate}}},
      {"Memory", false,
       {{"Available Bytes", kGauge}, {"Available MBytes", kGauge}, {"Committed Bytes", kGauge},
        {"Commit Limit", kGauge}, {"% Committed Bytes In Use", kGauge}, {"Cache Bytes", kGauge},
        {"Pages/sec", kRate}, {"Page Faults/sec", kRate}}},
      {"System", false,
       {{"Processes", kGauge}, {"Threads", kGauge}, {"Context Switches/sec", kRate},
        {"Processor Queue Length", kGauge}, {"System Up Time", kGauge}}},
      {"PhysicalDisk", true,
       {{"Disk Reads/sec", kRate}, {"Disk Writes/sec", kRate}, {"Disk Read Bytes/sec", kRate},
        {"Disk Write Bytes/sec", kRate}, {"Current Disk Queue Length", kGauge},
        {"% Disk Time", kShare}}},
      {"LogicalDisk", true, {{"% Free Space", kGauge}, {"Free Megabytes", kGauge}}},
      {"Network Interface", true,
       {{"Bytes Received/sec", kRate}, {"Bytes Sent/sec", kRate}, {"Bytes Total/sec", kRate},
        {"Packets Received/sec", kRate}, {"Packets Sent/sec", kRate}}},
      ProcessObject(),
      ThreadObject(),
  };
}

RawValue Gauge(double value) { return RawValue{value, 0.0, true}; }
RawValue Counted(double value, double base) { return RawValue{value, base, true}; }

std::vector<std::string> Words(std::string_view line) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    size_t j = i;
    while (j < line.size() && line[j] != ' ' && line[j] != '\t') ++j;
    if (j > i) words.emplace_back(line.substr(i, j - i));
    i = j;
  }
  return words;
}

std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

double Number(const std::string& word) { return std::strtod(word.c_str(), nullptr); }

// "Key:   123 kB" and "key 123" lines as a map of the first number.
std::map<std::string, double> KeyValues(std::string_view text) {
  std::map<std::string, double> values;
  for (std::string_view line : Lines(text)) {
    std::vector<std::string> words = Words(line);
    if (words.size() < 2) continue;
    std::string key = words[0];
    if (!key.empty() && key.back() == ':') key.pop_back();
    values[key] = Number(words[1]);
  }
  return values;
}

class MachineSource final : public CounterSource {
 public:
  MachineSource() : objects_(MachineObjects()) { BeginCollection(); }

  const std::vector<ObjectDef>& Objects() const override { return objects_; }

  void BeginCollection() override {
    now_ = std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    files_.clear();
  }

  void Sample(size_t object, ObjectSample* out) override {
    out->clear();
    switch (object) {
      case kProcessor: SampleProcessors(out); break;
      case kMemory: SampleMemory(out); break;
      case kSystem: SampleSystem(out); break;
      case kPhysicalDisk: SampleDisks(out); break;
      case kLogicalDisk: SampleMounts(out); break;
      case kNetwork: SampleInterfaces(out); break;
      case kProcess: tasks_.SampleProcesses(now_, out); break;
      case kThread: tasks_.SampleThreads(now_, out); break;
      default: break;
    }
  }

 private:
  // A /proc file read once per collection, however many objects use it.
  const std::string& File(const std::string& path) {
    auto it = files_.find(path);
    if (it == files_.end()) {
      std::string text;
      if (!ReadSmallFile(path, &text)) text.clear();
      it = files_.emplace(path, std::move(text)).first;
    }
    return it->second;
  }

  void SampleProcessors(ObjectSample* out) {
    std::map<std::string, double> interrupts;  // per cpu number, and "_Total"
    for (std::string_view line : Lines(File("/proc/stat"))) {
      const std::vector<std::string> words = Words(line);
      if (words.size() >= 2 && words[0] == "intr") interrupts["_Total"] = Number(words[1]);
    }
    std::vector<std::string> columns;  // cpu numbers of /proc/interrupts' columns
    for (std::string_view line : Lines(File("/proc/interrupts"))) {
      const std::vector<std::string> words = Words(line);
      if (columns.empty()) {
        for (const std::string& word : words) {
          if (word.rfind("CPU", 0) == 0) columns.push_back(word.substr(3));
        }
        continue;
      }
      for (size_t i = 0; i < columns.size() && i + 1 < words.size(); ++i) {
        char* end = nullptr;
        const double count = std::strtod(words[i + 1].c_str(), &end);
        if (*end != '\0') break;
        interrupts[columns[i]] += count;
      }
    }
    InstanceSample total;
    for (std::string_view line : Lines(File("/proc/stat"))) {
      const std::vector<std::string> words = Words(line);
      if (words.size() < 9 || words[0].rfind("cpu", 0) != 0) continue;
      double f[8];
      for (int i = 0; i < 8; ++i) f[i] = Number(words[static_cast<size_t>(i) + 1]);
      // user nice system idle iowait irq softirq steal, in clock ticks
      const double all = f[0] + f[1] + f[2] + f[3] + f[4] + f[5] + f[6] + f[7];
      const double idle = f[3] + f[4];
      const double irq = f[5] + f[6];
      InstanceSample cpu;
      cpu.name = words[0] == "cpu" ? "_Total" : words[0].substr(3);
      cpu.values = {Counted(all - idle, all), Counted(f[0] + f[1], all), Counted(f[2] + irq, all),
                    Counted(idle, all),       Counted(irq, all),         Counted(interrupts[cpu.name], now_)};
      if (words[0] == "cpu") {
        total = std::move(cpu);
      } else {
        out->push_back(std::move(cpu));
      }
    }
    if (!total.name.empty()) out->push_back(std::move(total));
  }

  void SampleMemory(ObjectSample* out) {
    std::map<std::string, double> mem = KeyValues(File("/proc/meminfo"));
    std::map<std::string, double> vm = KeyValues(File("/proc/vmstat"));
    const double available = mem["MemAvailable"] * 1024;
    const double committed = mem["Committed_AS"] * 1024;
    const double limit = mem["CommitLimit"] * 1024;
    InstanceSample memory;
    memory.values = {Gauge(available),
                     Gauge(std::floor(available / (1024 * 1024))),
                     Gauge(committed),
                     Gauge(limit),
                     Gauge(limit > 0 ? 100.0 * committed / limit : 0.0),
                     Gauge(mem["Cached"] * 1024),
                     Counted(vm["pgmajfault"] + vm["pswpout"], now_),
                     Counted(vm["pgfault"], now_)};
    out->push_back(std::move(memory));
  }

  void SampleSystem(ObjectSample* out) {
    std::map<std::string, double> stat = KeyValues(File("/proc/stat"));
    double processes = 0;
    if (DIR* dir = ::opendir("/proc")) {
      while (dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] >= '1' && entry->d_name[0] <= '9') ++processes;
      }
      ::closedir(dir);
    }
    double threads = 0;
    const std::vector<std::string> load = Words(File("/proc/loadavg"));
    if (load.size() >= 4) {
      const size_t slash = load[3].find('/');
      if (slash != std::string::npos) threads = Number(load[3].substr(slash + 1));
    }
    const double cpus = static_cast<double>(std::max(1L, ::sysconf(_SC_NPROCESSORS_ONLN)));
    const std::vector<std::string> uptime = Words(File("/proc/uptime"));
    InstanceSample system;
    system.values = {Gauge(processes), Gauge(threads), Counted(stat["ctxt"], now_),
                     Gauge(std::max(0.0, stat["procs_running"] - cpus)),
                     Gauge(uptime.empty() ? 0.0 : Number(uptime[0]))};
    out->push_back(std::move(system));
  }

  void SampleDisks(ObjectSample* out) {
    std::vector<std::string> disks;
    if (DIR* dir = ::opendir("/sys/block")) {
      while (dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name[0] == '.' || name.rfind("loop", 0) == 0 || name.rfind("ram", 0) == 0) continue;
        disks.push_back(name);
      }
      ::closedir(dir);
    }
    std::sort(disks.begin(), disks.end());
    double sums[6] = {};
    const double ms = now_ * 1000;
    for (std::string_view line : Lines(File("/proc/diskstats"))) {
      const std::vector<std::string> w = Words(line);
      if (w.size() < 14 || !std::binary_search(disks.begin(), disks.end(), w[2])) continue;
      // reads, sectors read, writes, sectors written, in flight, ms doing I/O
      const double f[6] = {Number(w[3]), Number(w[5]) * 512, Number(w[7]), Number(w[9]) * 512,
                           Number(w[11]), Number(w[12])};
      for (int i = 0; i < 6; ++i) sums[i] += f[i];
      InstanceSample disk;
      disk.name = InstanceName(w[2]);
      disk.values = {Counted(f[0], now_), Counted(f[2], now_), Counted(f[1], now_), Counted(f[3], now_),
                     Gauge(f[4]),         Counted(f[5], ms)};
      out->push_back(std::move(disk));
    }
    const double count = static_cast<double>(std::max<size_t>(1, out->size()));
    InstanceSample total;
    total.name = "_Total";
    total.values = {Counted(sums[0], now_), Counted(sums[2], now_), Counted(sums[1], now_),
                    Counted(sums[3], now_), Gauge(sums[4]),         Counted(sums[5], ms * count)};
    out->push_back(std::move(total));
  }

  static std::string Unescape(const std::string& text) {  // "\040" in /proc/mounts
    std::string plain;
    for (size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '\\' && i + 3 < text.size() && std::isdigit(static_cast<unsigned char>(text[i + 1]))) {
        plain += static_cast<char>(std::strtol(text.substr(i + 1, 3).c_str(), nullptr, 8));
        i += 3;
      } else {
        plain += text[i];
      }
    }
    return plain;
  }

  void SampleMounts(ObjectSample* out) {
    std::vector<std::string> seen;
    for (std::string_view line : Lines(File("/proc/mounts"))) {
      const std::vector<std::string> w = Words(line);
      if (w.size() < 2 || w[0].rfind("/dev/", 0) != 0) continue;
      const std::string mount = Unescape(w[1]);
      if (std::find(seen.begin(), seen.end(), mount) != seen.end()) continue;
      seen.push_back(mount);
      struct statvfs fs;
      if (::statvfs(mount.c_str(), &fs) != 0 || fs.f_blocks == 0) continue;
      const double unit = static_cast<double>(fs.f_frsize);
      InstanceSample disk;
      disk.name = InstanceName(mount);
      disk.values = {Gauge(100.0 * static_cast<double>(fs.f_bavail) / static_cast<double>(fs.f_blocks)),
                     Gauge(std::floor(static_cast<double>(fs.f_bavail) * unit / (1024 * 1024)))};
      out->push_back(std::move(disk));
    }
  }

  void SampleInterfaces(ObjectSample* out) {
    for (std::string_view line : Lines(File("/proc/net/dev"))) {
      const size_t colon = line.find(':');
      if (colon == std::string_view::npos) continue;
      const std::vector<std::string> w = Words(line.substr(colon + 1));
      if (w.size() < 10) continue;
      const double in = Number(w[0]), in_packets = Number(w[1]);
      const double sent = Number(w[8]), sent_packets = Number(w[9]);
      const std::vector<std::string> name = Words(line.substr(0, colon));
      if (name.empty()) continue;
      InstanceSample nic;
      nic.name = InstanceName(name.front());
      nic.values = {Counted(in, now_), Counted(sent, now_), Counted(in + sent, now_),
                    Counted(in_packets, now_), Counted(sent_packets, now_)};
      out->push_back(std::move(nic));
    }
  }

  const std::vector<ObjectDef> objects_;
  double now_ = 0.0;
  std::map<std::string, std::string> files_;  // this collection's /proc files
  TaskSampler tasks_;
};

}  // namespace

std::unique_ptr<CounterSource> NewMachineSource() { return std::make_unique<MachineSource>(); }

}  // namespace kst::perf
