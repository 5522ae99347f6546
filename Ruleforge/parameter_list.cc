#include "Ruleforge/parameter_list.h"

#include <cstring>

namespace kst {

bool ParameterList::set(const ParameterValue& p) {
  for (ParameterValue& entry : entries_) {
    if (std::strcmp(entry.name(), p.name()) == 0) {
      entry.assign(p);
      return true;
    }
  }
  return false;
}

bool ParameterList::get(ParameterValue& out, const char* name) const {
  for (const ParameterValue& entry : entries_) {
    if (std::strcmp(entry.name(), name) == 0) {
      out.assign(entry);
      return true;
    }
  }
  return false;
}

bool ParameterList::getAt(ParameterValue& out, int index) const {
  if (index < 0 || index >= size()) return false;
  out.assign(entries_[index]);
  return true;
}

bool ParameterList::clear() {
  entries_.clear();
  return true;
}

}  // namespace kst
