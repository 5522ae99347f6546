// A list of parameters matched by exact, case-sensitive name.
#ifndef KESTRANE_RULEFORGE_PARAMETER_LIST_H_
#define KESTRANE_RULEFORGE_PARAMETER_LIST_H_

#include <vector>

#include "StatSubsystem/common/parameter_value.h"

namespace kst {

class ParameterList {
 public:
  virtual ~ParameterList() = default;
  // Assigns p to the first entry of p's name; false when there is none.
  virtual bool set(const ParameterValue& p);
  virtual int size() const { return static_cast<int>(entries_.size()); }
  // Assigns the first entry named `name` to out; false (out unchanged) when
  // there is none.
  virtual bool get(ParameterValue& out, const char* name) const;
  virtual bool getAt(ParameterValue& out, int index) const;
  virtual bool clear();

 protected:
  std::vector<ParameterValue> entries_;
};

// The four parameters of an analyzer, by position.
inline constexpr char kProbabilityThresholdName[] = "probability threshold";
inline constexpr char kFisherThresholdName[] = "fischer threshold";
inline constexpr char kErasName[] = "number of eras";
inline constexpr char kRulesFileName[] = "file with rules";
inline constexpr char kProbabilityThresholdDescription[] =
    "threshold of condition probability that define whether rule write in the rule base or not; The more the harder ";
inline constexpr char kFisherThresholdDescription[] =
    "threshold of fischer probability that define whether rule write in the rule base or not; The less the harder ";
inline constexpr char kErasDescription[] =
    "The less the faster will be learning and less and worse rules will be discovered";
inline constexpr char kRulesFileDescription[] = "file to which discovered rules will be dumped in readable format ";

}  // namespace kst

#endif  // KESTRANE_RULEFORGE_PARAMETER_LIST_H_
