#include "KestraneAlerter/dialogs/filter_settings_pane.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "KestraneAlerter/filter_tree.h"
#include "KestraneAlerter/profile.h"
#include "KestraneAlerter/profile_set.h"
#include "StatSubsystem/common/config_tree.h"
#include "StatSubsystem/common/product_key.h"

namespace kst {

namespace {

// Indexes into the pane's controls, in creation order.
enum : size_t {
  kHeadingLabel,
  kFieldLabel,
  kFieldCombo,
  kMatchLabel,
  kMatchCombo,
  kValueLabel,
  kLogLabel,
  kCounterLabel,
  kValueEdit,
  kLogCombo,
  kCounterCombo,
  kDescriptionLabel,
  kControlCount,
};

constexpr int kFieldComboId = 32835;
constexpr int kMatchComboId = 32836;
constexpr int kLogComboId = 32837;

struct Named {
  const char* name;
  int value;
};

// In the order the field list shows them.
const Named kFields[] = {
    {"Log title", Filter::kLogTitle},
    {"Analyzer title", Filter::kAnalyzerTitle},
    {"Warning level", Filter::kWarningLevel},
    {"Message desicription", Filter::kDescription},
    {"Performance counter in base part", Filter::kBaseCounter},
    {"Performance counter in result part", Filter::kResultCounter},
};

const Named kMatches[] = {
    {"Contain substring", Filter::kContains},
    {"Equal (==)", Filter::kEqual},
    {"More (>)", Filter::kMore},
    {"Less (<)", Filter::kLess},
};

int ValueOf(const Named* table, size_t size, std::string_view name) {
  for (size_t i = 0; i < size; ++i) {
    if (name == table[i].name) return table[i].value;
  }
  return -1;
}

const char* NameOf(const Named* table, size_t size, int value) {
  for (size_t i = 0; i < size; ++i) {
    if (table[i].value == value) return table[i].name;
  }
  return nullptr;
}

bool IsCounterField(int field) { return field == Filter::kBaseCounter || field == Filter::kResultCounter; }

// The matches a field type allows, in the order the match list shows them.
std::vector<int> AllowedMatches(int field) {
  std::vector<int> matches;
  if (field == Filter::kLogTitle || field == Filter::kAnalyzerTitle || field == Filter::kDescription) {
    matches.push_back(Filter::kContains);
  }
  matches.push_back(Filter::kEqual);
  if (field == Filter::kWarningLevel) {
    matches.push_back(Filter::kMore);
    matches.push_back(Filter::kLess);
  }
  return matches;
}

bool Allowed(int field, int match) {
  for (int allowed : AllowedMatches(field)) {
    if (allowed == match) return true;
  }
  return false;
}

const char* Description(int field, int match) {
  struct Row {
    int field;
    int match;  // 0: any
    const char* text;
  };
  static const Row kRows[] = {
      {Filter::kBaseCounter, 0, "Filter apply messages that contain this counter in the base counters part."},
      {Filter::kResultCounter, 0, "Filter apply messages that contain this counter in the result counters part."},
      {Filter::kLogTitle, Filter::kContains,
       "Filter apply messages that contain this pattern in the log title as substring."},
      {Filter::kLogTitle, Filter::kEqual, "Filter apply message if the log title equals to the pattern."},
      {Filter::kAnalyzerTitle, Filter::kContains,
       "Filter apply messages that contain this pattern in the analyzer title as substring."},
      {Filter::kAnalyzerTitle, Filter::kEqual, "Filter apply message if the analyzer title equals to the pattern."},
      {Filter::kDescription, Filter::kContains,
       "Filter apply messages that contain this pattern in the message description as substring."},
      {Filter::kDescription, Filter::kEqual,
       "Filter apply message if the message description equals to the pattern."},
      {Filter::kWarningLevel, Filter::kEqual,
       "Filter apply message if the message warning level equals to the pattern."},
      {Filter::kWarningLevel, Filter::kMore,
       "Filter apply message if the message warning level more than the pattern."},
      {Filter::kWarningLevel, Filter::kLess,
       "Filter apply message if the message warning level less than the pattern."},
  };
  for (const Row& row : kRows) {
    if (row.field == field && (row.match == 0 || row.match == match)) return row.text;
  }
  return nullptr;
}

std::vector<ControlPlan> Layout(int w, int h) {
  using ui::Kind;
  const int c = w / 2;
  const bool wide = w > h + 100;
  const uint32_t list = ui::kVisible | ui::kDropDownList | ui::kVScroll;
  const uint32_t side = wide ? 0u : ui::kAlignCentre;  // labels beside their boxes, or above them
  auto pick = [wide](ui::Rect a, ui::Rect b) { return wide ? a : b; };
  return {
      {Kind::kStatic, ui::kNoId, "Filter Settings", pick({c - 100, 5, c + 100, 20}, {c - 100, 10, c + 100, 25}),
       ui::kVisible | ui::kAlignCentre, true},
      {Kind::kStatic, ui::kNoId, "Message information to filtering:",
       pick({10, 22, w - 252, 52}, {c - 110, 30, c + 110, 45}), ui::kVisible | side, true},
      {Kind::kComboBox, kFieldComboId, {}, pick({w - 250, 25, w - 10, 225}, {c - 120, 50, c + 120, 250}), list, true},
      {Kind::kStatic, ui::kNoId, "Matching method:", pick({10, 58, w - 252, 73}, {c - 110, 80, c + 110, 95}),
       ui::kVisible | side, true},
      {Kind::kComboBox, kMatchComboId, {}, pick({w - 250, 53, w - 10, 253}, {c - 120, 100, c + 120, 300}), list, true},
      {Kind::kStatic, ui::kNoId, "Matching value:", pick({10, 95, w - 252, 110}, {c - 110, 130, c + 110, 145}), side,
       true},
      {Kind::kStatic, ui::kNoId, "Log:", pick({10, 95, c - 10, 110}, {10, 130, c - 5, 145}), side, true},
      {Kind::kStatic, ui::kNoId, "Counter:", pick({c - 12, 95, w - 10, 110}, {c, 130, w - 10, 145}), side, true},
      {Kind::kEdit, 32839, {}, pick({w - 250, 92, w - 10, 115}, {c - 100, 150, c + 100, 170}),
       ui::kClientEdge | ui::kBorder | ui::kAutoHScroll, true},
      {Kind::kComboBox, kLogComboId, {}, pick({45, 90, c - 16, 290}, {10, 150, c - 5, 370}), ui::kDropDownList | ui::kVScroll,
       true},
      {Kind::kComboBox, 32838, {}, pick({c + 46, 90, w - 10, 290}, {c, 150, w - 10, 370}),
       ui::kDropDown | ui::kVScroll, true},
      {Kind::kStatic, ui::kNoId, {}, pick({20, 118, w - 10, 148}, {5, 176, w - 5, 208}), ui::kVisible, true},
  };
}

constexpr size_t kMaxValueChars = 255;

}  // namespace

bool FilterSettingsPane::createControls(PaneObject object, const std::string& profileName, const ui::Rect& rect,
                                        ui::Window* parent) {
  FilterNode* const* held = std::get_if<FilterNode*>(&object);
  if (held == nullptr) return false;
  profileName_ = profileName;
  path_.clear();
  for (const FilterNode* node = *held; node != nullptr && node->parent() != nullptr; node = node->parent()) {
    path_.push_back(node->parent()->indexOf(node));
  }
  return Build(dynamic_cast<const Filter*>(*held), rect, parent);
}

bool FilterSettingsPane::createForNewFilter(const ui::Rect& rect, ui::Window* parent) {
  profileName_.clear();
  path_.clear();
  return Build(nullptr, rect, parent);
}

bool FilterSettingsPane::Build(const Filter* filter, const ui::Rect& rect, ui::Window* parent) {
  if (parent == nullptr || !Create(parent, kPaneId, rect, ui::kVisible)) return false;
  const int field = filter != nullptr ? filter->fieldType() : Filter::kLogTitle;
  const int match = filter != nullptr ? filter->matchType() : Filter::kContains;
  font_ = MakePaneFont();
  OnNotify(kFieldComboId, ui::Event::kSelChange, [this](const ui::NotifyInfo&) {
    OnFieldChange();
    return 0;
  });
  OnNotify(kMatchComboId, ui::Event::kSelChange, [this](const ui::NotifyInfo&) {
    SetDescription();
    return 0;
  });
  OnNotify(kLogComboId, ui::Event::kSelChange, [this](const ui::NotifyInfo&) {
    OnLogChange();
    return 0;
  });
  if (!controls_.Build(*this, font_.get(), Layout(rect.width(), rect.height()))) return false;

  auto& fields = controls_.get<ui::ComboBox>(kFieldCombo);
  for (const Named& f : kFields) fields.AddString(f.name);
  fields.SetCurSel(0);
  if (const char* name = NameOf(kFields, std::size(kFields), field)) fields.SetCurSel(fields.FindStringExact(-1, name));

  auto& matches = controls_.get<ui::ComboBox>(kMatchCombo);
  for (int allowed : AllowedMatches(field)) matches.AddString(NameOf(kMatches, std::size(kMatches), allowed));
  matches.SetCurSel(matches.FindStringExact(-1, "Equal (==)"));
  if (const char* name = NameOf(kMatches, std::size(kMatches), match)) {
    int index = matches.FindStringExact(-1, name);
    if (index >= 0) matches.SetCurSel(index);
  }

  if (field >= Filter::kWarningLevel && field <= Filter::kDescription) {
    std::string value;
    if (filter != nullptr) {
      value = field == Filter::kWarningLevel ? std::to_string(static_cast<uint8_t>(filter->level())) : filter->pattern();
    }
    controls_.at(kValueEdit).SetText(value);
    controls_.at(kValueEdit).Show(true);
    controls_.at(kValueLabel).Show(true);
  } else if (IsCounterField(field)) {
    int found = -1;
    std::string title = ReadCounterTitleById(static_cast<int64_t>(filter != nullptr ? filter->counterId() : 0), &found);
    if (found == 0) controls_.at(kCounterCombo).SetText(title);
    ShowCounterChoice(true);
  }
  FillLogs();
  SetDescription();
  return true;
}

void FilterSettingsPane::ShowCounterChoice(bool show) {
  for (size_t i : {kCounterCombo, kLogCombo, kCounterLabel, kLogLabel}) controls_.at(i).Show(show);
  for (size_t i : {kValueEdit, kValueLabel}) controls_.at(i).Show(!show);
}

void FilterSettingsPane::FillLogs() {
  auto& logs = controls_.get<ui::ComboBox>(kLogCombo);
  logs.ResetContent();
  int result = 0;
  const std::vector<std::string> titles = ReadLogsTitles(&result);
  for (const std::string& title : titles) logs.AddString(title);
  if (logs.count() > 0) logs.SetCurSel(0);
}

void FilterSettingsPane::OnLogChange() {
  auto& counters = controls_.get<ui::ComboBox>(kCounterCombo);
  counters.ResetContent();
  const std::string log = controls_.at(kLogCombo).Text();
  if (log.empty()) return;
  int result = 0;
  const std::vector<std::string> titles = ReadLogCountersTitles(log, &result);
  for (const std::string& title : titles) counters.AddString(title);
  if (counters.count() > 0) counters.SetCurSel(0);
}

void FilterSettingsPane::OnFieldChange() {
  const int field = SelectedField();
  if (field < 0) return;
  auto& matches = controls_.get<ui::ComboBox>(kMatchCombo);
  matches.ResetContent();
  for (int allowed : AllowedMatches(field)) matches.AddString(NameOf(kMatches, std::size(kMatches), allowed));
  matches.SetCurSel(0);
  ShowCounterChoice(IsCounterField(field));
  if (IsCounterField(field)) {
    FillLogs();
  } else {
    auto& value = controls_.get<ui::Edit>(kValueEdit);
    value.SetSel(0, -1);
    value.ReplaceSel("");
  }
  SetDescription();
  parent()->Redraw();
}

void FilterSettingsPane::SetDescription() {
  if (const char* text = Description(SelectedField(), SelectedMatch())) controls_.at(kDescriptionLabel).SetText(text);
}

int FilterSettingsPane::SelectedField() const {
  const auto& fields = controls_.get<ui::ComboBox>(kFieldCombo);
  return ValueOf(kFields, std::size(kFields), fields.ItemText(fields.CurSel()));
}

int FilterSettingsPane::SelectedMatch() const {
  const auto& matches = controls_.get<ui::ComboBox>(kMatchCombo);
  return ValueOf(kMatches, std::size(kMatches), matches.ItemText(matches.CurSel()));
}

bool FilterSettingsPane::validate(ProfileSet& /*profiles*/) { return Check(); }

bool FilterSettingsPane::Check() {
  const int field = SelectedField();
  const int match = SelectedMatch();
  const char* fault = nullptr;
  if (field < 0) {
    fault = "Invalid filter type";
  } else if (match < 0 || !Allowed(field, match)) {
    fault = "Invalid match type";
  } else if (IsCounterField(field)) {
    const std::string counter = controls_.at(kCounterCombo).Text();
    int found = -1;
    if (counter.size() >= 256) {
      fault = "Counter name have to be less then 256 symbols.";
    } else if (counter.empty()) {
      fault = "You must input counter name.";
    } else if (ReadCounterByTitle(counter, &found); found != 0) {
      fault = "This counter doesn't exist.";
    }
  } else {
    const std::string value = controls_.at(kValueEdit).Text();
    int64_t level = 0;
    if (value.size() >= 256) {
      fault = "Matching value have to be less then 256 symbols.";
    } else if (value.empty()) {
      fault = "You must input matching value.";
    } else if (field != Filter::kWarningLevel && value.find_first_not_of(" \t") == std::string::npos) {
      // A pattern of blanks alone is no pattern, and the profile file would
      // not keep it as typed.
      fault = "Matching value must contain not only blanks.";
    } else if (field != Filter::kWarningLevel && (value[0] == ' ' || value[0] == '\t')) {
      // The file would drop them, and the pattern would match more.
      fault = "Matching value must not begin with blanks.";
    } else if (field == Filter::kWarningLevel && !(ParseLeadingNumber(value, &level) && level >= 0 && level < 256)) {
      fault = "Warning number must be less 256 and not less 0.";
    }
  }
  if (fault == nullptr) return true;
  ShowPaneMessage(this, fault);
  return false;
}

int FilterSettingsPane::writeFilter(Filter& target) {
  if (!Check()) return -1;
  const int field = SelectedField();
  const int match = SelectedMatch();
  if (field < 0 || match < 0) return -1;
  std::unique_ptr<Filter> made;
  if (IsCounterField(field)) {
    int found = -1;
    int64_t id = ReadCounterByTitle(controls_.at(kCounterCombo).Text(), &found);
    if (found != 0) return -1;
    made = std::make_unique<Filter>(field, match, id);
  } else if (field == Filter::kWarningLevel) {
    int64_t level = 0;
    if (!ParseLeadingNumber(controls_.at(kValueEdit).Text(), &level)) return -1;
    made = std::make_unique<Filter>(field, match, level);
  } else {
    made = std::make_unique<Filter>(field, match, ReadBox(controls_.at(kValueEdit), kMaxValueChars));
  }
  target.assignFrom(*made);
  return 1;
}

int FilterSettingsPane::apply(ProfileSet& profiles) {
  Profile* profile = profiles.findProfile(profileName_);
  if (profile == nullptr) return -1;
  FilterNode* node = &profile->rootGate;
  for (auto index = path_.rbegin(); index != path_.rend(); ++index) {
    auto* gate = dynamic_cast<Gate*>(node);
    node = gate != nullptr ? gate->childAt(*index) : nullptr;
    if (node == nullptr) return -1;
  }
  auto* filter = dynamic_cast<Filter*>(node);
  return filter != nullptr ? writeFilter(*filter) : -1;
}

bool FilterSettingsPane::DestroyWindow() {
  controls_.DestroyAll();
  font_.reset();
  return true;
}

}  // namespace kst
