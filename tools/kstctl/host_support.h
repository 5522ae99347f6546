// What the management-host subcommands of kstctl (product, collector,
// module, tune, train, reload) share: number words, 4-byte values, and the
// loaded libraries they call into.
#ifndef KESTRANE_TOOLS_KSTCTL_HOST_SUPPORT_H_
#define KESTRANE_TOOLS_KSTCTL_HOST_SUPPORT_H_

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

namespace kst {

class Module;
struct AnalyzerInstance;

// A plain decimal number 0..UINT32_MAX (no sign, no blanks).
inline bool ParseUnsigned(const std::string& text, uint32_t* value) {
  if (text.empty() || text.size() > 10) return false;
  uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<uint64_t>(c - '0');
  }
  if (v > UINT32_MAX) return false;
  *value = static_cast<uint32_t>(v);
  return true;
}

// A REG_DWORD's 4 little-endian bytes.
inline std::string DwordBytes(uint32_t v) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>(v >> (8 * i) & 0xff);
  return bytes;
}
inline uint32_t DwordFromBytes(const char* bytes) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(bytes[i]);
  return v;
}

// Finds the instance `title` of `log` (copied into *found); false after a
// message when the log or the instance cannot be read.
bool FindInstance(const char* command, const std::string& log, const std::string& title,
                  AnalyzerInstance* found);

// The native path of an instance's state file, as the checking service
// hands it to the plug-in: root directory, "\States\", its name.
// REQUIRES: the library's root directory is set.
std::string StateFilePath(const AnalyzerInstance& instance);

// Writes the training table of `instance` of `log` to `output`: its
// training period exported every `interval_seconds` into `exported` (removed
// afterwards), cut to the log's counters in the log's order, after the time
// of day when the instance uses it. The lines written (the two header lines
// included), or -1 after a message. REQUIRES: the root directory is set.
int WriteTrainingTable(const char* command, const std::string& log,
                       const AnalyzerInstance& instance, uint32_t interval_seconds,
                       const std::string& exported, const std::string& output);

// Loads the analyzer plug-in `file`. A bare name such as "Discovery.dll" is
// looked for in the root directory first (the copy the checking service
// loads), then beside kstctl. Null, after a message "kstctl COMMAND: ..."
// on stderr, when it does not load.
std::unique_ptr<Module> LoadPlugin(const char* command, const std::string& file);

// Loads the installation's alerter library: the root directory's
// KestraneAlerter.dll, else the one beside kstctl. Null after a message.
std::unique_ptr<Module> LoadAlerter(const char* command);

// Calls the alerter's ActivateWarningSystem, so that the checking service
// reloads its configuration before its next check; prints what happened
// (on stdout when the request was sent, else on stderr). True when sent.
bool RequestReload(const char* command);

// RequestReload after a change the checking service should see; when it
// cannot be sent, says on stdout when the change takes effect.
void ReloadAfterChange(const char* command);

}  // namespace kst

#endif  // KESTRANE_TOOLS_KSTCTL_HOST_SUPPORT_H_
