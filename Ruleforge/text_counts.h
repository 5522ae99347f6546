// How often each distinct text stands in one column of a training table:
// the texts kept once each, back to back, in a flat open-addressing table.
#ifndef KESTRANE_RULEFORGE_TEXT_COUNTS_H_
#define KESTRANE_RULEFORGE_TEXT_COUNTS_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
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
  // The entry's hash in the high half, its index + 1 in the low half; 0 is
  // free. A probe compares hashes without reaching the entries.
  std::vector<uint64_t> slots_;
};

// Rows of up to 32767 characters are read whole with their line end, as
// fgets with a buffer of 32769 bytes reads them; longer lines come in
// pieces.
inline constexpr size_t kLearnLongestLine = 32768;

// One pass over the data rows of a CSV statistics file (from its start; the
// two header lines are passed over) counting the texts of columns
// [first, *last) into counts[first..*last). Drops columns from the back
// while the counts would outgrow `budget` by the end of the file
// (`fileBytes` long), keeping at least `first`, so *last may come back
// smaller. Throws LoadDataException* "Bad csv file format" for a row without
// the fields up to *last; returns the row count.
int CountColumnTexts(std::FILE* file, uint64_t fileBytes, int first, int* last, size_t budget,
                     std::vector<TextCounts>& counts);

}  // namespace kst

#endif  // KESTRANE_RULEFORGE_TEXT_COUNTS_H_
