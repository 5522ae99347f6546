// Expectations shared by the analyzer's test files.
#ifndef KESTRANE_RULEFORGE_ANALYZER_TEST_UTIL_H_
#define KESTRANE_RULEFORGE_ANALYZER_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <vector>

#include "StatSubsystem/common/parameter_value.h"

namespace kst {

// The four parameters of an analyzer as the module defines them: names,
// descriptions, kinds and bounds; the values are the caller's.
inline void ExpectAnalyzerParameters(const std::vector<ParameterValue>& p, double probability_default,
                                     double fisher_default) {
  ASSERT_EQ(p.size(), 4u);
  EXPECT_STREQ(p[0].name(), "probability threshold");
  EXPECT_STREQ(p[0].description(),
               "threshold of condition probability that define whether rule write in the rule base or not; The "
               "more the harder ");
  EXPECT_EQ(p[0].kind(), kParamReal);
  EXPECT_EQ(p[0].data().r.defaultValue, probability_default);
  EXPECT_EQ(p[0].data().r.minimum, 0.0);
  EXPECT_EQ(p[0].data().r.maximum, 1.0);
  EXPECT_STREQ(p[1].name(), "fischer threshold");
  EXPECT_STREQ(p[1].description(),
               "threshold of fischer probability that define whether rule write in the rule base or not; The less "
               "the harder ");
  EXPECT_EQ(p[1].kind(), kParamReal);
  EXPECT_EQ(p[1].data().r.defaultValue, fisher_default);
  EXPECT_EQ(p[1].data().r.minimum, 0.0);
  EXPECT_EQ(p[1].data().r.maximum, 1.0);
  EXPECT_STREQ(p[2].name(), "number of eras");
  EXPECT_STREQ(p[2].description(), "The less the faster will be learning and less and worse rules will be discovered");
  EXPECT_EQ(p[2].kind(), kParamInt);
  EXPECT_EQ(p[2].data().i.defaultValue, 10000);
  EXPECT_EQ(p[2].data().i.minimum, 0);
  EXPECT_EQ(p[2].data().i.maximum, 2147483647);
  EXPECT_EQ(p[2].data().i.step, 1);
  EXPECT_STREQ(p[3].name(), "file with rules");
  EXPECT_STREQ(p[3].description(), "file to which discovered rules will be dumped in readable format ");
  EXPECT_EQ(p[3].kind(), kParamString);
  EXPECT_STREQ(p[3].data().s.defaultValue, "");
}

}  // namespace kst

#endif  // KESTRANE_RULEFORGE_ANALYZER_TEST_UTIL_H_
