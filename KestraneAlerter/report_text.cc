#include "KestraneAlerter/report_text.h"

#include <cstdio>
#include <utility>

#include "KestraneAlerter/configuration.h"

namespace kst {

size_t Utf8CutBefore(const std::string& text, size_t length) {
  if (length >= text.size() || (static_cast<unsigned char>(text[length]) & 0xC0) != 0x80) return length;
  // The lead byte of the character the cut falls in, at most three back.
  for (size_t lead = length; lead > 0 && length - lead < 3;) {
    unsigned char c = static_cast<unsigned char>(text[--lead]);
    if ((c & 0xC0) == 0x80) continue;
    size_t size = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    return lead + size > length ? lead : length;
  }
  return length;
}

static std::string SortKey(const AlertMessage* m) { return m->analyzerTitle + m->logTitle; }

AlertList orderForReport(const AlertList& messages) {
  AlertList sorted = messages;
  for (size_t i = 0; i < sorted.size(); ++i) {
    size_t candidate = i;
    std::string candidateKey = SortKey(sorted[i]);
    for (size_t j = i + 1; j < sorted.size(); ++j) {
      std::string key = SortKey(sorted[j]);
      if (key < candidateKey) {
        candidate = j;
        candidateKey = std::move(key);
      }
    }
    std::swap(sorted[i], sorted[candidate]);
  }
  return sorted;
}

static void AppendUnsigned(std::string* text, const char* format, uint32_t value) {
  char buffer[1024];
  std::snprintf(buffer, sizeof buffer, format, static_cast<unsigned>(value));
  *text += buffer;
}

static void AppendTitles(std::string* text, const std::vector<uint64_t>& ids) {
  for (size_t i = 0; i < ids.size(); ++i) {
    if (i > 0) *text += ", ";
    *text += CounterTitle(ids[i]);
  }
}

std::string buildReportText(const AlertList& messages, const DeliverySettings& s) {
  AlertList sorted = orderForReport(messages);
  std::string text;
  if (s.includeComments) text += "Warning Level: ";

  uint32_t sum = 0;
  for (const AlertMessage* m : sorted) sum += static_cast<uint32_t>(static_cast<int32_t>(m->warningLevel));
  double average = sorted.empty() ? 0.0
                                  : static_cast<double>(sum) / static_cast<double>(static_cast<uint32_t>(sorted.size()));
  AppendUnsigned(&text, "%u\n", static_cast<uint32_t>(average + 0.5));

  if (s.includeAnalyzerTitles || s.includeDescription || s.includeCounterNames) {
    if (s.includeComments) text += "Details:\n";
    std::string previousAnalyzer, previousLog;
    for (const AlertMessage* m : sorted) {
      bool hasParts = !m->counterParts.empty();
      bool detailed = (s.includeDescription || s.includeCounterNames) && hasParts;
      if (s.includeAnalyzerTitles && (m->analyzerTitle != previousAnalyzer || m->logTitle != previousLog)) {
        if (m->analyzerTitle != previousAnalyzer) {
          if (s.includeComments) text += "Analyzer: ";
          text += m->analyzerTitle + ", ";
          previousAnalyzer = m->analyzerTitle;
        }
        if (s.includeComments) text += "Log: ";
        text += m->logTitle;
        previousLog = m->logTitle;
        if (detailed) text += ":";
        text += "\n";
      }
      if (s.includeAnalyzerTitles && detailed) text += "- ";
      if (s.includeDescription) {
        text += m->description;
        AppendUnsigned(&text, ", warning level: %u.\n", static_cast<uint32_t>(static_cast<int32_t>(m->warningLevel)));
      }
      if (s.includeCounterNames && hasParts) {
        for (const CounterPart& part : m->counterParts) {
          if (s.includeComments) text += "Base counters:\n";
          AppendTitles(&text, part.baseCounterIds);
          text += s.includeComments ? "\nResult counters:\n" : " -> ";
          AppendTitles(&text, part.resultCounterIds);
          text += "\n";
        }
      }
    }
  }

  if (s.maxMessageLength >= 0 && static_cast<int64_t>(text.size()) > s.maxMessageLength) {
    text.resize(Utf8CutBefore(text, static_cast<size_t>(s.maxMessageLength)));
  }
  return text;
}

}  // namespace kst
