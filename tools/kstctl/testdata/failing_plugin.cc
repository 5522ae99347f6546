// An analyzer plug-in whose training always fails the way unusable training
// data makes it fail: install throws a LoadDataException, after reporting
// some progress and after writing a partial state file.
#include <fstream>
#include <string>
#include <vector>

#include "Ruleforge/exceptions.h"
#include "Ruleforge/shared_progress.h"
#include "StatSubsystem/common/parameter_value.h"

extern "C" {

const std::vector<std::string>* getParametersProfiles() {
  static const std::vector<std::string> names = {"only"};
  return &names;
}

std::vector<kst::ParameterValue>* getModuleDefaultParameters(const std::string&, double* figure) {
  static std::vector<kst::ParameterValue> parameters;
  parameters.clear();
  parameters.emplace_back("number of eras", "", 3, 3, 1, 9999, 1);
  if (figure != nullptr) *figure = 0.5;
  return &parameters;
}

int install(const std::string& stateFile, std::vector<kst::ParameterValue>*, const std::string&,
            kst::SharedProgress* progress) {
  progress->set(0.4);
  std::ofstream(stateFile) << "half";
  throw new kst::LoadDataException("Bad file format");
}

}  // extern "C"
