// The real-time query: counters resolved against a source, collected together,
// formatted from the latest two readings.
#include <algorithm>
#include <optional>
#include <unordered_map>

#include "platform/ascii.h"
#include "platform/perfcounters.h"
#include "platform/perfcounters_source.h"

namespace kst {
namespace {

using perf::CounterKind;
using perf::ObjectSample;
using perf::RawValue;

std::string InstanceKey(std::string_view parent, std::string_view name) {
  std::string key;
  key.reserve(parent.size() + name.size() + 1);
  for (char c : parent) key += FoldAscii(c);
  key += '/';
  for (char c : name) key += FoldAscii(c);
  return key;
}

// One object's reading with its instances indexed by InstanceKey.
struct IndexedSample {
  ObjectSample sample;
  std::unordered_map<std::string, size_t> by_key;

  void Index() {
    by_key.clear();
    for (size_t i = 0; i < sample.size(); ++i) {
      by_key.emplace(InstanceKey(sample[i].parent, sample[i].name), i);
    }
    // An older name finds its instance only where no instance bears it.
    for (size_t i = 0; i < sample.size(); ++i) {
      if (!sample[i].alias.empty()) by_key.emplace(InstanceKey(sample[i].alias_parent, sample[i].alias), i);
    }
  }
  const perf::InstanceSample* Find(const std::string& key) const {
    auto it = by_key.find(key);
    return it == by_key.end() ? nullptr : &sample[it->second];
  }
};

struct QueryCounter {
  PerfCounterHandle handle;
  size_t object;
  size_t counter;
  CounterKind kind;
  std::string instance_key;  // empty for objects without instances
  RawValue now;
  RawValue before;
};

class LocalQuery final : public PerfQuery {
 public:
  explicit LocalQuery(std::unique_ptr<perf::CounterSource> source)
      : source_(std::move(source)), readings_(source_->Objects().size()) {}

  PdhStatus AddCounter(std::string_view text, PerfCounterHandle* handle) override {
    *handle = 0;
    if (source_ == nullptr) return kPdhInvalidHandle;
    CounterPath path;
    if (PdhStatus status = ParseCounterPath(text, &path); status != kPdhSuccess) return status;
    if (!IsLocalMachine(path.host)) return kPdhNoMachine;
    const auto& objects = source_->Objects();
    size_t object = 0;
    while (object < objects.size() && !EqualNoCase(objects[object].name, path.object)) ++object;
    if (object == objects.size()) return kPdhNoObject;
    const perf::ObjectDef& def = objects[object];
    size_t counter = 0;
    while (counter < def.counters.size() && !EqualNoCase(def.counters[counter].name, path.counter)) {
      ++counter;
    }
    if (counter == def.counters.size()) return kPdhNoCounter;
    QueryCounter entry{next_handle_, object, counter, def.counters[counter].kind, {}, {}, {}};
    if (def.has_instances != path.has_instance) return kPdhNoInstance;
    if (def.has_instances) {
      entry.instance_key = InstanceKey(path.parent, path.instance);
      if (Reading(object).Find(entry.instance_key) == nullptr) return kPdhNoInstance;
    }
    ++next_handle_;
    counters_.push_back(std::move(entry));
    *handle = counters_.back().handle;
    return kPdhSuccess;
  }

  PdhStatus RemoveCounter(PerfCounterHandle handle) override {
    if (source_ == nullptr) return kPdhInvalidHandle;
    for (auto it = counters_.begin(); it != counters_.end(); ++it) {
      if (it->handle == handle) {
        counters_.erase(it);
        return kPdhSuccess;
      }
    }
    return kPdhInvalidHandle;
  }

  PdhStatus Collect() override {
    if (source_ == nullptr) return kPdhInvalidHandle;
    source_->BeginCollection();
    for (auto& reading : readings_) reading.reset();
    for (QueryCounter& counter : counters_) {
      const IndexedSample& reading = Reading(counter.object);
      const perf::InstanceSample* instance =
          counter.instance_key.empty()
              ? (reading.sample.empty() ? nullptr : &reading.sample.front())
              : reading.Find(counter.instance_key);
      counter.before = counter.now;
      counter.now = instance == nullptr ? RawValue{} : instance->values[counter.counter];
    }
    collected_ = true;
    return kPdhSuccess;
  }

  PdhStatus GetFormattedValue(PerfCounterHandle handle, double* value) const override {
    if (source_ == nullptr) return kPdhInvalidHandle;
    // Handles grow with every add and removal keeps the order.
    auto it = std::lower_bound(counters_.begin(), counters_.end(), handle,
                               [](const QueryCounter& c, PerfCounterHandle h) { return c.handle < h; });
    if (it == counters_.end() || it->handle != handle) return kPdhInvalidHandle;
    const QueryCounter* counter = &*it;
    if (!collected_) return kPdhNoData;
    if (!counter->now.valid) return kPdhInvalidData;
    if (counter->kind == CounterKind::kGauge) {
      *value = counter->now.raw;
      return kPdhSuccess;
    }
    if (!counter->before.valid) return kPdhInvalidData;
    const double delta = counter->now.raw - counter->before.raw;
    const double span = counter->now.base - counter->before.base;
    // A counter that went back (a process restarted under the same name)
    // has no sound value for this interval.
    if (span <= 0.0 || delta < 0.0) return kPdhInvalidData;
    *value = delta / span * (counter->kind == CounterKind::kTimeShare ? 100.0 : 1.0);
    return kPdhSuccess;
  }

  PdhStatus Close() override {
    if (source_ == nullptr) return kPdhInvalidHandle;
    counters_.clear();
    readings_.clear();
    source_.reset();
    return kPdhSuccess;
  }

 private:
  // The object's reading in the current collection, taken on first use.
  const IndexedSample& Reading(size_t object) {
    std::optional<IndexedSample>& reading = readings_[object];
    if (!reading) {
      reading.emplace();
      source_->Sample(object, &reading->sample);
      reading->Index();
    }
    return *reading;
  }

  std::unique_ptr<perf::CounterSource> source_;  // null once closed
  std::vector<QueryCounter> counters_;
  std::vector<std::optional<IndexedSample>> readings_;  // per object, this collection
  PerfCounterHandle next_handle_ = 1;
  bool collected_ = false;
};

}  // namespace

std::unique_ptr<PerfQuery> perf::NewQuery(std::unique_ptr<CounterSource> source) {
  return std::make_unique<LocalQuery>(std::move(source));
}

PdhStatus OpenQuery(std::unique_ptr<PerfQuery>* query) {
  std::unique_ptr<perf::CounterSource> source;
  if (PdhStatus status = perf::OpenSource(&source); status != kPdhSuccess) return status;
  *query = perf::NewQuery(std::move(source));
  return kPdhSuccess;
}

}  // namespace kst
