// An analyzer plug-in for the checker's tests. Its state file is a script of
// "key=value" lines: level (the answer), message, throw (1: throw instead of
// answering) and details ("0,1>2;3>0": base features > result features, rules
// apart by ";"). Each call appends the feature values it was given, one line,
// to the state file's name followed by ".features". A misbehaving plug-in:
// "write=none" leaves the message buffer alone, "write=full" fills all of it
// with no terminating NUL.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "Ruleforge/anomaly_detail.h"

namespace {

std::vector<kst::AnomalyDetail> details;

std::vector<int> Indices(const std::string& text) {
  std::vector<int> out;
  std::stringstream in(text);
  std::string item;
  while (std::getline(in, item, ',')) {
    if (!item.empty()) out.push_back(std::stoi(item));
  }
  return out;
}

}  // namespace

extern "C" int check(const std::string& stateFile, const std::vector<double>* featureValues,
                     char* message, uint32_t messageSize, std::vector<kst::AnomalyDetail>** out) {
  details.clear();
  *out = &details;
  std::ifstream script(stateFile);
  if (!script) return -1;
  int level = 0;
  std::string text, line, write;
  while (std::getline(script, line)) {
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    if (key == "level") level = std::stoi(value);
    if (key == "message") text = value;
    if (key == "write") write = value;
    if (key == "throw" && value == "1") throw std::runtime_error("broken analyzer");
    if (key == "details") {
      std::stringstream rules(value);
      std::string rule;
      while (std::getline(rules, rule, ';')) {
        const size_t arrow = rule.find('>');
        details.push_back({Indices(rule.substr(0, arrow)),
                           arrow == std::string::npos ? std::vector<int>{}
                                                      : Indices(rule.substr(arrow + 1))});
      }
    }
  }
  std::ofstream seen(stateFile + ".features", std::ios::app);
  for (double v : *featureValues) seen << v << ' ';
  seen << '\n';
  if (write == "full") {
    std::memset(message, 'x', messageSize);
  } else if (write != "none") {
    std::snprintf(message, messageSize, "%s", text.c_str());
  }
  return level;
}
