#include "Ruleforge/interval_scale.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "Ruleforge/binary_io.h"
#include "Ruleforge/exceptions.h"

namespace kst {
namespace {

constexpr uint8_t kIntervalScaleKind[16] = {0x1c, 0x8e, 0xa2, 0x01, 0x8c, 0xac, 0xa6, 0x00,
                                            0xd0, 0xeb, 0x3d, 0x03, 0x1d, 0xac, 0xad, 0x04};

// Shared by every scale of the module, as callers of intervalText expect.
char interval_text_buffer[kIntervalTextSize];

struct Entry {
  double value;
  long long units;
};

// The nearest usable centre; ties go to the lower index. -1 when no centre
// is usable.
int Nearest(double value, const std::vector<double>& centres, const std::vector<bool>& usable) {
  int best = -1;
  double best_distance = 0.0;
  for (size_t k = 0; k < centres.size(); ++k) {
    if (!usable[k]) continue;
    double distance = std::fabs(value - centres[k]);
    if (best < 0 || distance < best_distance) {
      best = static_cast<int>(k);
      best_distance = distance;
    }
  }
  return best;
}

// The entries sorted by value, for clustering rounds that find each centre's
// entries as one run instead of asking every entry for its nearest centre.
class SortedEntries {
 public:
  explicit SortedEntries(const std::vector<Entry>& entries) : entries_(entries) {
    products_.reserve(entries.size());
    unit_sums_.reserve(entries.size() + 1);
    unit_sums_.push_back(0);
    bool finite = true;
    for (const Entry& e : entries) {
      products_.push_back(static_cast<double>(e.units) * e.value);
      unit_sums_.push_back(unit_sums_.back() + e.units);
      finite = finite && std::isfinite(e.value);
    }
    finite_ = finite;
  }

  // The run [begin[j], end[j]) of entries whose nearest centre is j, for
  // every usable j; false when runs may not give the same answer as asking
  // each entry (centres out of order, or so close that rounding of the
  // distances could tie them).
  bool Ranges(const std::vector<double>& centres, const std::vector<bool>& usable, std::vector<size_t>& begin,
              std::vector<size_t>& end) const {
    if (!finite_ || entries_.empty()) return false;
    const int k_count = static_cast<int>(centres.size());
    double magnitude = std::max(std::fabs(entries_.front().value), std::fabs(entries_.back().value));
    for (int j = 0; j < k_count; ++j) {
      if (!usable[j]) continue;
      if (!std::isfinite(centres[j])) return false;
      magnitude = std::max(magnitude, std::fabs(centres[j]));
    }
    // Each distance is rounded by at most half a unit of 2 x magnitude: a
    // gap wider than both roundings keeps every comparison of distances to
    // two centres as exact arithmetic has it.
    const double margin = 4 * magnitude * std::numeric_limits<double>::epsilon();
    int previous = -1;
    size_t from = 0;
    for (int j = 0; j < k_count; ++j) {
      if (!usable[j]) continue;
      if (previous >= 0) {
        const double low = centres[previous];
        const double high = centres[j];
        if (!(high - low > margin)) return false;
        // Where the higher centre is strictly nearer (ties stay lower).
        auto first = std::partition_point(entries_.begin() + from, entries_.end(), [&](const Entry& e) {
          return !(std::fabs(e.value - high) < std::fabs(e.value - low));
        });
        const size_t split = static_cast<size_t>(first - entries_.begin());
        begin[previous] = from;
        end[previous] = split;
        from = split;
      }
      previous = j;
    }
    if (previous < 0) return false;
    begin[previous] = from;
    end[previous] = entries_.size();
    return true;
  }

  // units x value summed over [begin, end) one by one, as the entries come:
  // the centres depend on this order. Runs asked again unchanged are not
  // summed again.
  double Sum(int centre, size_t begin, size_t end) {
    if (static_cast<size_t>(centre) >= cache_.size()) cache_.resize(static_cast<size_t>(centre) + 1);
    Cached& c = cache_[static_cast<size_t>(centre)];
    if (c.valid && c.begin == begin && c.end == end) return c.sum;
    double sum = 0.0;
    for (size_t i = begin; i < end; ++i) sum += products_[i];
    c = {true, begin, end, sum};
    return sum;
  }

  long long Units(size_t begin, size_t end) const { return unit_sums_[end] - unit_sums_[begin]; }

 private:
  struct Cached {
    bool valid = false;
    size_t begin = 0;
    size_t end = 0;
    double sum = 0.0;
  };
  const std::vector<Entry>& entries_;
  std::vector<double> products_;
  std::vector<long long> unit_sums_;
  bool finite_ = true;
  std::vector<Cached> cache_;
};

[[noreturn]] void ThrowBadScale() { throw new LoadDataException("bad scale format in stream"); }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

}  // namespace

double IntervalScale::ValueOf(std::string_view text) {
  const char* p = text.data();
  const char* const end = p + text.size();
  while (p < end && IsBlank(*p)) ++p;
  const char* first = p;
  if (p < end && (*p == '+' || *p == '-')) ++p;
  const char* digits = p;
  while (p < end && IsDigit(*p)) ++p;
  size_t digit_count = static_cast<size_t>(p - digits);
  if (p < end && *p == '.') {
    const char* fraction = ++p;
    while (p < end && IsDigit(*p)) ++p;
    digit_count += static_cast<size_t>(p - fraction);
  }
  if (digit_count == 0) return 0.0;
  if (p < end && (*p == 'e' || *p == 'E')) {
    const char* q = p + 1;
    if (q < end && (*q == '+' || *q == '-')) ++q;
    if (q < end && IsDigit(*q)) {
      while (q < end && IsDigit(*q)) ++q;
      p = q;
    }
  }
  // from_chars takes no '+'; it rounds as strtod does, and strtod has the
  // last word on what it leaves (values out of range).
  const char* from = *first == '+' ? first + 1 : first;
  double value = 0.0;
  auto [stop, error] = std::from_chars(from, p, value, std::chars_format::general);
  if (error == std::errc() && stop == p) return value;
  return std::strtod(std::string(first, p).c_str(), nullptr);
}

const uint8_t* IntervalScale::kindId() const { return kIntervalScaleKind; }

bool IntervalScale::build(const std::map<std::string, double>& appearances, int /*rows*/) {
  std::vector<Appearance> in_order;
  in_order.reserve(appearances.size());
  for (const auto& [text, weight] : appearances) in_order.push_back({text, weight});
  buildFrom(in_order);
  return true;
}

void IntervalScale::buildFrom(std::span<const Appearance> appearances) {
  std::vector<double> values(appearances.size());
  std::vector<double> weights(appearances.size());
  for (size_t i = 0; i < appearances.size(); ++i) {
    values[i] = ValueOf(appearances[i].text);
    weights[i] = appearances[i].weight;
  }
  buildFromValues(values, weights);
}

void IntervalScale::buildFromValues(std::span<const double> values, std::span<const double> weights) {
  const int n = static_cast<int>(values.size());
  value_count_ = n;
  double min_w = 1.0;
  for (double w : weights) min_w = std::min(min_w, w);

  // Summed in text order: the stored mean and variance depend on it.
  mean_ = 0.0;
  double total_weight = 0.0;
  std::vector<Entry> entries;
  entries.reserve(values.size());
  for (size_t i = 0; i < values.size(); ++i) {
    mean_ += values[i] * weights[i];
    total_weight += weights[i];
    entries.push_back({values[i], static_cast<long long>(weights[i] / min_w)});
  }
  variance_ = 0.0;
  for (size_t i = 0; i < entries.size(); ++i) {
    double d = entries[i].value - mean_;
    variance_ += weights[i] * d * d;
  }
  if (total_weight > 0.0) variance_ /= total_weight;
  std::stable_sort(entries.begin(), entries.end(),
                   [](const Entry& a, const Entry& b) { return a.value < b.value; });

  intervals_.clear();
  const int k_count = count_;
  if (n == 0 || k_count <= 0) {
    count_ = 0;
    return;
  }
  std::vector<double> centres(k_count);
  for (int i = 0; i + 1 < k_count; ++i) {
    centres[i] = entries[static_cast<size_t>(static_cast<long long>(n) * i / (k_count - 1))].value;
  }
  centres[k_count - 1] = entries.back().value;

  SortedEntries sorted(entries);
  std::vector<bool> usable(k_count, true);
  std::vector<double> sums(k_count, 0.0);
  std::vector<long long> units(k_count, 0);
  std::vector<size_t> begin(k_count), end(k_count);
  int rounds = 0;
  double largest_move;
  do {
    if (sorted.Ranges(centres, usable, begin, end)) {
      for (int j = 0; j < k_count; ++j) {
        if (!usable[j]) continue;
        sums[j] = sorted.Sum(j, begin[j], end[j]);
        units[j] = sorted.Units(begin[j], end[j]);
      }
    } else {
      for (const Entry& e : entries) {
        int j = Nearest(e.value, centres, usable);
        sums[j] += static_cast<double>(e.units) * e.value;
        units[j] += e.units;
      }
    }
    largest_move = 0.0;
    for (int j = 0; j < k_count; ++j) {
      if (!usable[j]) continue;
      if (units[j] == 0) {
        usable[j] = false;
        continue;
      }
      double next = sums[j] / static_cast<double>(units[j]);
      largest_move = std::max(largest_move, std::fabs(next - centres[j]));
      centres[j] = next;
      sums[j] = 0.0;
      units[j] = 0;
    }
    ++rounds;
  } while (largest_move > epsilon_ && rounds < max_iterations_);

  std::vector<double> lo(k_count), hi(k_count), weight(k_count, 0.0);
  std::vector<bool> seen(k_count, false);
  if (sorted.Ranges(centres, usable, begin, end)) {
    for (int j = 0; j < k_count; ++j) {
      if (!usable[j] || begin[j] == end[j]) continue;
      seen[j] = true;
      lo[j] = entries[begin[j]].value;
      // Of equal greatest values (0 and -0) the first one stands.
      size_t last = end[j] - 1;
      while (last > begin[j] && entries[last - 1].value == entries[last].value) --last;
      hi[j] = entries[last].value;
      for (size_t i = begin[j]; i < end[j]; ++i) weight[j] += static_cast<double>(entries[i].units) * min_w;
    }
  } else {
    for (const Entry& e : entries) {
      int j = Nearest(e.value, centres, usable);
      if (!seen[j]) {
        lo[j] = hi[j] = e.value;
        seen[j] = true;
      }
      lo[j] = std::min(lo[j], e.value);
      hi[j] = std::max(hi[j], e.value);
      weight[j] += static_cast<double>(e.units) * min_w;
    }
  }
  for (int j = 0; j < k_count; ++j) {
    if (seen[j] && weight[j] > min_weight_) intervals_.emplace_back(lo[j], hi[j]);
  }
  std::stable_sort(intervals_.begin(), intervals_.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });

  // Neighbours whose gap is narrow against their widths share a bound.
  for (size_t u = 0; u + 1 < intervals_.size(); ++u) {
    auto& a = intervals_[u];
    auto& b = intervals_[u + 1];
    double gap = std::fabs(b.first - a.second);
    if (std::sqrt((a.second - a.first) * (b.second - b.first)) > gap) {
      double middle = (a.second + b.first) / 2;
      a.second = middle;
      b.first = middle;
    }
  }
  count_ = static_cast<int>(intervals_.size());
}

int IntervalScale::indexOf(const char* text) const { return indexOfValue(ValueOf(text)); }

int IntervalScale::indexOfValue(double value) const {
  for (int i = 0; i < count_; ++i) {
    if (intervals_[i].first <= value && value <= intervals_[i].second) return i;
  }
  return count_;
}

const char* IntervalScale::intervalText(int index, char* buffer) const {
  if (index < 0 || index > count_) return nullptr;
  if (index == count_) return "(out of bounds)";
  std::snprintf(interval_text_buffer, sizeof interval_text_buffer, "(%f,%f)", intervals_[index].first,
                intervals_[index].second);
  if (buffer != nullptr) std::snprintf(buffer, kIntervalTextSize, "%s", interval_text_buffer);
  return interval_text_buffer;
}

bool IntervalScale::clear() {
  // count() names the intervals there are; placing or writing must not
  // reach past them.
  intervals_.clear();
  count_ = 0;
  return true;
}

void IntervalScale::write(std::ostream& out) const {
  WriteU8(out, static_cast<uint8_t>(count_ & 0xff));
  WriteF64(out, min_weight_);
  WriteF64(out, epsilon_);
  WriteI32(out, max_iterations_);
  WriteI32(out, value_count_);
  for (int i = 0; i < count_; ++i) {
    WriteF64(out, intervals_[i].first);
    WriteF64(out, intervals_[i].second);
  }
  WriteF64(out, mean_);
  WriteF64(out, variance_);
}

void IntervalScale::read(std::istream& in) {
  // The stream is tested before each field but the last; a stream that
  // ends inside the mean or the variance fails whatever reads after the
  // scale.
  auto test = [&in] {
    if (!in) ThrowBadScale();
  };
  uint8_t count_byte = 0;
  test();
  ReadU8(in, &count_byte);
  count_ = count_byte;
  intervals_.assign(static_cast<size_t>(count_), {0.0, 0.0});
  test();
  ReadF64(in, &min_weight_);
  test();
  ReadF64(in, &epsilon_);
  int32_t v = 0;
  test();
  if (ReadI32(in, &v)) max_iterations_ = v;
  test();
  if (ReadI32(in, &v)) value_count_ = v;
  for (auto& [lo, hi] : intervals_) {
    test();
    ReadF64(in, &lo);
    test();
    ReadF64(in, &hi);
  }
  test();
  ReadF64(in, &mean_);
  ReadF64(in, &variance_);
}

}  // namespace kst
