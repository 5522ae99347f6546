#include "KestraneAlerter/filter_tree.h"

#include <algorithm>
#include <cinttypes>

#include "KestraneAlerter/text_file.h"

namespace kst {

void FilterNode::switchOff() {
  if (!on_) return;
  on_ = false;
  switchOffChildren();
  if (parent_ != nullptr && !parent_->anyChildOn()) parent_->switchOff();
}

// --- Filter ---

Filter::Filter(int32_t fieldType, int32_t matchType, int64_t value)
    : FilterNode(true), fieldType_(fieldType), matchType_(matchType) {
  if (matchType == kContains) return;
  if (isCounterField()) counterId_ = static_cast<uint64_t>(value);
  if (fieldType == kWarningLevel) level_ = static_cast<int8_t>(static_cast<uint8_t>(value & 0xff));
}

Filter::Filter(int32_t fieldType, int32_t matchType, const std::string& text)
    : FilterNode(true), fieldType_(fieldType), matchType_(matchType) {
  if ((matchType == kContains || matchType == kEqual) && isTextField()) pattern_ = text;
}

uint64_t Filter::counterId() const { return isCounterField() ? counterId_ : 0; }

int8_t Filter::level() const { return fieldType_ == kWarningLevel ? level_ : 0; }

std::string Filter::pattern() const { return isTextField() ? pattern_ : std::string(); }

void Filter::assignFrom(const Filter& other) {
  fieldType_ = other.fieldType_;
  matchType_ = other.matchType_;
  pattern_ = other.pattern_;
  level_ = other.level_;
  counterId_ = other.counterId_;
}

bool Filter::canSwitchOn() const { return on_ || parent() == nullptr || parent()->isOn(); }

bool Filter::switchOn() {
  if (!canSwitchOn()) return false;
  on_ = true;
  return true;
}

int Filter::load(TextReader&) { return 0; }

int Filter::save(std::FILE* out) const {
  if (!WriteText(out, "%d\n", kFilterKind)) return -1;
  if (!WriteText(out, "%d %d\n", fieldType_, matchType_)) return -1;
  if (!WriteText(out, "%d\n", on_ ? 1 : 0)) return -1;
  if (isTextField()) {
    // The loader skips white space before the pattern line, so an empty or
    // blank-only line would take the next record's line for the pattern and
    // lose the rest of the file. Such a record keeps its line with the
    // files' mark for an empty text; a match kind that tests no text never
    // uses it.
    bool readable = pattern_.find_first_not_of(" \t\n\v\f\r") != std::string::npos;
    return WriteText(out, "%s\n", readable ? pattern_.c_str() : "-") ? 0 : -1;
  }
  // Every other field type has a number line, since load reads one for it;
  // a field type that tests nothing keeps 0 there.
  int64_t value = fieldType_ == kWarningLevel ? level_ : static_cast<int64_t>(counterId_);
  return WriteText(out, "%" PRId64 "\n", value) ? 0 : -1;
}

static bool HasCounter(const std::vector<uint64_t>& ids, uint64_t id) {
  return std::find(ids.begin(), ids.end(), id) != ids.end();
}

bool Filter::evaluate(const AlertMessage& message) const {
  if (!on_) return true;
  if (isCounterField()) {
    if (matchType_ != kEqual) return true;
    for (const CounterPart& part : message.counterParts) {
      const auto& ids = fieldType_ == kBaseCounter ? part.baseCounterIds : part.resultCounterIds;
      if (HasCounter(ids, counterId_)) return true;
    }
    return false;
  }
  if (fieldType_ == kWarningLevel) {
    // The byte holds the 0-255 level that was typed (200 is kept as -56 in
    // files): compare it as that, not as a signed number.
    const uint8_t value = static_cast<uint8_t>(message.warningLevel);
    const uint8_t level = static_cast<uint8_t>(level_);
    switch (matchType_) {
      case kEqual: return value == level;
      case kMore: return value > level;
      case kLess: return value < level;
      default: return true;
    }
  }
  if (isTextField()) {
    const std::string& text = fieldType_ == kLogTitle       ? message.logTitle
                              : fieldType_ == kAnalyzerTitle ? message.analyzerTitle
                                                             : message.description;
    switch (matchType_) {
      case kContains: return text.find(pattern_) != std::string::npos;
      case kEqual: return text == pattern_;
      default: return true;
    }
  }
  return true;
}

// --- Gate ---

Gate::Gate(int32_t gateType) : FilterNode(false), gateType_(gateType) {}

// The children go with the gate; destroying switches nothing.
Gate::~Gate() = default;

FilterNode* Gate::childAt(int index) const {
  if (index < 0 || index >= childCount()) return nullptr;
  return children_[static_cast<size_t>(index)].get();
}

int Gate::indexOf(const FilterNode* node) const {
  for (size_t i = 0; i < children_.size(); ++i) {
    if (children_[i].get() == node) return static_cast<int>(i);
  }
  return -1;
}

int Gate::addChild(FilterNode* node) {
  if (gateType_ == kNot && !children_.empty()) return -1;
  children_.emplace_back(node);
  node->parent_ = this;
  if (!on_) node->switchOff();
  return 0;
}

void Gate::removeChild(FilterNode* node) {
  int index = indexOf(node);
  if (index < 0) return;
  children_.erase(children_.begin() + index);
  if (!anyChildOn()) switchOff();
}

void Gate::clear() {
  children_.clear();
  switchOff();
}

bool Gate::containsFilter() const {
  for (const auto& child : children_) {
    if (child->kind() == kFilterKind) return true;
    if (static_cast<const Gate&>(*child).containsFilter()) return true;
  }
  return false;
}

bool Gate::anyChildOn() const {
  for (const auto& child : children_) {
    if (child->isOn()) return true;
  }
  return false;
}

void Gate::switchOffChildren() {
  for (const auto& child : children_) child->switchOff();
}

bool Gate::canSwitchOn() const {
  if (on_) return true;
  if (parent() != nullptr && !parent()->isOn()) return false;
  return containsFilter();
}

bool Gate::switchOn() {
  if (on_) return true;
  if (!canSwitchOn()) return false;
  on_ = true;
  for (const auto& child : children_) child->switchOn();
  return true;
}

bool Gate::evaluate(const AlertMessage& message) const {
  if (!on_ || children_.empty()) return true;
  switch (gateType_) {
    case kAnd:
      for (const auto& child : children_) {
        if (!child->evaluate(message)) return false;
      }
      return true;
    case kOr:
      for (const auto& child : children_) {
        if (child->evaluate(message)) return true;
      }
      return false;
    case kNot:
      return !children_.front()->evaluate(message);
    default:
      return true;
  }
}

int Gate::save(std::FILE* out) const {
  if (!WriteText(out, "%d\n", kGateKind)) return -1;
  if (!WriteText(out, "%d\n", gateType_)) return -1;
  return saveBody(out);
}

int Gate::saveBody(std::FILE* out) const {
  if (!WriteText(out, "%d\n", on_ ? 1 : 0)) return -1;
  if (!WriteText(out, "%u\n", static_cast<unsigned>(children_.size()))) return -1;
  for (const auto& child : children_) {
    if (child->save(out) < 0) return -1;
  }
  return 0;
}

// Reads the head of one child record (kind, and for a filter its test and
// on flag) and makes the node. Null at a failed read.
static std::unique_ptr<FilterNode> ReadNodeHead(TextReader& in, int32_t* onFlag) {
  int32_t kind;
  if (!in.ScanInt(&kind)) return nullptr;
  in.SkipSpace();
  if (kind == FilterNode::kGateKind) {
    int32_t gateType;
    if (!in.ScanInt(&gateType)) return nullptr;
    in.SkipSpace();
    return std::make_unique<Gate>(gateType);
  }
  int32_t fieldType, matchType;
  if (!in.ScanInt(&fieldType)) return nullptr;
  in.SkipSpace();
  if (!in.ScanInt(&matchType)) return nullptr;
  in.SkipSpace();
  if (!in.ScanInt(onFlag)) return nullptr;
  in.SkipSpace();
  if (fieldType >= Filter::kLogTitle && fieldType <= Filter::kDescription) {
    std::string pattern;
    if (!in.ReadLineDroppingEnd(4000, &pattern)) return nullptr;
    return std::make_unique<Filter>(fieldType, matchType, pattern);
  }
  int64_t value;
  if (!in.ScanInt64(&value)) return nullptr;
  in.SkipSpace();
  return std::make_unique<Filter>(fieldType, matchType, value);
}

int Gate::load(TextReader& in) { return loadBody(in, 0); }

int Gate::loadBody(TextReader& in, int depth) {
  if (depth > kMaxLoadDepth) return -1;
  int32_t onFlag;
  uint32_t count;
  if (!in.ScanInt(&onFlag)) return -1;
  in.SkipSpace();
  on_ = onFlag == 1;
  if (!in.ScanUnsigned(&count)) return -1;
  in.SkipSpace();
  for (uint32_t i = 0; i < count; ++i) {
    int32_t childOn = -1;
    std::unique_ptr<FilterNode> node = ReadNodeHead(in, &childOn);
    if (node == nullptr) return -1;
    if (node->kind() == kGateKind && static_cast<Gate&>(*node).loadBody(in, depth + 1) < 0) return -1;
    FilterNode* child = node.get();
    if (addChild(child) < 0) continue;  // a NOT gate's second child is dropped
    node.release();
    // A filter comes back as it was saved. Switching it would spread: one
    // saved off, read before its brothers that are on, would switch this
    // gate off, and with it every node read after it.
    if (child->kind() == kFilterKind && (childOn == 0 || childOn == 1)) child->on_ = childOn == 1 && on_;
  }
  return 0;
}

}  // namespace kst
