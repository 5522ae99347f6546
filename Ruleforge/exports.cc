// The plug-in's exports and the module-wide registry of analyzers, one per
// state file, kept until the module is unloaded. Not locked: a host calls
// into one loaded module from one thread at a time.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "Ruleforge/analyzer.h"
#include "Ruleforge/exceptions.h"
#include "Ruleforge/plugin_exports.h"
#include "platform/paths.h"
#include "platform/root_doors.h"

namespace {

using kst::DiscoveryAnalyzer;
using kst::ParameterValue;

// Analyzers live until the module is unloaded.
class AnalyzerRegistry final : public std::map<std::string, DiscoveryAnalyzer*> {
 public:
  ~AnalyzerRegistry() {
    for (auto& [name, analyzer] : *this) delete analyzer;
  }
};

AnalyzerRegistry& Registry() {
  static AnalyzerRegistry registry;
  return registry;
}

// Run as root, a state file that another user could change or swap is
// neither read nor written: its rules decide which alerts are sent; nor is
// one that is no regular file (a FIFO would hold the check). Says so on
// the service's log.
void TellRefusal(const char* doing, const std::string& native, const std::string& refusal) {
  if (!refusal.empty()) std::fprintf(stderr, "%s\n", kst::DoorRefusal(doing, native, refusal).c_str());
}

// Loads the analyzer of a state file and registers it; null when the file
// cannot be opened or read.
DiscoveryAnalyzer* LoadAnalyzer(const std::string& stateFile) {
  const std::string native = kst::NativePath(stateFile);
  std::string contents, refusal;
  if (!kst::ReadDataFile(native, &contents, &refusal)) {
    TellRefusal("read", native, refusal);
    return nullptr;
  }
  std::istringstream in(contents);
  auto* analyzer = new DiscoveryAnalyzer();
  try {
    analyzer->load(in);
  } catch (kst::Exception* e) {
    delete e;
    delete analyzer;
    return nullptr;
  } catch (...) {
    delete analyzer;
    return nullptr;
  }
  Registry()[stateFile] = analyzer;
  return analyzer;
}

DiscoveryAnalyzer* FindAnalyzer(const std::string& stateFile) {
  auto it = Registry().find(stateFile);
  return it == Registry().end() ? nullptr : it->second;
}

bool SaveAnalyzer(const DiscoveryAnalyzer& analyzer, const std::string& stateFile) {
  const std::string native = kst::NativePath(stateFile);
  std::ostringstream out;
  analyzer.save(out);
  std::string refusal;
  if (kst::WriteDataFile(native, out.str(), &refusal)) return true;
  TellRefusal("write", native, refusal);
  return false;
}

struct Profile {
  const char* name;
  double probabilityThreshold;
  double fisherThreshold;
  int eras;
  double figure;
};

// The last one also serves every unknown name.
constexpr Profile kProfiles[] = {
    {"Combined logs, various counters", 0.99, 1.0, 10000, 0.15},
    {"Single log, oscillating counters", 0.99, 1.0, 10000, 0.3},
    {"Single log, integral counters", 0.95, 0.01, 20000, 0.2},
};
constexpr Profile kOtherProfile = {"", 0.95, 0.01, 10000, 0.2};

}  // namespace

extern "C" {

const std::string* getModuleTitle() {
  static const std::string title = "Ruleforge";
  return &title;
}

const std::string* getModuleInfo() {
  static const std::string info =
      "Engine searches for anomalies in data using Discovery method: find of rules.\n"
      "Learns rules over the intervals of the collected counters and reports the\n"
      "current values that break them.";
  return &info;
}

const std::vector<std::string>* getLogRequiredCountersTitles() {
  static const std::vector<std::string> titles;
  return &titles;
}

const std::vector<std::string>* getParametersProfiles() {
  static std::vector<std::string> names;
  if (names.empty()) {
    for (const Profile& p : kProfiles) names.emplace_back(p.name);
  }
  return &names;
}

std::vector<ParameterValue>* getModuleDefaultParameters(const std::string& profile, double* figure) {
  static std::vector<ParameterValue> parameters;
  const Profile* chosen = &kOtherProfile;
  for (const Profile& p : kProfiles) {
    if (profile == p.name) chosen = &p;
  }
  parameters.clear();
  parameters.emplace_back(kst::kProbabilityThresholdName, kst::kProbabilityThresholdDescription,
                          chosen->probabilityThreshold, 0.95, 0.0, 1.0);
  parameters.emplace_back(kst::kFisherThresholdName, kst::kFisherThresholdDescription, chosen->fisherThreshold,
                          0.01, 0.0, 1.0);
  parameters.emplace_back(kst::kErasName, kst::kErasDescription, chosen->eras, 10000, 0, 2147483647, 1);
  parameters.emplace_back(kst::kRulesFileName, kst::kRulesFileDescription, "", "");
  if (figure != nullptr) *figure = chosen->figure;
  return &parameters;
}

int install(const std::string& stateFile, std::vector<ParameterValue>* params, const std::string& csvFile,
            kst::SharedProgress* progress) {
  if (FindAnalyzer(stateFile) != nullptr) return 1;
  // The entries go by position; one missing or of another kind would be read
  // as garbage.
  if (params == nullptr || params->size() < 4) return -1;
  std::vector<ParameterValue>& p = *params;
  if (p[0].kind() != kst::kParamReal || p[1].kind() != kst::kParamReal || p[2].kind() != kst::kParamInt ||
      p[3].kind() != kst::kParamString) {
    return -1;
  }
  const double probability_threshold = p[0].data().r.value;
  const double fisher_threshold = p[1].data().r.value;
  const int eras = p[2].data().i.value;
  // Written so that a NaN threshold is refused too.
  if (!(probability_threshold >= 0.0) || !(fisher_threshold >= 0.0) || eras < 0) return -1;
  const std::string rules_file = p[3].data().s.value;

  auto* analyzer = new DiscoveryAnalyzer(probability_threshold, fisher_threshold, eras, rules_file);
  Registry()[stateFile] = analyzer;
  analyzer->learn(csvFile.c_str(), progress);
  return SaveAnalyzer(*analyzer, stateFile) ? 0 : -1;
}

int check(const std::string& stateFile, const std::vector<double>* featureValues, char* message,
          uint32_t messageSize, std::vector<kst::AnomalyDetail>** details) {
  kst::AnomalyDetails.clear();
  *details = &kst::AnomalyDetails;
  DiscoveryAnalyzer* analyzer = FindAnalyzer(stateFile);
  if (analyzer == nullptr) analyzer = LoadAnalyzer(stateFile);
  if (analyzer == nullptr) return -1;
  // The check reads one value per feature.
  if (featureValues == nullptr || featureValues->size() < static_cast<size_t>(analyzer->scaleCount())) return -1;

  std::string text;
  if (!analyzer->check(text, featureValues)) return -1;
  *details = &kst::AnomalyDetails;
  if (messageSize > 0) {
    const size_t n = std::min<size_t>(text.size(), messageSize - 1);
    std::memcpy(message, text.data(), n);
    message[n] = '\0';
  }
  return text.empty() ? 0 : kst::anomalyLevel;
}

double tune(const std::string& stateFile, double p) {
  if (stateFile.empty()) return 0.5;
  // A NaN would be stored as the sensitivity.
  if (p != -1.0 && !(p >= 0.0 && p <= 1.0)) return -1.0;
  DiscoveryAnalyzer* analyzer = FindAnalyzer(stateFile);
  if (analyzer == nullptr) analyzer = LoadAnalyzer(stateFile);
  if (analyzer == nullptr) return -1.0;
  const double result = analyzer->tune(p);
  if (p != -1.0) SaveAnalyzer(*analyzer, stateFile);
  return result;
}

}  // extern "C"
