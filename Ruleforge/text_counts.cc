#include "Ruleforge/text_counts.h"

#include <algorithm>
#include <cstring>

namespace kst {
namespace {

uint32_t HashOf(std::string_view text) {
  uint64_t h = text.size() * 0x9E3779B97F4A7C15ull;
  size_t i = 0;
  for (; i + 8 <= text.size(); i += 8) {
    uint64_t chunk;
    std::memcpy(&chunk, text.data() + i, 8);
    h = (h ^ chunk) * 0xff51afd7ed558ccdull;
    h ^= h >> 32;
  }
  uint64_t tail = 0;
  std::memcpy(&tail, text.data() + i, text.size() - i);
  h = (h ^ tail) * 0xc4ceb9fe1a85ec53ull;
  h ^= h >> 29;
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
    uint32_t slot = slots_[s];
    if (slot == 0) {
      entries_.push_back({static_cast<uint32_t>(texts_.size()), static_cast<uint32_t>(text.size()), 1, hash});
      texts_.insert(texts_.end(), text.begin(), text.end());
      slots_[s] = static_cast<uint32_t>(entries_.size());
      return;
    }
    Entry& e = entries_[slot - 1];
    if (e.hash == hash && TextOf(e) == text) {
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
    slots_[s] = static_cast<uint32_t>(i + 1);
  }
}

size_t TextCounts::memoryBytes() const {
  return texts_.capacity() + entries_.capacity() * sizeof(Entry) + slots_.capacity() * sizeof(uint32_t);
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
  std::vector<uint32_t>().swap(slots_);
}

}  // namespace kst
