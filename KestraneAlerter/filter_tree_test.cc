#include "KestraneAlerter/filter_tree.h"

#include <gtest/gtest.h>

#include "KestraneAlerter/alerter_testing.h"
#include "KestraneAlerter/text_file.h"

namespace kst {
namespace {

// A leaf with a fixed answer that counts how often it was asked.
class FixedNode final : public FilterNode {
 public:
  explicit FixedNode(bool answer) : FilterNode(true), answer_(answer) {}
  bool canSwitchOn() const override { return true; }
  bool switchOn() override { return on_ = true; }
  int load(TextReader&) override { return 0; }
  int save(std::FILE*) const override { return 0; }
  int kind() const override { return kFilterKind; }
  bool evaluate(const AlertMessage&) const override {
    ++calls;
    return answer_;
  }
  mutable int calls = 0;

 private:
  bool answer_;
};

AlertMessage Sample() {
  AlertMessage m = Message(51, "Disk log", "Disk rules", "free space falls");
  m.counterParts.push_back({{10, 11}, {20}});
  return m;
}

TEST(FilterTest, EvaluatesEachFieldAndMatch) {
  const AlertMessage m = Sample();
  struct Case {
    const char* what;
    Filter filter;
    bool expected;
  } cases[] = {
      {"level more, 51 > 50", Filter(3, 4, int64_t{50}), true},
      {"level more, 51 > 51", Filter(3, 4, int64_t{51}), false},
      {"level less", Filter(3, 5, int64_t{52}), true},
      {"level less, 51 < 51", Filter(3, 5, int64_t{51}), false},
      {"level equal", Filter(3, 2, int64_t{51}), true},
      {"level equal by low 8 bits", Filter(3, 2, int64_t{256 + 51}), true},
      {"level more, 51 > 200", Filter(3, 4, int64_t{200}), false},
      {"level less, 51 < 200", Filter(3, 5, int64_t{200}), true},
      {"level more, 51 > 127", Filter(3, 4, int64_t{127}), false},
      {"level more, 51 > 0", Filter(3, 4, int64_t{0}), true},
      {"level contains tests nothing", Filter(3, 1, int64_t{0}), true},
      {"base id present", Filter(1, 2, int64_t{11}), true},
      {"base id absent", Filter(1, 2, int64_t{20}), false},
      {"result id present", Filter(2, 2, int64_t{20}), true},
      {"counter contains passes all", Filter(1, 1, int64_t{999}), true},
      {"log contains", Filter(4, 1, std::string("sk l")), true},
      {"log equal", Filter(4, 2, std::string("Disk log")), true},
      {"log equal is exact", Filter(4, 2, std::string("disk log")), false},
      {"analyzer contains", Filter(5, 1, std::string("rules")), true},
      {"description contains missing", Filter(6, 1, std::string("CPU")), false},
      {"empty pattern occurs everywhere", Filter(6, 1, std::string()), true},
      {"text field with match more", Filter(6, 4, std::string("x")), true},
      {"unknown field", Filter(9, 2, int64_t{1}), true},
  };
  for (const Case& c : cases) EXPECT_EQ(c.filter.evaluate(m), c.expected) << c.what;

  AlertMessage noParts = Message(51, "l", "a", "d");
  EXPECT_FALSE(Filter(1, 2, int64_t{0}).evaluate(noParts));
  Filter off(4, 2, std::string("nothing"));
  off.switchOff();
  EXPECT_TRUE(off.evaluate(m));
}

TEST(FilterTest, ValuesBelongToTheirFieldTypes) {
  Filter counter(1, 2, int64_t{-5});
  EXPECT_EQ(counter.counterId(), static_cast<uint64_t>(-5));
  EXPECT_EQ(counter.level(), 0);
  Filter contains(1, 1, int64_t{7});
  EXPECT_EQ(contains.counterId(), 0u);
  Filter text(3, 2, std::string("abc"));
  EXPECT_EQ(text.pattern(), "");
  Filter level(3, 2, int64_t{-3});
  EXPECT_EQ(level.level(), -3);

  Gate gate(Gate::kAnd);
  EXPECT_FALSE(gate.switchOn()) << "nothing to filter with";
  gate.addChild(new Filter(6, 1, std::string("y")));
  ASSERT_TRUE(gate.switchOn());
  Filter* child = static_cast<Filter*>(gate.childAt(0));
  child->assignFrom(level);
  EXPECT_EQ(child->fieldType(), 3);
  EXPECT_EQ(child->level(), -3);
  EXPECT_EQ(child->parent(), &gate);
  EXPECT_TRUE(child->isOn());
}

// A gate that is on holding `nodes`: a gate switches on only over a Filter,
// so one is added to switch it on and taken out again.
std::unique_ptr<Gate> OnGate(int type, std::vector<FilterNode*> nodes) {
  auto gate = std::make_unique<Gate>(type);
  for (FilterNode* node : nodes) gate->addChild(node);
  auto helper = std::make_unique<Filter>(6, 1, std::string());
  bool added = gate->addChild(helper.get()) == 0;  // a full NOT gate refuses it
  EXPECT_TRUE(gate->switchOn());
  if (added) gate->removeChild(helper.release());
  return gate;
}

TEST(GateTest, CombinesChildrenAndStopsEarly) {
  const AlertMessage m = Sample();
  EXPECT_TRUE(Gate(Gate::kAnd).evaluate(m)) << "a new root lets everything pass";
  TextReader onWithoutChildren("1\n0\n");
  Gate empty(Gate::kOr);
  ASSERT_EQ(empty.load(onWithoutChildren), 0);
  ASSERT_TRUE(empty.isOn());
  EXPECT_TRUE(empty.evaluate(m)) << "a gate that is on without children passes";

  struct Case {
    int type;
    bool first, second;
    bool expected;
    int secondCalls;
  } cases[] = {
      {Gate::kAnd, false, true, false, 0}, {Gate::kAnd, true, false, false, 1},
      {Gate::kAnd, true, true, true, 1},   {Gate::kOr, true, false, true, 0},
      {Gate::kOr, false, false, false, 1}, {Gate::kOr, false, true, true, 1},
  };
  for (const Case& c : cases) {
    auto* second = new FixedNode(c.second);
    auto gate = OnGate(c.type, {new FixedNode(c.first), second});
    ASSERT_TRUE(gate->isOn());
    EXPECT_EQ(gate->evaluate(m), c.expected) << c.type << c.first << c.second;
    EXPECT_EQ(second->calls, c.secondCalls) << c.type << c.first << c.second;
  }

  // NOT negates its one child and takes no second.
  auto notGate = OnGate(Gate::kNot, {new FixedNode(true)});
  EXPECT_FALSE(notGate->evaluate(m));
  auto* extra = new Filter(4, 1, std::string());
  EXPECT_EQ(notGate->addChild(extra), -1);
  delete extra;
}

TEST(SwitchingTest, SpreadsDownAndUp) {
  auto* leaf = new Filter(4, 1, std::string("a"));
  auto* inner = new Gate(Gate::kOr);
  inner->addChild(leaf);
  auto* sibling = new Filter(5, 1, std::string("b"));
  Gate root(Gate::kAnd);
  root.addChild(inner);
  root.addChild(sibling);
  EXPECT_FALSE(leaf->isOn()) << "a node added to an off gate is switched off";
  EXPECT_FALSE(leaf->switchOn()) << "its parent is off";

  ASSERT_TRUE(root.switchOn());
  EXPECT_TRUE(inner->isOn());
  EXPECT_TRUE(leaf->isOn());
  EXPECT_TRUE(sibling->isOn());

  // Last child on of inner goes off: inner goes off; root still has sibling.
  leaf->switchOff();
  EXPECT_FALSE(inner->isOn());
  EXPECT_TRUE(root.isOn());
  sibling->switchOff();
  EXPECT_FALSE(root.isOn());

  // Switching the root on again switches the whole subtree on.
  ASSERT_TRUE(root.switchOn());
  EXPECT_TRUE(inner->isOn() && leaf->isOn() && sibling->isOn());
  root.switchOff();
  EXPECT_FALSE(inner->isOn() || leaf->isOn() || sibling->isOn());

  Gate empty(Gate::kAnd);
  empty.addChild(new Gate(Gate::kOr));
  EXPECT_FALSE(empty.switchOn()) << "no Filter anywhere below";
  EXPECT_FALSE(empty.isOn());
  EXPECT_TRUE(empty.containsFilter() == false);

  root.clear();
  EXPECT_EQ(root.childCount(), 0);
  EXPECT_FALSE(root.isOn());
}

TEST(GateTest, ChildAccess) {
  Gate gate(Gate::kAnd);
  auto* a = new Filter(4, 1, std::string("a"));
  auto* b = new Filter(4, 1, std::string("b"));
  gate.addChild(a);
  gate.addChild(b);
  EXPECT_EQ(gate.childCount(), 2);
  EXPECT_EQ(gate.childAt(1), b);
  EXPECT_EQ(gate.childAt(2), nullptr);
  EXPECT_EQ(gate.childAt(-1), nullptr);
  EXPECT_EQ(gate.indexOf(a), 0);
  Filter stranger(4, 1, std::string("c"));
  EXPECT_EQ(gate.indexOf(&stranger), -1);
  gate.removeChild(&stranger);
  EXPECT_EQ(gate.childCount(), 2);
  gate.removeChild(a);
  EXPECT_EQ(gate.childCount(), 1);
  EXPECT_EQ(gate.indexOf(b), 0);
}

TEST(TreeFileTest, RootWithOneFilterIsSixLines) {
  Gate root(Gate::kAnd);
  root.addChild(new Filter(4, 1, std::string("Error")));
  ASSERT_TRUE(root.switchOn());
  EXPECT_EQ(WrittenText([&](std::FILE* f) { EXPECT_EQ(root.saveBody(f), 0); }),
            "1\n1\n2\n4 1\n1\nError\n");
}

TEST(TreeFileTest, SavesAndLoadsEveryKindOfNode) {
  Gate root(Gate::kAnd);
  auto* orGate = new Gate(Gate::kOr);
  root.addChild(orGate);
  orGate->addChild(new Filter(1, 2, int64_t{-7}));
  orGate->addChild(new Filter(3, 5, int64_t{-20}));
  auto* notGate = new Gate(Gate::kNot);
  orGate->addChild(notGate);
  notGate->addChild(new Filter(6, 2, std::string("  spaced pattern ")));
  root.addChild(new Filter(5, 1, std::string("Disk")));
  ASSERT_TRUE(root.switchOn());
  static_cast<Filter*>(root.childAt(1))->switchOff();
  ASSERT_TRUE(root.isOn());

  std::string text = WrittenText([&](std::FILE* f) { EXPECT_EQ(root.saveBody(f), 0); });
  EXPECT_EQ(text,
            "1\n2\n1\n2\n1\n3\n2\n1 2\n1\n-7\n2\n3 5\n1\n-20\n1\n3\n1\n1\n2\n6 2\n1\n"
            "  spaced pattern \n2\n5 1\n0\nDisk\n");

  // CRLF line ends read the same.
  std::string crlf;
  for (char c : text) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  for (const std::string& file : {text, crlf}) {
    TextReader in(file);
    Gate loaded(Gate::kAnd);
    ASSERT_EQ(loaded.load(in), 0);
    EXPECT_TRUE(in.AtEnd());
    EXPECT_TRUE(loaded.isOn());
    ASSERT_EQ(loaded.childCount(), 2);
    auto* g = static_cast<Gate*>(loaded.childAt(0));
    ASSERT_EQ(g->kind(), FilterNode::kGateKind);
    EXPECT_EQ(g->gateType(), Gate::kOr);
    ASSERT_EQ(g->childCount(), 3);
    EXPECT_EQ(static_cast<Filter*>(g->childAt(0))->counterId(), static_cast<uint64_t>(-7));
    EXPECT_EQ(static_cast<Filter*>(g->childAt(1))->level(), -20);
    auto* n = static_cast<Gate*>(g->childAt(2));
    // The scan before a pattern skips its leading blanks.
    EXPECT_EQ(static_cast<Filter*>(n->childAt(0))->pattern(), "spaced pattern ");
    EXPECT_TRUE(n->isOn());
    EXPECT_FALSE(loaded.childAt(1)->isOn());
    EXPECT_EQ(static_cast<Filter*>(loaded.childAt(1))->pattern(), "Disk");
  }
}

// A level above 127 stays in the file as its signed byte, as older files
// hold it, and is still compared as the level that was typed.
TEST(TreeFileTest, LevelAbove127KeepsItsSignedByte) {
  const std::string text = "1\n2\n2\n3 4\n1\n-56\n2\n3 5\n1\n-56\n";
  TextReader in(text);
  Gate root(Gate::kOr);
  ASSERT_EQ(root.load(in), 0);
  EXPECT_FALSE(root.childAt(0)->evaluate(Sample())) << "51 is not more than 200";
  EXPECT_TRUE(root.childAt(1)->evaluate(Sample())) << "51 is less than 200";
  EXPECT_TRUE(root.childAt(0)->evaluate(Message(-55, "l", "a", "d"))) << "201 is more than 200";
  EXPECT_EQ(WrittenText([&](std::FILE* f) { EXPECT_EQ(root.saveBody(f), 0); }), text);
  Gate typed(Gate::kAnd);
  typed.addChild(new Filter(3, 4, int64_t{200}));
  ASSERT_TRUE(typed.switchOn());
  EXPECT_EQ(WrittenText([&](std::FILE* f) { EXPECT_EQ(typed.saveBody(f), 0); }), "1\n1\n2\n3 4\n1\n-56\n");
}

TEST(TreeFileTest, FilterOfAnUnknownFieldSavesWhatLoadReads) {
  // Hand-made files may hold field types that test nothing; saving must not
  // shift the records behind them.
  const std::string text = "1\n2\n2\n7 2\n1\n0\n2\n4 1\n1\nError\n";
  TextReader in(text);
  Gate root(Gate::kAnd);
  ASSERT_EQ(root.load(in), 0);
  EXPECT_EQ(WrittenText([&](std::FILE* f) { EXPECT_EQ(root.saveBody(f), 0); }), text);
}

// Each node's on state, depth first.
void CollectStates(const FilterNode& node, std::vector<bool>* states) {
  states->push_back(node.isOn());
  if (node.kind() != FilterNode::kGateKind) return;
  const auto& gate = static_cast<const Gate&>(node);
  for (int i = 0; i < gate.childCount(); ++i) CollectStates(*gate.childAt(i), states);
}

TEST(TreeFileTest, EveryNodeComesBackOnOrOffAsSaved) {
  // The first filter off and later ones on, in the root and in a gate;
  // a gate off with its one filter.
  Gate root(Gate::kAnd);
  auto* first = new Filter(4, 1, std::string("a"));
  root.addChild(first);
  root.addChild(new Filter(4, 1, std::string("b")));
  auto* orGate = new Gate(Gate::kOr);
  root.addChild(orGate);
  auto* third = new Filter(5, 1, std::string("c"));
  orGate->addChild(third);
  orGate->addChild(new Filter(5, 1, std::string("d")));
  auto* offGate = new Gate(Gate::kAnd);
  root.addChild(offGate);
  auto* last = new Filter(6, 1, std::string("e"));
  offGate->addChild(last);
  ASSERT_TRUE(root.switchOn());
  first->switchOff();
  third->switchOff();
  last->switchOff();
  std::vector<bool> saved;
  CollectStates(root, &saved);
  ASSERT_EQ(saved, (std::vector<bool>{true, false, true, true, false, true, false, false}));

  std::string text = WrittenText([&](std::FILE* f) { EXPECT_EQ(root.saveBody(f), 0); });
  TextReader in(text);
  Gate loaded(Gate::kAnd);
  ASSERT_EQ(loaded.load(in), 0);
  std::vector<bool> states;
  CollectStates(loaded, &states);
  EXPECT_EQ(states, saved);
  AlertMessage m = Message(1, "x", "c", "e");
  EXPECT_FALSE(loaded.evaluate(m)) << "the filter on b still tests";

  // Hand-made files: a filter marked on under a gate that is off stays off;
  // a flag other than 0 and 1 leaves the filter as its gate has it.
  struct Case {
    const char* text;
    std::vector<bool> states;
  } cases[] = {
      {"0\n1\n2\n4 1\n1\nA\n", {false, false}},
      {"1\n2\n2\n4 1\n0\nA\n2\n4 1\n7\nB\n", {true, false, true}},
      {"0\n1\n2\n4 1\n7\nB\n", {false, false}},
      {"2\n1\n2\n4 1\n1\nA\n", {false, false}},
  };
  for (const Case& c : cases) {
    TextReader hand(c.text);
    Gate gate(Gate::kAnd);
    ASSERT_EQ(gate.load(hand), 0) << c.text;
    std::vector<bool> got;
    CollectStates(gate, &got);
    EXPECT_EQ(got, c.states) << c.text;
  }
}

TEST(TreeFileTest, PatternsThatWouldNotReadBackKeepTheirLine) {
  // A blank-only pattern, and a text field with a match kind that tests no
  // text: each keeps its one line, so the records behind them load.
  Gate root(Gate::kAnd);
  root.addChild(new Filter(4, 1, std::string("  \t ")));
  root.addChild(new Filter(5, 4, std::string("ignored")));
  root.addChild(new Filter(6, 2, std::string("after")));
  ASSERT_TRUE(root.switchOn());
  std::string text = WrittenText([&](std::FILE* f) { EXPECT_EQ(root.saveBody(f), 0); });
  EXPECT_EQ(text, "1\n3\n2\n4 1\n1\n-\n2\n5 4\n1\n-\n2\n6 2\n1\nafter\n");
  TextReader in(text + "0\n");
  Gate loaded(Gate::kAnd);
  ASSERT_EQ(loaded.load(in), 0);
  ASSERT_EQ(loaded.childCount(), 3);
  auto* blank = static_cast<Filter*>(loaded.childAt(0));
  EXPECT_EQ(blank->pattern(), "-");
  auto* noText = static_cast<Filter*>(loaded.childAt(1));
  EXPECT_EQ(noText->matchType(), 4);
  EXPECT_EQ(noText->pattern(), "");
  EXPECT_EQ(static_cast<Filter*>(loaded.childAt(2))->pattern(), "after");
  int32_t transporters;
  EXPECT_TRUE(in.ScanInt(&transporters)) << "the line after the tree is where it belongs";
}

TEST(TreeFileTest, LoadFailuresKeepWhatWasRead) {
  struct Case {
    const char* what;
    const char* text;
    int children;
  } cases[] = {
      {"empty", "", 0},
      {"no child count", "1\n", 0},
      {"count larger than the records", "1\n3\n2\n4 1\n1\nA\n2\n5 1\n1\nB\n", 2},
      {"letters where a number belongs", "1\n1\n2\nx 1\n1\nA\n", 0},
      {"missing numeric value", "1\n1\n2\n3 4\n1\n", 0},
      {"broken child gate", "1\n2\n2\n4 1\n1\nA\n1\n1\n1\n5\n", 1},
  };
  for (const Case& c : cases) {
    TextReader in(c.text);
    Gate root(Gate::kAnd);
    EXPECT_EQ(root.load(in), -1) << c.what;
    EXPECT_EQ(root.childCount(), c.children) << c.what;
  }
}

TEST(TreeFileTest, SecondChildOfNotIsDroppedAndDepthIsBounded) {
  TextReader in("1\n1\n1\n3\n1\n2\n2\n4 1\n1\nA\n2\n4 1\n1\nB\n");
  Gate root(Gate::kAnd);
  ASSERT_EQ(root.load(in), 0);
  auto* notGate = static_cast<Gate*>(root.childAt(0));
  ASSERT_EQ(notGate->childCount(), 1);
  EXPECT_EQ(static_cast<Filter*>(notGate->childAt(0))->pattern(), "A");

  std::string deep;
  for (int i = 0; i < 5000; ++i) deep += "1\n1\n1\n1\n";
  TextReader deepIn(deep);
  Gate deepRoot(Gate::kAnd);
  EXPECT_EQ(deepRoot.load(deepIn), -1);
}

}  // namespace
}  // namespace kst
