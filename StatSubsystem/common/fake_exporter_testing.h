// Test-only: a stand-in for the exporter program inside a private
// installation. It records each command line's words and writes a prepared
// table to the file its -of names.
#ifndef KESTRANE_STATSUBSYSTEM_COMMON_FAKE_EXPORTER_TESTING_H_
#define KESTRANE_STATSUBSYSTEM_COMMON_FAKE_EXPORTER_TESTING_H_

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace kst {

// Installs the real exporter of this build (KST_BIN_DIR) as
// <home>/KestraneExporter and creates the collector's service key that the
// exporter reads its settings from. False when either step fails.
inline bool InstallRealExporter(const std::string& home) {
  const char* bin = std::getenv("KST_BIN_DIR");
  if (bin == nullptr) return false;
  std::error_code error;
  std::filesystem::create_symlink(std::string(bin) + "/KestraneExporter", home + "/KestraneExporter", error);
  if (error) return false;
  RegistryKey key;
  return RegistryKey::Create("System\\CurrentControlSet\\Services\\Kestrane buffer creator", &key) ==
         kErrorSuccess;
}

// Installs the stand-in as <home>/KestraneExporter. Each run appends its
// words, one per line, then a line "--", to <home>/exporter_args, and copies
// <home>/table.<month> (the -month value) or else <home>/table to its output;
// with neither it writes nothing.
inline void InstallFakeExporter(const std::string& home) {
  const std::string script = home + "/KestraneExporter";
  std::ofstream(script) << R"(#!/bin/sh
for word in "$@"; do printf '%s\n' "$word"; done >> "$KESTRANE_HOME/exporter_args"
echo -- >> "$KESTRANE_HOME/exporter_args"
out=""; month=""; previous=""
for word in "$@"; do
  [ "$previous" = "-of" ] && out="$word"
  [ "$previous" = "-month" ] && month="$word"
  previous="$word"
done
relative=$(printf '%s' "${out#"C:\\Program Files\\Kestrane"}" | tr '\\' '/')
table="$KESTRANE_HOME/table.$month"
[ -f "$table" ] || table="$KESTRANE_HOME/table"
[ -f "$table" ] && cat "$table" > "$KESTRANE_HOME$relative"
exit 0
)";
  ::chmod(script.c_str(), 0755);
}

// The words of each run so far.
inline std::vector<std::vector<std::string>> FakeExporterRuns(const std::string& home) {
  std::vector<std::vector<std::string>> runs(1);
  std::ifstream in(home + "/exporter_args");
  for (std::string line; std::getline(in, line);) {
    if (line == "--") {
      runs.emplace_back();
    } else {
      runs.back().push_back(line);
    }
  }
  runs.pop_back();
  return runs;
}

inline std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace kst

#endif  // KESTRANE_STATSUBSYSTEM_COMMON_FAKE_EXPORTER_TESTING_H_
