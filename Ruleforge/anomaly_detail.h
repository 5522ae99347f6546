// One anomalous rule of the last check, as the plug-in hands it to a host.
#ifndef KESTRANE_RULEFORGE_ANOMALY_DETAIL_H_
#define KESTRANE_RULEFORGE_ANOMALY_DETAIL_H_

#include <vector>

namespace kst {

// The features of the rule's premise and of its conclusion, in the rule's
// order.
struct AnomalyDetail {
  std::vector<int> baseFeatures;
  std::vector<int> resultFeatures;
};

}  // namespace kst

#endif  // KESTRANE_RULEFORGE_ANOMALY_DETAIL_H_
