// The scripted counter source: replays a file of values, one tick per
// collection (format in perfcounters.h).
#include <cstdlib>
#include <fstream>
#include <optional>

#include "platform/ascii.h"
#include "platform/perfcounters_source.h"

namespace kst::perf {
namespace {

struct ScriptObject {
  ObjectDef def;
  std::vector<std::pair<std::string, std::string>> instances;  // parent, name
};

// values[object][instance][counter] of one tick; unset until first given.
using Tick = std::vector<std::vector<std::vector<std::optional<double>>>>;

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

template <typename T, typename Same>
size_t IndexOf(std::vector<T>& list, const T& item, Same same) {
  for (size_t i = 0; i < list.size(); ++i) {
    if (same(list[i], item)) return i;
  }
  list.push_back(item);
  return list.size() - 1;
}

class Script {
 public:
  bool Load(std::istream& in) {
    std::string line;
    bool tick_one_fresh = true;
    given_.emplace_back();
    while (std::getline(in, line)) {
      const std::string_view text = Trim(line);
      if (text.empty() || text[0] == '#') continue;
      if (text == "tick") {
        if (!tick_one_fresh) given_.emplace_back();
        tick_one_fresh = false;
        continue;
      }
      if (text.substr(0, 5) == "rate ") {
        Slot slot;
        if (!Declare(Trim(text.substr(5)), &slot)) return false;
        objects_[slot.object].def.counters[slot.counter].kind = CounterKind::kRate;
        continue;
      }
      const size_t eq = text.rfind('=');
      if (eq == std::string_view::npos) return false;
      const std::string value_text(Trim(text.substr(eq + 1)));
      char* end = nullptr;
      const double value = std::strtod(value_text.c_str(), &end);
      if (value_text.empty() || *end != '\0') return false;
      Slot slot;
      if (!Declare(Trim(text.substr(0, eq)), &slot)) return false;
      given_.back().push_back({slot, value});
      tick_one_fresh = false;
    }
    BuildTicks();
    return true;
  }

  std::vector<ObjectDef> Defs() const {
    std::vector<ObjectDef> defs;
    for (const ScriptObject& object : objects_) defs.push_back(object.def);
    return defs;
  }

  const std::vector<ScriptObject>& objects() const { return objects_; }
  const std::vector<Tick>& ticks() const { return ticks_; }

 private:
  struct Slot {
    size_t object, instance, counter;
  };

  bool Declare(std::string_view text, Slot* slot) {
    std::string path(text);
    if (path.empty()) return false;
    if (path[0] != '\\') path.insert(path.begin(), '\\');
    CounterPath parsed;
    if (ParseCounterPath(path, &parsed) != kPdhSuccess || !parsed.host.empty()) return false;
    ScriptObject fresh{{parsed.object, parsed.has_instance, {}}, {}};
    slot->object = IndexOf(objects_, fresh, [](const ScriptObject& a, const ScriptObject& b) {
      return EqualNoCase(a.def.name, b.def.name);
    });
    ScriptObject& object = objects_[slot->object];
    if (object.def.has_instances != parsed.has_instance) return false;
    slot->counter = IndexOf(object.def.counters, CounterDef{parsed.counter, CounterKind::kGauge},
                            [](const CounterDef& a, const CounterDef& b) { return EqualNoCase(a.name, b.name); });
    slot->instance = IndexOf(object.instances, {parsed.parent, parsed.instance},
                             [](const auto& a, const auto& b) {
                               return EqualNoCase(a.first, b.first) && EqualNoCase(a.second, b.second);
                             });
    return true;
  }

  // Lays the given values out per tick, each tick starting from the one before.
  void BuildTicks() {
    Tick carried(objects_.size());
    for (size_t o = 0; o < objects_.size(); ++o) {
      const size_t instances = objects_[o].def.has_instances ? objects_[o].instances.size() : 1;
      carried[o].assign(instances, std::vector<std::optional<double>>(objects_[o].def.counters.size()));
    }
    for (const auto& given : given_) {
      for (const auto& [slot, value] : given) carried[slot.object][slot.instance][slot.counter] = value;
      ticks_.push_back(carried);
    }
  }

  std::vector<ScriptObject> objects_;
  std::vector<std::vector<std::pair<Slot, double>>> given_;  // per tick, in file order
  std::vector<Tick> ticks_;
};

class ScriptedSource final : public CounterSource {
 public:
  explicit ScriptedSource(Script script) : script_(std::move(script)), defs_(script_.Defs()) {}

  const std::vector<ObjectDef>& Objects() const override { return defs_; }

  void BeginCollection() override { ++collections_; }

  void Sample(size_t object, ObjectSample* out) override {
    out->clear();
    const std::vector<Tick>& ticks = script_.ticks();
    size_t tick = collections_ == 0 ? 0 : collections_ - 1;
    if (tick >= ticks.size()) tick = ticks.size() - 1;
    const ScriptObject& def = script_.objects()[object];
    const auto& values = ticks[tick][object];
    for (size_t i = 0; i < values.size(); ++i) {
      InstanceSample instance;
      if (def.def.has_instances) {
        instance.parent = def.instances[i].first;
        instance.name = def.instances[i].second;
      }
      for (const std::optional<double>& value : values[i]) {
        // The collection number is the clock: ticks are one second apart.
        instance.values.push_back(RawValue{value.value_or(0.0), static_cast<double>(collections_),
                                           value.has_value()});
      }
      out->push_back(std::move(instance));
    }
  }

 private:
  Script script_;
  std::vector<ObjectDef> defs_;
  size_t collections_ = 0;
};

}  // namespace

PdhStatus NewScriptedSource(const std::string& file, std::unique_ptr<CounterSource>* out) {
  std::ifstream in(file);
  if (!in) return kPdhSourceUnreadable;
  Script script;
  if (!script.Load(in)) return kPdhSourceUnreadable;
  *out = std::make_unique<ScriptedSource>(std::move(script));
  return kPdhSuccess;
}

}  // namespace kst::perf
