// A profile's filter tree: leaves (Filter) test one piece of an alert
// message, inner nodes (Gate) combine their children with AND, OR or NOT.
// A node that is off lets every message pass; switching a node off spreads
// down to its children and up to parents left with no child that is on.
//
// Not thread-safe: a tree belongs to one profile and is used on one thread.
#ifndef KESTRANE_ALERTER_FILTER_TREE_H_
#define KESTRANE_ALERTER_FILTER_TREE_H_

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "StatSubsystem/common/alert_message.h"

namespace kst {

class Gate;
class TextReader;

class FilterNode {
 public:
  enum Kind { kGateKind = 1, kFilterKind = 2 };

  virtual ~FilterNode() = default;
  FilterNode(const FilterNode&) = delete;
  FilterNode& operator=(const FilterNode&) = delete;

  virtual bool canSwitchOn() const = 0;
  // True when the node is on afterwards.
  virtual bool switchOn() = 0;
  virtual void switchOff();
  // Reads the node's own body after its record head; 0 or -1.
  virtual int load(TextReader& in) = 0;
  // Writes the node's whole record; 0, or -1 at the first failed write.
  virtual int save(std::FILE* out) const = 0;
  virtual int kind() const = 0;
  virtual bool evaluate(const AlertMessage& message) const = 0;

  bool isOn() const { return on_; }
  Gate* parent() const { return parent_; }

 protected:
  explicit FilterNode(bool on) : on_(on) {}
  // Switches this node's children off (none for a leaf).
  virtual void switchOffChildren() {}

  bool on_;

 private:
  friend class Gate;
  Gate* parent_ = nullptr;  // not owned; the gate that holds this node
};

class Filter final : public FilterNode {
 public:
  enum FieldType {
    kBaseCounter = 1,
    kResultCounter = 2,
    kWarningLevel = 3,
    kLogTitle = 4,
    kAnalyzerTitle = 5,
    kDescription = 6,
  };
  enum MatchType { kContains = 1, kEqual = 2, kMore = 4, kLess = 5 };

  // A numeric value: a counter id for field types 1 and 2, a level (its low
  // 8 bits) for field type 3; taken only when matchType is not kContains.
  Filter(int32_t fieldType, int32_t matchType, int64_t value);
  // A text value, taken for field types 4 to 6 with match kContains or kEqual.
  Filter(int32_t fieldType, int32_t matchType, const std::string& text);

  bool canSwitchOn() const override;
  bool switchOn() override;
  int load(TextReader& in) override;
  int save(std::FILE* out) const override;
  int kind() const override { return kFilterKind; }
  bool evaluate(const AlertMessage& message) const override;

  int32_t fieldType() const { return fieldType_; }
  int32_t matchType() const { return matchType_; }
  uint64_t counterId() const;
  // The level's byte, stored signed as in files; evaluate reads it, and the
  // message's level, as 0-255.
  int8_t level() const;
  std::string pattern() const;
  // Copies the test, keeping this node's place and on state.
  void assignFrom(const Filter& other);

 private:
  bool isCounterField() const { return fieldType_ == kBaseCounter || fieldType_ == kResultCounter; }
  bool isTextField() const { return fieldType_ >= kLogTitle && fieldType_ <= kDescription; }

  int32_t fieldType_;
  int32_t matchType_;
  int8_t level_ = 0;
  uint64_t counterId_ = 0;
  std::string pattern_;
};

class Gate final : public FilterNode {
 public:
  enum GateType { kAnd = 1, kOr = 2, kNot = 3 };

  // A new gate is off and has no children.
  explicit Gate(int32_t gateType);
  ~Gate() override;

  bool canSwitchOn() const override;
  bool switchOn() override;
  // Reads a gate body: the on flag, the child count, the child records.
  // Nodes read before a failure stay in the tree.
  int load(TextReader& in) override;
  int save(std::FILE* out) const override;
  int kind() const override { return kGateKind; }
  bool evaluate(const AlertMessage& message) const override;

  // The body only (on flag, child count, children): all a root gate writes.
  int saveBody(std::FILE* out) const;

  int32_t gateType() const { return gateType_; }
  int childCount() const { return static_cast<int>(children_.size()); }
  FilterNode* childAt(int index) const;
  int indexOf(const FilterNode* node) const;
  // Takes ownership and returns 0; -1 (the node stays the caller's) when
  // this is a NOT gate that already has its child.
  int addChild(FilterNode* node);
  // Destroys `node` when it is a child of this gate.
  void removeChild(FilterNode* node);
  // Destroys every child, then switches the gate off.
  void clear();
  bool containsFilter() const;

 private:
  // A file nests gates no deeper than this; deeper ones fail to load
  // rather than exhaust the stack.
  static constexpr int kMaxLoadDepth = 1000;

  int loadBody(TextReader& in, int depth);
  void switchOffChildren() override;
  bool anyChildOn() const;
  friend class FilterNode;

  int32_t gateType_;
  std::vector<std::unique_ptr<FilterNode>> children_;
};

}  // namespace kst

#endif  // KESTRANE_ALERTER_FILTER_TREE_H_
