#include "KestraneAlerter/dialogs/filter_settings_pane.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "KestraneAlerter/dialogs/filter_dialog.h"
#include "KestraneAlerter/dialogs/pane_testing.h"
#include "KestraneAlerter/filter_tree.h"
#include "KestraneAlerter/profile_set.h"
#include "StatSubsystem/common/config_tree.h"
#include "StatSubsystem/common/config_tree_keys.h"
#include "StatSubsystem/common/multi_string.h"
#include "StatSubsystem/common/product_key.h"
#include "platform/registry.h"

namespace kst {
namespace {

constexpr char kBaseCounter[] = "Performance counter in base part";

class FilterSettingsPaneTest : public PaneTest {
 protected:
  void SetUp() override {
    PaneTest::SetUp();
    RegistryKey logs;
    ASSERT_EQ(RegistryKey::Create(LogsKeyPath(), &logs), kErrorSuccess);
    ASSERT_TRUE(WriteMultiString(logs, "logsTitles", {}));
    int result = 0;
    AddLog("Disk", {"Disk::Free", "Disk::Queue"}, &result);
    ASSERT_GT(result, 0);
    AddLog("Cpu", {"Cpu::Load"}, &result);
    ASSERT_GT(result, 0);
    RegisterCounter("Disk::Free", 11);
    RegisterCounter("Cpu::Load", 0x123456789abLL);
    ASSERT_EQ(set_.addProfile("Ops"), 0);
  }
  static void RegisterCounter(const std::string& title, int64_t id) {
    unsigned char bytes[8];
    for (int i = 0; i < 8; ++i) bytes[i] = static_cast<unsigned char>(static_cast<uint64_t>(id) >> (8 * i));
    RegistryKey byTitle, byId;
    ASSERT_EQ(RegistryKey::Create(CounterByTitleKeyPath(title), &byTitle), kErrorSuccess);
    ASSERT_EQ(byTitle.SetValue("id", kRegBinary, bytes, 8), kErrorSuccess);
    ASSERT_EQ(RegistryKey::Create(CounterByIdKeyPath(id), &byId), kErrorSuccess);
    ASSERT_EQ(byId.SetValue("title", kRegSz, title.c_str(), static_cast<uint32_t>(title.size() + 1)), kErrorSuccess);
  }
  Gate& Root() { return set_.findProfile("Ops")->rootGate; }

  ui::ComboBox& Combo(int id) { return *pane_.ChildAs<ui::ComboBox>(id); }
  ui::Edit& Value() { return *pane_.ChildAs<ui::Edit>(32839); }
  std::string Selected(int id) { return Combo(id).ItemText(Combo(id).CurSel()); }
  std::vector<std::string> Items(int id) {
    std::vector<std::string> items;
    for (int i = 0; i < Combo(id).count(); ++i) items.push_back(Combo(id).ItemText(i));
    return items;
  }
  // The static children in creation order: heading, field, match, value,
  // log, counter and description labels.
  ui::Window& Label(size_t n) {
    std::vector<ui::Window*> labels;
    for (ui::Window* child : pane_.children()) {
      if (child->kind() == ui::Kind::kStatic) labels.push_back(child);
    }
    return *labels.at(n);
  }
  ui::Window& Description() { return Label(6); }
  bool Choose(int combo, const std::string& item) {
    int index = Combo(combo).FindStringExact(-1, item);
    return index >= 0 && user().Select(Combo(combo), index);
  }
  bool CounterChoiceShown() {
    return Combo(32837).IsVisible() && Combo(32838).IsVisible() && !Value().IsVisible();
  }

  ProfileSet set_;
  FilterSettingsPane pane_;
};

TEST_F(FilterSettingsPaneTest, NewFilterStartsWithLogTitleSubstring) {
  ASSERT_TRUE(pane_.createForNewFilter({0, 0, 300, 270}, &host_));
  EXPECT_EQ(pane_.id(), kPaneId);
  ASSERT_EQ(pane_.children().size(), 12u);
  EXPECT_EQ(Selected(32835), "Log title");
  EXPECT_EQ(Items(32835), (std::vector<std::string>{"Log title", "Analyzer title", "Warning level",
                                                    "Message desicription", kBaseCounter,
                                                    "Performance counter in result part"}));
  EXPECT_EQ(Items(32836), (std::vector<std::string>{"Contain substring", "Equal (==)"}));
  EXPECT_EQ(Selected(32836), "Contain substring");
  EXPECT_EQ(Value().Text(), "");
  EXPECT_TRUE(Value().IsVisible());
  EXPECT_FALSE(Combo(32837).IsVisible());
  EXPECT_EQ(Description().Text(), "Filter apply messages that contain this pattern in the log title as substring.");
  EXPECT_EQ(Items(32837), (std::vector<std::string>{"Disk", "Cpu"}));
  EXPECT_EQ(Combo(32838).count(), 0);  // choosing a log in code fills no counters
  // 300 by 270 is narrow: labels above their boxes.
  EXPECT_EQ(Combo(32835).rect(), (ui::Rect{30, 50, 270, 250}));
  EXPECT_TRUE(Label(1).HasStyle(ui::kAlignCentre));
}

TEST_F(FilterSettingsPaneTest, WidePaneAreaPutsLabelsBesideTheBoxes) {
  Filter filter(Filter::kWarningLevel, Filter::kMore, int64_t{200});
  ASSERT_TRUE(pane_.createControls(&filter, "Ops", {180, 200, 600, 500}, &host_));
  EXPECT_EQ(Combo(32835).rect(), (ui::Rect{170, 25, 410, 225}));
  EXPECT_FALSE(Label(1).HasStyle(ui::kAlignCentre));
  EXPECT_EQ(Selected(32835), "Warning level");
  EXPECT_EQ(Items(32836), (std::vector<std::string>{"Equal (==)", "More (>)", "Less (<)"}));
  EXPECT_EQ(Selected(32836), "More (>)");
  EXPECT_EQ(Value().Text(), "200");
  EXPECT_EQ(Description().Text(), "Filter apply message if the message warning level more than the pattern.");
}

TEST_F(FilterSettingsPaneTest, SwitchingFieldTypes) {
  ASSERT_TRUE(pane_.createForNewFilter({0, 0, 420, 300}, &host_));
  ASSERT_TRUE(user().Type(Value(), "disk"));
  ASSERT_TRUE(Choose(32835, kBaseCounter));
  EXPECT_TRUE(CounterChoiceShown());
  EXPECT_EQ(Items(32836), (std::vector<std::string>{"Equal (==)"}));
  EXPECT_EQ(Description().Text(), "Filter apply messages that contain this counter in the base counters part.");
  EXPECT_GE(host_.redraw_count(), 1);
  // Twice in a row: the log list is filled anew, not repeated.
  ASSERT_TRUE(Choose(32835, "Performance counter in result part"));
  EXPECT_EQ(Items(32837), (std::vector<std::string>{"Disk", "Cpu"}));
  ASSERT_TRUE(user().Select(Combo(32837), 0));
  EXPECT_EQ(Items(32838), (std::vector<std::string>{"Disk::Free", "Disk::Queue"}));
  ASSERT_TRUE(user().Select(Combo(32837), 1));
  EXPECT_EQ(Items(32838), (std::vector<std::string>{"Cpu::Load"}));
  EXPECT_EQ(Combo(32838).Text(), "Cpu::Load");

  ASSERT_TRUE(Choose(32835, "Log title"));
  EXPECT_FALSE(CounterChoiceShown());
  EXPECT_TRUE(Value().IsVisible());
  EXPECT_EQ(Value().Text(), "");
  EXPECT_EQ(Selected(32836), "Contain substring");
  ASSERT_TRUE(Choose(32836, "Equal (==)"));
  EXPECT_EQ(Description().Text(), "Filter apply message if the log title equals to the pattern.");
  ASSERT_TRUE(Choose(32835, "Warning level"));
  EXPECT_EQ(Selected(32836), "Equal (==)");
  EXPECT_EQ(Combo(32836).FindStringExact(-1, "Contain substring"), -1);
}

TEST_F(FilterSettingsPaneTest, EveryPairHasItsDescriptionAndLabels) {
  ASSERT_TRUE(pane_.createForNewFilter({0, 0, 300, 270}, &host_));
  struct Case {
    const char* field;
    const char* match;
    const char* description;
  } cases[] = {
      {kBaseCounter, "Equal (==)", "Filter apply messages that contain this counter in the base counters part."},
      {"Performance counter in result part", "Equal (==)",
       "Filter apply messages that contain this counter in the result counters part."},
      {"Log title", "Contain substring",
       "Filter apply messages that contain this pattern in the log title as substring."},
      {"Log title", "Equal (==)", "Filter apply message if the log title equals to the pattern."},
      {"Analyzer title", "Contain substring",
       "Filter apply messages that contain this pattern in the analyzer title as substring."},
      {"Analyzer title", "Equal (==)", "Filter apply message if the analyzer title equals to the pattern."},
      {"Message desicription", "Contain substring",
       "Filter apply messages that contain this pattern in the message description as substring."},
      {"Message desicription", "Equal (==)", "Filter apply message if the message description equals to the pattern."},
      {"Warning level", "Equal (==)", "Filter apply message if the message warning level equals to the pattern."},
      {"Warning level", "More (>)", "Filter apply message if the message warning level more than the pattern."},
      {"Warning level", "Less (<)", "Filter apply message if the message warning level less than the pattern."},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(Choose(32835, c.field)) << c.field;
    ASSERT_TRUE(Choose(32836, c.match)) << c.field << " " << c.match;
    EXPECT_EQ(Description().Text(), c.description) << c.field << " " << c.match;
  }
  std::vector<std::string> labels;
  for (size_t n = 0; n < 6; ++n) labels.push_back(Label(n).Text());
  EXPECT_EQ(labels, (std::vector<std::string>{"Filter Settings", "Message information to filtering:",
                                              "Matching method:", "Matching value:", "Log:", "Counter:"}));
  // A field list without a choice names no field type.
  Combo(32835).SetCurSel(-1);
  ProfileSet unused;
  EXPECT_FALSE(pane_.validate(unused));
  EXPECT_EQ(OneMessage(), "Invalid filter type");
}

TEST_F(FilterSettingsPaneTest, ValidateFaults) {
  ASSERT_TRUE(pane_.createForNewFilter({0, 0, 420, 300}, &host_));
  struct Case {
    const char* field;
    const char* value;
    const char* message;
  } cases[] = {
      {"Log title", "", "You must input matching value."},
      {"Log title", " ", "Matching value must contain not only blanks."},
      {"Analyzer title", " \t  ", "Matching value must contain not only blanks."},
      {"Message desicription", " x", "Matching value must not begin with blanks."},
      {"Log title", "\tx", "Matching value must not begin with blanks."},
      {"Message desicription", "x y ", ""},
      {"Analyzer title", "Discovery", ""},
      {"Message desicription", "x", ""},
      {"Warning level", "255", ""},
      {"Warning level", "  12 units", ""},
      {"Warning level", "256", "Warning number must be less 256 and not less 0."},
      {"Warning level", "-1", "Warning number must be less 256 and not less 0."},
      {"Warning level", "4294967296", "Warning number must be less 256 and not less 0."},  // never wraps to 0
      {"Warning level", "high", "Warning number must be less 256 and not less 0."},
      {"Warning level", "  ", "Warning number must be less 256 and not less 0."},
  };
  ProfileSet unused;
  for (const Case& c : cases) {
    ASSERT_TRUE(Choose(32835, c.field));
    Value().SetText(c.value);
    EXPECT_EQ(pane_.validate(unused), *c.message == '\0') << c.field << " " << c.value;
    EXPECT_EQ(OneMessage(), c.message) << c.field << " " << c.value;
  }
  ASSERT_TRUE(Choose(32835, "Log title"));
  Value().SetText(std::string(255, 'v'));
  EXPECT_TRUE(pane_.validate(unused));
  Value().SetText(std::string(256, 'v'));
  EXPECT_FALSE(pane_.validate(unused));
  EXPECT_EQ(OneMessage(), "Matching value have to be less then 256 symbols.");

  ASSERT_TRUE(Choose(32835, kBaseCounter));
  Combo(32838).SetText("");
  EXPECT_FALSE(pane_.validate(unused));
  EXPECT_EQ(OneMessage(), "You must input counter name.");
  ASSERT_TRUE(user().Type(Combo(32838), "Disk::Nothing"));
  EXPECT_FALSE(pane_.validate(unused));
  EXPECT_EQ(OneMessage(), "This counter doesn't exist.");
  ASSERT_TRUE(user().Type(Combo(32838), std::string(256, 'c')));
  EXPECT_FALSE(pane_.validate(unused));
  EXPECT_EQ(OneMessage(), "Counter name have to be less then 256 symbols.");
  ASSERT_TRUE(user().Type(Combo(32838), "Disk::Free"));
  EXPECT_TRUE(pane_.validate(unused));

  // A pair the list never offers, set behind the user's back.
  Combo(32836).AddString("Contain substring");
  Combo(32836).SetCurSel(1);
  EXPECT_FALSE(pane_.validate(unused));
  EXPECT_EQ(OneMessage(), "Invalid match type");
}

TEST_F(FilterSettingsPaneTest, ApplyWritesTheFilterFoundByItsPosition) {
  auto* gate = new Gate(Gate::kOr);
  ASSERT_EQ(Root().addChild(new Filter(Filter::kLogTitle, Filter::kEqual, std::string("Disk"))), 0);
  ASSERT_EQ(Root().addChild(gate), 0);
  ASSERT_EQ(gate->addChild(new Filter(Filter::kAnalyzerTitle, Filter::kContains, std::string("a"))), 0);
  auto* target = new Filter(Filter::kResultCounter, Filter::kEqual, int64_t{0x123456789abLL});
  ASSERT_EQ(gate->addChild(target), 0);
  const bool wasOn = target->isOn();

  ASSERT_TRUE(pane_.createControls(static_cast<FilterNode*>(target), "Ops", {180, 200, 600, 500}, &host_));
  EXPECT_EQ(pane_.path(), (std::vector<int>{1, 1}));
  EXPECT_EQ(Selected(32835), "Performance counter in result part");
  EXPECT_EQ(Combo(32838).Text(), "Cpu::Load");  // the title read back from the id
  EXPECT_TRUE(CounterChoiceShown());

  ASSERT_TRUE(Choose(32835, "Warning level"));
  ASSERT_TRUE(Choose(32836, "Less (<)"));
  ASSERT_TRUE(user().Type(Value(), "40 and more"));
  EXPECT_EQ(pane_.apply(set_), 1);
  EXPECT_EQ(target->fieldType(), Filter::kWarningLevel);
  EXPECT_EQ(target->matchType(), Filter::kLess);
  EXPECT_EQ(target->level(), 40);
  EXPECT_EQ(target->isOn(), wasOn);
  EXPECT_EQ(gate->childAt(1), target);

  ASSERT_TRUE(Choose(32835, kBaseCounter));
  ASSERT_TRUE(user().Select(Combo(32837), 0));
  EXPECT_EQ(pane_.apply(set_), 1);
  EXPECT_EQ(target->counterId(), 11u);

  Value().SetText("");
  ASSERT_TRUE(Choose(32835, "Message desicription"));
  EXPECT_EQ(pane_.apply(set_), -1);  // empty value: nothing written
  EXPECT_EQ(OneMessage(), "You must input matching value.");
  EXPECT_EQ(target->fieldType(), Filter::kBaseCounter);

  // The tree changed under the pane: no message, nothing written.
  Value().SetText("x");
  gate->removeChild(target);
  EXPECT_EQ(pane_.apply(set_), -1);
  EXPECT_TRUE(TakeMessages().empty());
  ASSERT_EQ(set_.removeProfile("Ops"), 0);
  EXPECT_EQ(pane_.apply(set_), -1);
  EXPECT_TRUE(pane_.DestroyWindow());
  EXPECT_TRUE(pane_.children().empty());
}

TEST_F(FilterSettingsPaneTest, CounterWithoutTitleShowsAnEmptyChoice) {
  Filter filter(Filter::kBaseCounter, Filter::kEqual, int64_t{999});
  ASSERT_TRUE(pane_.createControls(&filter, "Ops", {180, 200, 600, 500}, &host_));
  EXPECT_EQ(Combo(32838).Text(), "");
  EXPECT_EQ(pane_.writeFilter(filter), -1);
  EXPECT_EQ(OneMessage(), "You must input counter name.");
}

class FilterDialogTest : public FilterSettingsPaneTest {};

TEST_F(FilterDialogTest, OkKeepsTheDialogOpenUntilTheEntryIsValid) {
  bool narrow = false;
  ui::testing::OnNextModal([&](ui::Dialog& d) {
    auto& dialog = static_cast<CFilterSettingsDlg&>(d);
    EXPECT_EQ(dialog.rect(), (ui::Rect{300, 200, 600, 470}));
    EXPECT_EQ(dialog.Child(ui::kIdOk)->rect(), (ui::Rect{60, 210, 135, 235}));
    EXPECT_EQ(dialog.Child(ui::kIdCancel)->rect(), (ui::Rect{165, 210, 240, 235}));
    EXPECT_NE(dialog.icon(true), nullptr);
    FilterSettingsPane& pane = dialog.pane();
    narrow = pane.ChildAs<ui::ComboBox>(32835)->rect() == ui::Rect{30, 50, 270, 250};
    user().Click(*dialog.Child(ui::kIdOk));  // empty value: a message, still open
    EXPECT_TRUE(dialog.running());
    user().Type(*pane.ChildAs<ui::Edit>(32839), "Disk");
    user().Click(*dialog.Child(ui::kIdOk));
  });
  CFilterSettingsDlg dialog;
  EXPECT_EQ(dialog.DoModal(), ui::kIdOk);
  EXPECT_TRUE(narrow);
  EXPECT_EQ(TakeMessages(), (std::vector<std::string>{"You must input matching value."}));
  EXPECT_EQ(dialog.resultFilter().fieldType(), Filter::kLogTitle);
  EXPECT_EQ(dialog.resultFilter().matchType(), Filter::kContains);
  EXPECT_EQ(dialog.resultFilter().pattern(), "Disk");
}

TEST_F(FilterDialogTest, CancelLeavesTheResultAsMade) {
  ui::testing::OnNextModal([&](ui::Dialog& d) {
    user().Type(*static_cast<CFilterSettingsDlg&>(d).pane().ChildAs<ui::Edit>(32839), "Disk");
    user().PressEscape(d);
  });
  CFilterSettingsDlg dialog;
  EXPECT_EQ(dialog.DoModal(), ui::kIdCancel);
  EXPECT_EQ(dialog.resultFilter().pattern(), "");
  EXPECT_TRUE(TakeMessages().empty());
}

}  // namespace
}  // namespace kst
