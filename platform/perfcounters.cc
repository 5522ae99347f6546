// Counter paths, the choice of source, enumeration and wildcard expansion.
#include "platform/perfcounters.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "platform/ascii.h"
#include "platform/perfcounters_source.h"

namespace kst {
namespace perf {

// The source every query and enumeration of this process uses.
PdhStatus OpenSource(std::unique_ptr<CounterSource>* source) {
  const char* script = std::getenv("KESTRANE_PERF_SCRIPT");
  if (script != nullptr && script[0] != '\0') return NewScriptedSource(script, source);
  *source = NewMachineSource();
  return kPdhSuccess;
}

namespace {

// "*" stands for any run of characters; everything else matches itself
// without regard to case.
bool GlobMatch(std::string_view pattern, std::string_view text) {
  size_t p = 0, t = 0, star = std::string_view::npos, resume = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = t;
    } else if (p < pattern.size() && FoldAscii(pattern[p]) == FoldAscii(text[t])) {
      ++p;
      ++t;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      t = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

bool InstanceMatches(const CounterPath& pattern, const InstanceSample& instance) {
  // Without a parent in the pattern only the instance's own name counts.
  if (!pattern.parent.empty() && !GlobMatch(pattern.parent, instance.parent)) return false;
  return GlobMatch(pattern.instance, instance.name);
}

}  // namespace
}  // namespace perf


PdhStatus ParseCounterPath(std::string_view path, CounterPath* out) {
  CounterPath result;
  if (path.empty() || path[0] != '\\') return kPdhBadPath;
  std::string_view rest = path.substr(1);
  if (!rest.empty() && rest[0] == '\\') {
    const size_t end = rest.find('\\', 1);
    if (end == std::string_view::npos || end == 1) return kPdhBadPath;
    result.host = std::string(rest.substr(1, end - 1));
    rest = rest.substr(end + 1);
  }
  const size_t last = rest.rfind('\\');
  if (last == std::string_view::npos || last == 0 || last + 1 == rest.size()) return kPdhBadPath;
  result.counter = std::string(rest.substr(last + 1));
  const std::string_view object = rest.substr(0, last);
  const size_t open = object.find('(');
  if (open == std::string_view::npos) {
    if (object.find(')') != std::string_view::npos) return kPdhBadPath;
    result.object = std::string(object);
  } else {
    if (open == 0 || object.back() != ')') return kPdhBadPath;
    result.object = std::string(object.substr(0, open));
    result.has_instance = true;
    const std::string_view inner = object.substr(open + 1, object.size() - open - 2);
    const size_t slash = inner.find('/');
    if (slash == std::string_view::npos) {
      result.instance = std::string(inner);
    } else {
      result.parent = std::string(inner.substr(0, slash));
      result.instance = std::string(inner.substr(slash + 1));
    }
  }
  if (result.object.find('\\') != std::string::npos) return kPdhBadPath;
  *out = std::move(result);
  return kPdhSuccess;
}

std::string MakeCounterPath(const CounterPath& path) {
  std::string text;
  if (!path.host.empty()) text += "\\\\" + path.host;
  text += '\\';
  text += path.object;
  if (path.has_instance) {
    text += '(';
    if (!path.parent.empty()) text += path.parent + "/";
    text += path.instance;
    text += ')';
  }
  text += '\\';
  text += path.counter;
  return text;
}

bool IsLocalMachine(std::string_view host) {
  if (host.empty() || host == "." || EqualNoCase(host, "localhost")) return true;
  std::string name;
  return LocalHostName(&name) && EqualNoCase(host, name);
}

bool LocalHostName(std::string* name) {
  char buffer[256] = {};
  if (::gethostname(buffer, sizeof buffer - 1) != 0) return false;
  *name = buffer;
  return true;
}

namespace {

// Finds `object`; SIZE_MAX when the source has none of that name.
size_t FindObject(const perf::CounterSource& source, std::string_view object) {
  const auto& objects = source.Objects();
  for (size_t i = 0; i < objects.size(); ++i) {
    if (EqualNoCase(objects[i].name, object)) return i;
  }
  return SIZE_MAX;
}

PdhStatus OpenLocalSource(std::string_view host, std::unique_ptr<perf::CounterSource>* source) {
  if (!IsLocalMachine(host)) return kPdhNoMachine;
  return perf::OpenSource(source);
}

}  // namespace

PdhStatus EnumObjects(std::string_view host, std::vector<std::string>* objects) {
  std::unique_ptr<perf::CounterSource> source;
  if (PdhStatus status = OpenLocalSource(host, &source); status != kPdhSuccess) return status;
  objects->clear();
  for (const perf::ObjectDef& object : source->Objects()) objects->push_back(object.name);
  return kPdhSuccess;
}

PdhStatus EnumObjectItems(std::string_view host, std::string_view object,
                          std::vector<std::string>* counters,
                          std::vector<std::string>* instances) {
  std::unique_ptr<perf::CounterSource> source;
  if (PdhStatus status = OpenLocalSource(host, &source); status != kPdhSuccess) return status;
  const size_t index = FindObject(*source, object);
  if (index == SIZE_MAX) return kPdhNoObject;
  const perf::ObjectDef& def = source->Objects()[index];
  counters->clear();
  instances->clear();
  for (const perf::CounterDef& counter : def.counters) counters->push_back(counter.name);
  if (def.has_instances) {
    perf::ObjectSample sample;
    source->BeginCollection();
    source->Sample(index, &sample);
    for (const perf::InstanceSample& instance : sample) {
      instances->push_back(instance.parent.empty() ? instance.name
                                                   : instance.parent + "/" + instance.name);
    }
  }
  return kPdhSuccess;
}

PdhStatus ExpandCounterPath(std::string_view wildcard_path, std::vector<std::string>* paths) {
  CounterPath pattern;
  if (PdhStatus status = ParseCounterPath(wildcard_path, &pattern); status != kPdhSuccess) {
    return status;
  }
  std::unique_ptr<perf::CounterSource> source;
  if (PdhStatus status = OpenLocalSource(pattern.host, &source); status != kPdhSuccess) {
    return status;
  }
  paths->clear();
  source->BeginCollection();
  const auto& objects = source->Objects();
  for (size_t i = 0; i < objects.size(); ++i) {
    const perf::ObjectDef& object = objects[i];
    if (!perf::GlobMatch(pattern.object, object.name)) continue;
    if (object.has_instances && !pattern.has_instance) continue;
    perf::ObjectSample sample;
    if (object.has_instances) source->Sample(i, &sample);
    CounterPath path;
    path.host = pattern.host;
    path.object = object.name;
    path.has_instance = object.has_instances;
    for (const perf::CounterDef& counter : object.counters) {
      if (!perf::GlobMatch(pattern.counter, counter.name)) continue;
      path.counter = counter.name;
      if (!object.has_instances) {
        paths->push_back(MakeCounterPath(path));
        continue;
      }
      for (const perf::InstanceSample& instance : sample) {
        if (!perf::InstanceMatches(pattern, instance)) continue;
        path.parent = instance.parent;
        path.instance = instance.name;
        paths->push_back(MakeCounterPath(path));
      }
    }
  }
  return kPdhSuccess;
}

PdhStatus ExpandCounterPath(std::string_view wildcard_path, char* buffer, uint32_t* length) {
  std::vector<std::string> paths;
  if (PdhStatus status = ExpandCounterPath(wildcard_path, &paths); status != kPdhSuccess) {
    return status;
  }
  uint64_t needed = 1;
  for (const std::string& path : paths) needed += path.size() + 1;
  if (needed > UINT32_MAX) return kPdhInvalidData;
  if (buffer == nullptr || *length < needed) {
    *length = static_cast<uint32_t>(needed);
    return kPdhMoreData;
  }
  char* at = buffer;
  for (const std::string& path : paths) {
    std::memcpy(at, path.c_str(), path.size() + 1);
    at += path.size() + 1;
  }
  *at = '\0';
  *length = static_cast<uint32_t>(needed);
  return kPdhSuccess;
}

}  // namespace kst
