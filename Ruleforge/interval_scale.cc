#include "Ruleforge/interval_scale.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

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
  const int n = static_cast<int>(appearances.size());
  value_count_ = n;
  double min_w = 1.0;
  for (const Appearance& a : appearances) min_w = std::min(min_w, a.weight);

  // Summed in text order: the stored mean and variance depend on it.
  mean_ = 0.0;
  double total_weight = 0.0;
  std::vector<Entry> entries;
  entries.reserve(appearances.size());
  for (const Appearance& a : appearances) {
    double value = ValueOf(a.text);
    mean_ += value * a.weight;
    total_weight += a.weight;
    entries.push_back({value, static_cast<long long>(a.weight / min_w)});
  }
  variance_ = 0.0;
  for (size_t i = 0; i < entries.size(); ++i) {
    double d = entries[i].value - mean_;
    variance_ += appearances[i].weight * d * d;
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

  std::vector<bool> usable(k_count, true);
  std::vector<double> sums(k_count, 0.0);
  std::vector<long long> units(k_count, 0);
  int rounds = 0;
  double largest_move;
  do {
    for (const Entry& e : entries) {
      int j = Nearest(e.value, centres, usable);
      sums[j] += static_cast<double>(e.units) * e.value;
      units[j] += e.units;
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
