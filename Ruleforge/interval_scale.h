// Scales turn the continuous values of one feature into a few intervals, so
// that a rule can say "feature f lies in interval k".
#ifndef KESTRANE_RULEFORGE_INTERVAL_SCALE_H_
#define KESTRANE_RULEFORGE_INTERVAL_SCALE_H_

#include <cstdint>
#include <istream>
#include <map>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kst {

// One distinct text of a column and its relative weight.
struct Appearance {
  std::string_view text;
  double weight;
};

// Room a caller's buffer for intervalText must have.
inline constexpr int kIntervalTextSize = 1024;

class Scale {
 public:
  virtual ~Scale() = default;
  virtual void write(std::ostream& out) const = 0;
  // Throws LoadDataException* on a short or failed stream.
  virtual void read(std::istream& in) = 0;
  virtual const uint8_t* kindId() const = 0;
  // appearances: a value's text (as in the CSV cell) -> its relative weight.
  virtual bool build(const std::map<std::string, double>& appearances, int rows) = 0;
  virtual int indexCount() const = 0;
  virtual int indexOf(const char* text) const = 0;
  virtual const char* intervalText(int index, char* buffer) const = 0;
  virtual double mean() const = 0;
  virtual double variance() const = 0;
};

class Clearable {
 public:
  virtual ~Clearable() = default;
  virtual bool clear() = 0;
};

// Closed intervals [lo, hi] sorted by lo, found by a weighted one-dimensional
// k-means over the distinct values of a feature. Index i < count() names
// interval i; index count() means "outside every interval".
class IntervalScale final : public Scale, public Clearable {
 public:
  IntervalScale() = default;
  IntervalScale(int count, double minWeight, double epsilon, int maxIterations)
      : count_(count), min_weight_(minWeight), epsilon_(epsilon), max_iterations_(maxIterations) {}

  void write(std::ostream& out) const override;
  void read(std::istream& in) override;
  const uint8_t* kindId() const override;
  bool build(const std::map<std::string, double>& appearances, int rows) override;
  // The same build from distinct texts given in the standard string order.
  void buildFrom(std::span<const Appearance> appearances);
  // The same build from the texts' values and weights, in the texts' order.
  void buildFromValues(std::span<const double> values, std::span<const double> weights);
  int indexCount() const override { return count_ + 1; }
  int indexOf(const char* text) const override;
  // indexOf for a value already read.
  int indexOfValue(double value) const;
  // Null for an index outside 0..count(); "(out of bounds)" for count();
  // else "(lo,hi)" with six decimals, formatted into one buffer shared by
  // every scale of the module (overwritten by the next call; not thread
  // safe) and also into `buffer` (kIntervalTextSize bytes) when not null.
  const char* intervalText(int index, char* buffer) const override;
  double mean() const override { return mean_; }
  // The weighted variance of the values about mean().
  double variance() const override { return variance_; }
  // Drops every interval: count() becomes 0 and every value is out of bounds.
  bool clear() override;

  int count() const { return count_; }
  int valueCount() const { return value_count_; }
  double minWeight() const { return min_weight_; }
  double epsilon() const { return epsilon_; }
  int maxIterations() const { return max_iterations_; }
  const std::vector<std::pair<double, double>>& intervals() const { return intervals_; }

  // The value of a text as indexOf reads it: its leading decimal number
  // (blanks, sign, digits, point, exponent), or 0.0 when it has none. Names
  // such as "nan" or "inf" and hexadecimal forms are no numbers here.
  static double ValueOf(std::string_view text);

 private:
  int count_ = 5;
  double min_weight_ = 0.001;
  double epsilon_ = 0.001;
  int max_iterations_ = 1000;
  int value_count_ = 0;
  double mean_ = 0.0;
  double variance_ = 0.0;
  std::vector<std::pair<double, double>> intervals_;
};

}  // namespace kst

#endif  // KESTRANE_RULEFORGE_INTERVAL_SCALE_H_
