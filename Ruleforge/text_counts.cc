#include "Ruleforge/text_counts.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <string>

#include "Ruleforge/csv_lines.h"
#include "Ruleforge/exceptions.h"

namespace kst {
namespace {

uint64_t Mix(uint64_t h, uint64_t chunk) {
  h ^= chunk * 0x87c37b91114253d5ull;
  return std::rotl(h, 31) * 0x4cf5ad432745937full;
}

// Every byte reaches every bit of the result: the table takes its low bits.
uint32_t HashOf(std::string_view text) {
  uint64_t h = 0x9E3779B97F4A7C15ull ^ text.size();
  size_t i = 0;
  for (; i + 8 <= text.size(); i += 8) {
    uint64_t chunk;
    std::memcpy(&chunk, text.data() + i, 8);
    h = Mix(h, chunk);
  }
  uint64_t tail = 0;
  std::memcpy(&tail, text.data() + i, text.size() - i);
  h = Mix(h, tail);
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdull;
  h ^= h >> 33;
  h *= 0xc4ceb9fe1a85ec53ull;
  h ^= h >> 33;
  return static_cast<uint32_t>(h);
}

// The first eight bytes as one number whose order is the texts' byte order.
uint64_t PrefixKey(std::string_view text) {
  unsigned char bytes[8] = {};
  std::memcpy(bytes, text.data(), std::min<size_t>(8, text.size()));
  uint64_t key = 0;
  for (unsigned char b : bytes) key = key << 8 | b;
  return key;
}

}  // namespace

void TextCounts::Add(std::string_view text) {
  if ((entries_.size() + 1) * 2 > slots_.size()) Grow();
  const uint32_t hash = HashOf(text);
  const size_t mask = slots_.size() - 1;
  for (size_t s = hash & mask;; s = (s + 1) & mask) {
    const uint64_t slot = slots_[s];
    if (slot == 0) {
      entries_.push_back({static_cast<uint32_t>(texts_.size()), static_cast<uint32_t>(text.size()), 1, hash});
      texts_.insert(texts_.end(), text.begin(), text.end());
      slots_[s] = uint64_t{hash} << 32 | entries_.size();
      return;
    }
    if (slot >> 32 != hash) continue;
    Entry& e = entries_[(slot & 0xffffffffu) - 1];
    if (TextOf(e) == text) {
      ++e.count;
      return;
    }
  }
}

void TextCounts::Grow() {
  slots_.assign(std::max<size_t>(64, slots_.size() * 2), 0);
  const size_t mask = slots_.size() - 1;
  for (size_t i = 0; i < entries_.size(); ++i) {
    size_t s = entries_[i].hash & mask;
    while (slots_[s] != 0) s = (s + 1) & mask;
    slots_[s] = uint64_t{entries_[i].hash} << 32 | (i + 1);
  }
}

size_t TextCounts::memoryBytes() const {
  return texts_.capacity() + entries_.capacity() * sizeof(Entry) + slots_.capacity() * sizeof(uint64_t);
}

std::vector<Appearance> TextCounts::ByText(int rows) const {
  struct Keyed {
    uint64_t key;
    uint32_t entry;
  };
  std::vector<Keyed> order(entries_.size());
  for (size_t i = 0; i < entries_.size(); ++i) {
    order[i] = {PrefixKey(TextOf(entries_[i])), static_cast<uint32_t>(i)};
  }
  std::sort(order.begin(), order.end(), [this](const Keyed& a, const Keyed& b) {
    if (a.key != b.key) return a.key < b.key;
    return TextOf(entries_[a.entry]) < TextOf(entries_[b.entry]);
  });
  std::vector<Appearance> appearances;
  appearances.reserve(order.size());
  for (const Keyed& k : order) {
    const Entry& e = entries_[k.entry];
    appearances.push_back({TextOf(e), static_cast<double>(e.count) / rows});
  }
  return appearances;
}

void TextCounts::Release() {
  std::vector<char>().swap(texts_);
  std::vector<Entry>().swap(entries_);
  std::vector<uint64_t>().swap(slots_);
}

namespace {

// Lines counted as one block, after which the memory the counts take is
// looked at.
constexpr int kBlockLines = 1024;

}  // namespace

int CountColumnTexts(std::FILE* file, uint64_t fileBytes, int first, int* last, size_t budget,
                     std::vector<TextCounts>& counts) {
  LineReader lines(file, kLearnLongestLine, LineReader::LongLines::kSplit);
  std::string_view line;
  lines.Next(&line);
  lines.Next(&line);
  // A pass needs no field past its last column; the first pass starts with
  // every column, so it checks that every row has them all.
  const int needed = *last;
  // Cells wait in a block per column and are counted a column at a time,
  // so that one column's table stays in the cache while it is counted.
  std::vector<std::string> block(static_cast<size_t>(*last));
  std::vector<std::vector<uint32_t>> block_ends(static_cast<size_t>(*last));
  auto count_block = [&] {
    for (int i = first; i < *last; ++i) {
      uint32_t begin = 0;
      for (uint32_t end : block_ends[i]) {
        counts[i].Add(std::string_view(block[i]).substr(begin, end - begin));
        begin = end;
      }
      block[i].clear();
      block_ends[i].clear();
    }
  };
  int rows = 0;
  while (lines.Next(&line)) {
    FieldCursor fields(line);
    std::string_view field;
    for (int i = 0; i < needed; ++i) {
      if (!fields.Next(&field)) throw new LoadDataException("Bad csv file format");
      if (i >= first && i < *last) {
        block[i].append(field);
        block_ends[i].push_back(static_cast<uint32_t>(block[i].size()));
      }
    }
    ++rows;
    if (rows % kBlockLines != 0) continue;
    count_block();
    if (*last - first <= 1) continue;
    size_t used = 0;
    for (int i = first; i < *last; ++i) used += counts[i].memoryBytes();
    const double growth =
        std::max(1.0, static_cast<double>(fileBytes) / static_cast<double>(std::max<uint64_t>(lines.consumed(), 1)));
    while (*last - first > 1 && static_cast<double>(used) * growth > static_cast<double>(budget)) {
      --*last;
      used -= counts[*last].memoryBytes();
      counts[*last].Release();
    }
  }
  count_block();
  return rows;
}

}  // namespace kst
