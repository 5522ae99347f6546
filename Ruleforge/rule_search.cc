#include "Ruleforge/rule_search.h"

#include <algorithm>
#include <ctime>

namespace kst {
namespace {

constexpr int kTournamentSize = 6;
constexpr double kUntriedScore = 0.25;

bool HasCommonPair(const Rule& rule) {
  for (const FeaturePair& c : rule.conclusion) {
    if (std::find(rule.premise.begin(), rule.premise.end(), c) != rule.premise.end()) return true;
  }
  return false;
}

double Score(const Rule& rule) {
  return rule.trials == 0 ? kUntriedScore : static_cast<double>(rule.successes) / rule.trials;
}

}  // namespace

RuleSearch::RuleSearch(const StatisticsTable* table, double probabilityThreshold, double fisherThreshold,
                       int eras, const SearchOptions& options)
    : eras_(eras),
      table_(table),
      probability_threshold_(probabilityThreshold),
      fisher_threshold_(fisherThreshold),
      random_(options.seed ? *options.seed : static_cast<uint32_t>(std::time(nullptr))),
      counter_(options.counter),
      log_factorial_(table->rowCount()),
      stats_(options.stats) {
  if (counter_ == nullptr) {
    own_counter_ = std::make_unique<PairBitsets>(*table);
    counter_ = own_counter_.get();
  }
  // Nothing to enumerate over; an odometer over no features never turns.
  if (table->featureCount() == 0) enumerating_ = false;
}

int RuleSearch::RandomIndex() {
  const int size = static_cast<int>(rules_.size());
  int index = static_cast<int>(random_.Next() / 32767.0 * size);
  return index >= size ? size - 1 : index;
}

void RuleSearch::enumerate(int level) {
  if (level >= 2) {
    enumerating_ = false;
    evolving_ = true;
    return;
  }
  std::vector<FeaturePair>& list = level == 0 ? candidate_.conclusion : candidate_.premise;
  if (list.empty()) {
    list.push_back({0, 0});
  } else {
    FeaturePair& pair = list[0];
    if (++pair.interval >= table_->indexCount(pair.feature)) {
      pair.interval = 0;
      ++pair.feature;
    }
    if (pair.feature >= table_->featureCount()) {
      enumerate(level + 1);
      if (level == 0) candidate_.conclusion.clear();
    }
  }
  if (enumerating_ && HasCommonPair(candidate_)) enumerate(0);
}

const Rule* RuleSearch::nextRule(SharedProgress* progress) {
  while (enumerating_) {
    enumerate(0);
    if (!enumerating_) break;
    evaluate(candidate_, 0);
    if (candidate_.accepted) {
      rules_.push_back(candidate_);
      return &rules_.back();
    }
  }
  // With no era to run, the progress would divide by zero.
  if (rules_.empty() || eras_ <= 0) evolving_ = false;

  while (evolving_) {
    ++era_count_;
    if (static_cast<int>(20 + 80LL * era_count_ / eras_) != static_cast<int>(100 * progress_)) {
      progress_ = 0.2 + 0.8 * era_count_ / eras_;
      if (progress != nullptr) progress->set(progress_);
    }

    if (era_count_ < static_cast<int>(rules_.size())) {
      if (++parent_index_ >= static_cast<int>(rules_.size())) parent_index_ = 0;
    } else {
      double best = -1.0;
      for (int i = 0; i < kTournamentSize; ++i) {
        int index = RandomIndex();
        double score = Score(rules_[index]);
        if (score > best) {
          best = score;
          parent_index_ = index;
        }
      }
    }
    const int first = parent_index_;
    const int second = RandomIndex();

    std::vector<SharedPair> shared = sharedPairs(rules_[first], rules_[second]);
    if (!shared.empty()) {
      Rule child = crossover(rules_[first], rules_[second], shared);
      int place = child.accepted ? InsertionPlace(rules_, child) : 0;
      if (place >= 0) {
        ++rules_[first].trials;
        ++rules_[second].trials;
        if (child.accepted) {
          ++rules_[first].successes;
          ++rules_[second].successes;
          ++evolved_count_;
          auto it = rules_.insert(rules_.begin() + place, std::move(child));
          if (era_count_ >= eras_) evolving_ = false;
          return &*it;
        }
      }
    }
    if (era_count_ >= eras_) evolving_ = false;
  }
  return nullptr;
}

int RuleSearch::InsertionPlace(const std::vector<Rule>& rules, const Rule& child) {
  if (rules.empty()) return 0;
  const int last = static_cast<int>(rules.size()) - 1;
  if (child > rules[0]) return 0;
  if (child == rules[0]) return -1;
  if (child < rules[last]) return last + 1;
  if (child == rules[last]) return -1;
  int low = 0;
  int high = last;
  for (;;) {
    int mid = (low + high) / 2;
    if (child == rules[mid]) return -1;
    if (mid == low || mid == high) return high;
    if (child < rules[mid]) {
      low = mid;
    } else {
      high = mid;
    }
  }
}

std::vector<SharedPair> RuleSearch::sharedPairs(const Rule& p1, const Rule& p2) const {
  std::vector<SharedPair> shared;
  for (const FeaturePair& a : p1.conclusion) {
    for (const FeaturePair& b : p2.conclusion)
      if (a == b) shared.push_back({a, true, true});
    for (const FeaturePair& b : p2.premise)
      if (a == b) shared.push_back({a, true, false});
  }
  for (const FeaturePair& a : p1.premise) {
    for (const FeaturePair& b : p2.conclusion)
      if (a == b) shared.push_back({a, false, true});
    for (const FeaturePair& b : p2.premise)
      if (a == b) shared.push_back({a, false, false});
  }
  return shared;
}

Rule RuleSearch::crossover(const Rule& p1, const Rule& p2, const std::vector<SharedPair>& shared) {
  size_t same = 0;
  for (const SharedPair& s : shared) same += s.inConclusion1 == s.inConclusion2;
  static constexpr int kUnionFirst[3] = {0, 1, 2};
  static constexpr int kOtherFirst[3] = {1, 2, 0};
  const int* modes = shared.size() < 2 * same ? kOtherFirst : kUnionFirst;
  Rule child;
  for (int i = 0; i < 3; ++i) {
    switch (modes[i]) {
      case 0: child = mergeUnion(p1, p2); break;
      case 1: child = mergeOther(p1, p2); break;
      default: child = mergeOther(p2, p1); break;
    }
    if (child.accepted) break;
  }
  child.successes = 0;
  return child;
}

Rule RuleSearch::mergeUnion(const Rule& p1, const Rule& p2) {
  Rule child = p1;
  for (const FeaturePair& p : p2.premise) InsertSorted(child.premise, p);
  for (const FeaturePair& p : p2.conclusion) InsertSorted(child.conclusion, p);
  std::vector<FeaturePair> aside;
  for (const FeaturePair& p : child.premise) {
    auto it = std::find(child.conclusion.begin(), child.conclusion.end(), p);
    if (it != child.conclusion.end()) {
      child.conclusion.erase(it);
      aside.push_back(p);
    }
  }
  evaluate(child, 0);
  for (size_t i = 0; i < aside.size() && !child.accepted; ++i) {
    child.premise.erase(std::find(child.premise.begin(), child.premise.end(), aside[i]));
    evaluate(child, 0);
  }
  for (size_t i = 0; i < aside.size() && !child.accepted; ++i) {
    child.conclusion.push_back(aside[i]);
    evaluate(child, 0);
  }
  return child;
}

Rule RuleSearch::mergeOther(const Rule& p1, const Rule& p2) {
  Rule child = p1;
  for (const FeaturePair& p : p2.premise) InsertSorted(child.conclusion, p);
  for (const FeaturePair& p : p2.conclusion) InsertSorted(child.premise, p);
  for (size_t i = 0; i < child.premise.size();) {
    auto it = std::find(child.conclusion.begin(), child.conclusion.end(), child.premise[i]);
    if (it != child.conclusion.end()) {
      child.conclusion.erase(it);
      child.premise.erase(child.premise.begin() + i);
    } else {
      ++i;
    }
  }
  evaluate(child, 0);
  return child;
}

}  // namespace kst
