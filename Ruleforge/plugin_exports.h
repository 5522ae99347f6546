// The analyzer plug-in's exports as a host binds them by name (the
// functions are extern "C", so the names are undecorated). Strings and
// vectors cross the boundary as standard library objects: host and plug-in
// must be built with the same library. Everything a getter returns is owned
// by the plug-in and valid while it is loaded. One call into a loaded
// plug-in at a time.
#ifndef KESTRANE_RULEFORGE_PLUGIN_EXPORTS_H_
#define KESTRANE_RULEFORGE_PLUGIN_EXPORTS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "Ruleforge/anomaly_detail.h"
#include "Ruleforge/shared_progress.h"
#include "StatSubsystem/common/parameter_value.h"

namespace kst {

// "check": judges the values (one per feature, in the training file's
// column order) with the instance of `stateFile`, loading it on first use.
// Writes the message (NUL-terminated, cut to messageSize - 1 characters),
// points *details at the anomalous rules, and returns 0 (no anomaly), the
// level 1..100, or -1 (state file missing or damaged, too few values).
using CheckExport = int(const std::string& stateFile, const std::vector<double>* featureValues, char* message,
                        uint32_t messageSize, std::vector<AnomalyDetail>** details);
// "install": trains a new instance from csvFile and writes stateFile.
// 0 done, 1 already loaded, -1 bad parameters or an unwritable state file;
// training data that cannot be used throws a LoadDataException* (the caller
// deletes it, as an Exception*).
using InstallExport = int(const std::string& stateFile, std::vector<ParameterValue>* params,
                          const std::string& csvFile, SharedProgress* progress);
// "tune": p in [0, 1] sets the sensitivity and returns the previous odds;
// -1.0 returns the sensitivity; -1.0 for a bad p or state file; 0.5 for an
// empty name.
using TuneExport = double(const std::string& stateFile, double p);
using GetModuleTitleExport = const std::string*();
using GetModuleInfoExport = const std::string*();
using GetLogRequiredCountersTitlesExport = const std::vector<std::string>*();
using GetParametersProfilesExport = const std::vector<std::string>*();
// Rebuilds and returns the named profile's four parameters (an unknown name
// takes the last profile's); stores its figure through `figure` when given.
using GetModuleDefaultParametersExport = std::vector<ParameterValue>*(const std::string& profile, double* figure);

}  // namespace kst

#endif  // KESTRANE_RULEFORGE_PLUGIN_EXPORTS_H_
