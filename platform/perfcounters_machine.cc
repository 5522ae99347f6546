// The machine's counter source: processors, memory, system, disks and network
// interfaces from /proc and /sys (processes and threads live beside it, in
// perfcounters_machine_procs.cc).
#include <dirent.h>
#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string_view>
#include <system_error>

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

// ---- Reading /proc texts in place, without copies or maps ----

// The next line of *text, without its end, taken off the front.
std::string_view NextLine(std::string_view* text) {
  const size_t end = text->find('\n');
  const std::string_view line = text->substr(0, end);
  text->remove_prefix(end == std::string_view::npos ? text->size() : end + 1);
  return line;
}

// The next word (blanks and tabs separate words) of *text, taken off the
// front; empty when no word is left.
std::string_view NextWord(std::string_view* text) {
  size_t i = 0;
  while (i < text->size() && ((*text)[i] == ' ' || (*text)[i] == '\t')) ++i;
  size_t j = i;
  while (j < text->size() && (*text)[j] != ' ' && (*text)[j] != '\t') ++j;
  const std::string_view word = text->substr(i, j - i);
  text->remove_prefix(j);
  return word;
}

// The first N words of a line; how many there are, at most N.
template <size_t N>
size_t FirstWords(std::string_view line, std::array<std::string_view, N>* words) {
  size_t n = 0;
  for (std::string_view word = NextWord(&line); !word.empty() && n < N; word = NextWord(&line)) {
    (*words)[n++] = word;
  }
  return n;
}

// The value of a word of plain digits, the way counts are written; false
// for any other word.
bool Digits(std::string_view word, double* value) {
  if (word.empty() || word.size() > 19) return false;
  uint64_t n = 0;
  for (char c : word) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + static_cast<uint64_t>(c - '0');
  }
  *value = static_cast<double>(n);  // rounded as a parse of the text would be
  return true;
}

// The number a word starts with; 0 when it starts with none.
double Number(std::string_view word) {
  double value = 0.0;
  if (!Digits(word, &value)) std::from_chars(word.data(), word.data() + word.size(), value);
  return value;
}

// The number a word is, wholly; false when it is something else.
bool WholeNumber(std::string_view word, double* value) {
  if (Digits(word, value)) return true;
  const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), *value);
  return error == std::errc() && end == word.data() + word.size();
}

}  // namespace

double KeyValue(std::string_view text, std::string_view key) {
  double value = 0.0;
  for (size_t at = text.find(key); at != std::string_view::npos; at = text.find(key, at + 1)) {
    if (at > 0 && text[at - 1] != '\n') continue;
    size_t end = at + key.size();
    if (end < text.size() && text[end] == ':') ++end;
    if (end == text.size() || (text[end] != ' ' && text[end] != '\t')) continue;
    std::string_view rest = text.substr(end);
    std::string_view line = NextLine(&rest);
    const std::string_view word = NextWord(&line);
    if (!word.empty()) value = Number(word);
  }
  return value;
}

namespace {

// The values of `keys` as KeyValue gives them.
template <size_t N>
std::array<double, N> KeyValues(std::string_view text, const std::array<std::string_view, N>& keys) {
  std::array<double, N> values{};
  for (size_t i = 0; i < N; ++i) values[i] = KeyValue(text, keys[i]);
  return values;
}

// The /proc files the objects come from.
enum FileId { kStatFile, kInterruptsFile, kMeminfoFile, kVmstatFile, kLoadavgFile, kUptimeFile,
              kDiskstatsFile, kNetDevFile, kMountsFile, kFileCount };
const char* const kFilePaths[kFileCount] = {
    "/proc/stat",   "/proc/interrupts", "/proc/meminfo", "/proc/vmstat", "/proc/loadavg",
    "/proc/uptime", "/proc/diskstats",  "/proc/net/dev", "/proc/mounts"};

class MachineSource final : public CounterSource {
 public:
  explicit MachineSource(const std::string& root) : objects_(MachineObjects()), root_(root), tasks_(root) {
    BeginCollection();
  }

  const std::vector<ObjectDef>& Objects() const override { return objects_; }

  void BeginCollection() override {
    now_ = std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    for (CachedFile& file : files_) file.read = false;
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
  struct CachedFile {
    std::string text;
    bool read = false;
  };

  // A /proc file read once per collection, however many objects use it.
  std::string_view File(FileId id) {
    CachedFile& file = files_[id];
    if (!file.read) {
      file.read = true;
      if (!ReadSmallFile(root_ + kFilePaths[id], &file.text)) file.text.clear();
    }
    return file.text;
  }

  // The processors /proc/stat lists ("cpu0", "cpu1", ...): those online.
  size_t OnlineProcessors() {
    size_t count = 0;
    for (std::string_view text = File(kStatFile); !text.empty();) {
      const std::string_view line = NextLine(&text);
      if (line.size() > 3 && line.compare(0, 3, "cpu") == 0 && line[3] >= '0' && line[3] <= '9') {
        ++count;
      }
    }
    return count;
  }

  void SampleProcessors(ObjectSample* out) {
    double total_interrupts = 0;
    for (std::string_view text = File(kStatFile); !text.empty();) {
      std::string_view line = NextLine(&text);
      if (NextWord(&line) != "intr") continue;
      const std::string_view count = NextWord(&line);
      if (!count.empty()) total_interrupts = Number(count);
    }
    // The cpu numbers of /proc/interrupts' columns, and each column's sum.
    std::vector<std::string_view> columns;
    std::vector<double> sums;
    for (std::string_view text = File(kInterruptsFile); !text.empty();) {
      std::string_view line = NextLine(&text);
      if (columns.empty()) {
        for (std::string_view word = NextWord(&line); !word.empty(); word = NextWord(&line)) {
          if (word.compare(0, 3, "CPU") == 0) columns.push_back(word.substr(3));
        }
        sums.assign(columns.size(), 0.0);
        continue;
      }
      NextWord(&line);  // the interrupt's name
      for (size_t i = 0; i < columns.size(); ++i) {
        const std::string_view word = NextWord(&line);
        double count = 0;
        if (word.empty() || !WholeNumber(word, &count)) break;
        sums[i] += count;
      }
    }
    auto interrupts = [&](std::string_view cpu) {
      double sum = 0;
      for (size_t i = 0; i < columns.size(); ++i) {
        if (columns[i] == cpu) sum += sums[i];
      }
      return sum;
    };
    InstanceSample total;
    std::array<std::string_view, 9> words;
    for (std::string_view text = File(kStatFile); !text.empty();) {
      if (FirstWords(NextLine(&text), &words) < 9 || words[0].compare(0, 3, "cpu") != 0) continue;
      double f[8];
      for (int i = 0; i < 8; ++i) f[i] = Number(words[static_cast<size_t>(i) + 1]);
      // user nice system idle iowait irq softirq steal, in clock ticks
      const double all = f[0] + f[1] + f[2] + f[3] + f[4] + f[5] + f[6] + f[7];
      const double idle = f[3] + f[4];
      const double irq = f[5] + f[6];
      const bool is_total = words[0] == "cpu";
      InstanceSample cpu;
      cpu.name = is_total ? "_Total" : std::string(words[0].substr(3));
      cpu.values = {Counted(all - idle, all), Counted(f[0] + f[1], all), Counted(f[2] + irq, all),
                    Counted(idle, all),       Counted(irq, all),
                    Counted(is_total ? total_interrupts : interrupts(cpu.name), now_)};
      if (is_total) {
        total = std::move(cpu);
      } else {
        out->push_back(std::move(cpu));
      }
    }
    if (!total.name.empty()) out->push_back(std::move(total));
  }

  void SampleMemory(ObjectSample* out) {
    const auto mem = KeyValues<4>(File(kMeminfoFile),
                                  {"MemAvailable", "Committed_AS", "CommitLimit", "Cached"});
    const auto vm = KeyValues<3>(File(kVmstatFile), {"pgmajfault", "pswpout", "pgfault"});
    const double available = mem[0] * 1024;
    const double committed = mem[1] * 1024;
    const double limit = mem[2] * 1024;
    InstanceSample memory;
    memory.values = {Gauge(available),
                     Gauge(std::floor(available / (1024 * 1024))),
                     Gauge(committed),
                     Gauge(limit),
                     Gauge(limit > 0 ? 100.0 * committed / limit : 0.0),
                     Gauge(mem[3] * 1024),
                     Counted(vm[0] + vm[1], now_),
                     Counted(vm[2], now_)};
    out->push_back(std::move(memory));
  }

  void SampleSystem(ObjectSample* out) {
    const auto stat = KeyValues<2>(File(kStatFile), {"ctxt", "procs_running"});
    double processes = 0;
    if (DIR* dir = ::opendir((root_ + "/proc").c_str())) {
      while (dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] >= '1' && entry->d_name[0] <= '9') ++processes;
      }
      ::closedir(dir);
    }
    double threads = 0;
    std::array<std::string_view, 4> load;
    if (FirstWords(File(kLoadavgFile), &load) == 4) {
      const size_t slash = load[3].find('/');
      if (slash != std::string_view::npos) threads = Number(load[3].substr(slash + 1));
    }
    const double cpus = static_cast<double>(std::max<size_t>(1, OnlineProcessors()));
    std::string_view uptime = File(kUptimeFile);
    InstanceSample system;
    system.values = {Gauge(processes), Gauge(threads), Counted(stat[0], now_),
                     Gauge(std::max(0.0, stat[1] - cpus)), Gauge(Number(NextWord(&uptime)))};
    out->push_back(std::move(system));
  }

  void SampleDisks(ObjectSample* out) {
    disks_.clear();
    if (DIR* dir = ::opendir((root_ + "/sys/block").c_str())) {
      while (dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name[0] == '.' || name.compare(0, 4, "loop") == 0 || name.compare(0, 3, "ram") == 0) {
          continue;
        }
        disks_.emplace_back(name);
      }
      ::closedir(dir);
    }
    std::sort(disks_.begin(), disks_.end());
    double sums[6] = {};
    const double ms = now_ * 1000;
    std::array<std::string_view, 14> w;
    for (std::string_view text = File(kDiskstatsFile); !text.empty();) {
      if (FirstWords(NextLine(&text), &w) < 14 ||
          !std::binary_search(disks_.begin(), disks_.end(), w[2], std::less<>())) {
        continue;
      }
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

  static std::string Unescape(std::string_view text) {  // "\040" in /proc/mounts
    std::string plain;
    for (size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '\\' && i + 3 < text.size() && std::isdigit(static_cast<unsigned char>(text[i + 1]))) {
        plain += static_cast<char>(std::strtol(std::string(text.substr(i + 1, 3)).c_str(), nullptr, 8));
        i += 3;
      } else {
        plain += text[i];
      }
    }
    return plain;
  }

  void SampleMounts(ObjectSample* out) {
    std::vector<std::string> seen;
    std::array<std::string_view, 2> w;
    for (std::string_view text = File(kMountsFile); !text.empty();) {
      if (FirstWords(NextLine(&text), &w) < 2 || w[0].compare(0, 5, "/dev/") != 0) continue;
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
    std::array<std::string_view, 10> w;
    for (std::string_view text = File(kNetDevFile); !text.empty();) {
      std::string_view line = NextLine(&text);
      const size_t colon = line.find(':');
      if (colon == std::string_view::npos || FirstWords(line.substr(colon + 1), &w) < 10) continue;
      const double in = Number(w[0]), in_packets = Number(w[1]);
      const double sent = Number(w[8]), sent_packets = Number(w[9]);
      std::string_view names = line.substr(0, colon);
      const std::string_view name = NextWord(&names);
      if (name.empty()) continue;
      InstanceSample nic;
      nic.name = InstanceName(name);
      nic.values = {Counted(in, now_), Counted(sent, now_), Counted(in + sent, now_),
                    Counted(in_packets, now_), Counted(sent_packets, now_)};
      out->push_back(std::move(nic));
    }
  }

  const std::vector<ObjectDef> objects_;
  const std::string root_;
  double now_ = 0.0;
  std::array<CachedFile, kFileCount> files_;  // this collection's /proc files
  std::vector<std::string> disks_;            // this collection's /sys/block entries
  TaskSampler tasks_;
};

}  // namespace

std::unique_ptr<CounterSource> NewMachineSource(const std::string& root) {
  return std::make_unique<MachineSource>(root);
}

}  // namespace kst::perf
