// How often each distinct text stands in one column of a training table:
// the texts kept once each, back to back, in a flat open-addressing table.
#ifndef KESTRANE_RULEFORGE_TEXT_COUNTS_H_
#define KESTRANE_RULEFORGE_TEXT_COUNTS_H_

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "Ruleforge/interval_scale.h"

namespace kst {

class TextCounts {
 public:
  void Add(std::string_view text);

  size_t size() const { return entries_.size(); }
  // What the counts hold now, in bytes.
  size_t memoryBytes() const;
  // Every text with its count divided by `rows`, in the standard string
  // order of the texts; the views live until the next Add or Release.
  std::vector<Appearance> ByText(int rows) const;
  // Gives the memory back.
  void Release();

 private:
  struct Entry {
    uint32_t offset;
    uint32_t length;
    uint32_t count;
    uint32_t hash;
  };
  std::string_view TextOf(const Entry& e) const { return {texts_.data() + e.offset, e.length}; }
  void Grow();

  std::vector<char> texts_;
  std::vector<Entry> entries_;
  std::vector<uint32_t> slots_;  // entry index + 1; 0 is free
};

}  // namespace kst

#endif  // KESTRANE_RULEFORGE_TEXT_COUNTS_H_
