#include "KestraneAlerter/dialogs/profile_settings_pane.h"

#include <cstdint>
#include <string>
#include <vector>

#include "KestraneAlerter/profile.h"
#include "KestraneAlerter/profile_set.h"

namespace kst {

namespace {

// Indexes into the pane's controls, in creation order.
enum : size_t {
  kNameEdit,
  kNameLabel,
  kThresholdEdit,
  kThresholdSpin,
  kThresholdLabel,
  kTimeSpanEdit,
  kTimeSpanSpin,
  kTimeSpanLabel,
  kMinimalWaitEdit,
  kMinimalWaitSpin,
  kMinimalWaitLabel,
};

constexpr int kNameEditId = 6101;
constexpr int kThresholdEditId = 6111;
constexpr int kThresholdSpinId = 6112;
constexpr int kTimeSpanEditId = 6121;
constexpr int kTimeSpanSpinId = 6122;
constexpr int kMinimalWaitSpinId = 6132;

constexpr int kSpinUpper = 9999;

std::vector<ControlPlan> Layout(int w) {
  using ui::Kind;
  const int c = w / 2;
  const uint32_t number = ui::kVisible | ui::kClientEdge | ui::kBorder | ui::kDigitsOnly | ui::kAlignRight;
  const uint32_t spin = ui::kVisible | ui::kClientEdge | ui::kBorder;
  return {
      {Kind::kEdit, kNameEditId, {}, {c - 100, 3, c + 100, 27}, ui::kVisible | ui::kClientEdge | ui::kBorder | ui::kAlignCentre, false},
      {Kind::kStatic, 6102, "Name:", {c - 160, 10, c - 102, 25}, ui::kVisible, true},
      {Kind::kEdit, kThresholdEditId, {}, {20, 35, 62, 55}, number, true},
      {Kind::kUpDown, kThresholdSpinId, {}, {58, 35, 95, 55}, spin, false},
      {Kind::kStatic, 6113, "Alert threshold: Kestrane message count.", {100, 40, w - 10, 55}, ui::kVisible, true},
      {Kind::kEdit, kTimeSpanEditId, {}, {20, 65, 62, 85}, number, true},
      {Kind::kUpDown, kTimeSpanSpinId, {}, {58, 65, 95, 85}, spin, false},
      {Kind::kStatic, 6123, "Time in which message count determine (sec).", {100, 70, w - 10, 85}, ui::kVisible, true},
      {Kind::kEdit, 6131, {}, {20, 95, 62, 115}, number, true},
      {Kind::kUpDown, kMinimalWaitSpinId, {}, {58, 95, 95, 115}, spin, false},
      {Kind::kStatic, 6133, "Minimal wait time between notifications (sec).", {100, 100, w - 10, 115}, ui::kVisible, true},
  };
}

struct NumberBox {
  size_t edit;
  const char* invalid;  // too long, or no number at all
};

const NumberBox kNumberBoxes[] = {
    {kThresholdEdit, "Invalid value in \"Alert threshold\" box."},
    {kTimeSpanEdit, "Invalid value in \"Time span\" box."},
    {kMinimalWaitEdit, "Invalid value in \"Minimal wait time\" box."},
};

}  // namespace

bool ProfileSettingsPane::createControls(PaneObject object, const std::string& /*profileName*/,
                                         const ui::Rect& rect, ui::Window* parent) {
  Profile* const* held = std::get_if<Profile*>(&object);
  if (held == nullptr || *held == nullptr || parent == nullptr) return false;
  const Profile& profile = **held;
  if (!Create(parent, kPaneId, rect, ui::kVisible)) return false;
  font_ = MakePaneFont();

  OnNotify(kThresholdEditId, ui::Event::kChange, [this](const ui::NotifyInfo&) {
    CoupleThreshold(true);
    return 0;
  });
  OnNotify(kTimeSpanEditId, ui::Event::kChange, [this](const ui::NotifyInfo&) {
    CoupleThreshold(false);
    return 0;
  });
  const std::pair<int, size_t> spins[] = {
      {kThresholdSpinId, kThresholdEdit}, {kTimeSpanSpinId, kTimeSpanEdit}, {kMinimalWaitSpinId, kMinimalWaitEdit}};
  for (auto [spinId, edit] : spins) {
    OnNotify(spinId, ui::Event::kDeltaPos, [this, edit](const ui::NotifyInfo& info) {
      return StepNumberBox(controls_.get<ui::Edit>(edit), controls_.get<ui::UpDown>(edit + 1), info.delta);
    });
  }

  if (!controls_.Build(*this, font_.get(), Layout(rect.width()))) return false;
  profileName_ = profile.name;
  controls_.at(kNameEdit).SetText(profile.name);
  controls_.at(kTimeSpanEdit).SetText(std::to_string(profile.timeSpan));
  controls_.at(kThresholdEdit).SetText(std::to_string(profile.alertThreshold));
  controls_.at(kMinimalWaitEdit).SetText(std::to_string(profile.minimalWait));
  for (size_t spin : {kThresholdSpin, kTimeSpanSpin, kMinimalWaitSpin}) {
    controls_.get<ui::UpDown>(spin).SetRange32(0, kSpinUpper);
  }
  return true;
}

// A time span of 0 (or none) makes the threshold meaningless: show it as 0.
void ProfileSettingsPane::CoupleThreshold(bool thresholdChanged) {
  if (controls_.size() <= kTimeSpanEdit) return;  // still building
  if (NumberBoxValue(controls_.at(kTimeSpanEdit)) != 0) return;
  ui::Window& threshold = controls_.at(kThresholdEdit);
  if (thresholdChanged && threshold.Text() == "0") return;
  threshold.SetText("0");
}

bool ProfileSettingsPane::validate(ProfileSet& profiles) {
  std::string name = ReadBox(controls_.at(kNameEdit), kNameChars);
  const char* fault = nullptr;
  if (name.empty()) {
    // The profile's file and its line in the list would have no name, and
    // the list would no longer load.
    fault = "You must input profile name.";
  } else if (!IsLatinName(name)) {
    fault = kBadNameMessage;
  } else if (profiles.findProfile(profileName_) == nullptr) {
    fault = kProfileDeletedMessage;
  } else if (name != profileName_ && profiles.findProfile(name) != nullptr) {
    fault = kSameNameMessage;
  } else {
    for (const NumberBox& box : kNumberBoxes) {
      const std::string text = controls_.at(box.edit).Text();
      NumberBoxFault check = CheckNumberBox(text);
      if (check == NumberBoxFault::kTooLong || text.empty()) fault = box.invalid;
      if (check == NumberBoxFault::kBadCharacter) fault = kBadCharacterMessage;
      if (fault != nullptr) break;
    }
  }
  if (fault == nullptr) return true;
  ShowPaneMessage(this, fault);
  return false;
}

int ProfileSettingsPane::apply(ProfileSet& profiles) {
  if (!validate(profiles)) return kApplyInvalid;
  Profile* profile = profiles.findProfile(profileName_);
  std::string name = ReadBox(controls_.at(kNameEdit), kNameChars);
  int result = name != profile->name ? kApplyRenamed : kApplyUnchanged;
  profile->name = name;
  profileName_ = name;

  int32_t* const fields[] = {&profile->alertThreshold, &profile->timeSpan, &profile->minimalWait};
  for (size_t i = 0; i < 3; ++i) {
    int64_t value = 0;
    if (!ParseLeadingNumber(ReadBox(controls_.at(kNumberBoxes[i].edit), kNameChars), &value)) return kApplyInvalid;
    if (value != *fields[i] && result != kApplyRenamed) result = kApplyChanged;
    *fields[i] = static_cast<int32_t>(value);  // at most five digits passed validate
  }
  return result;
}

bool ProfileSettingsPane::DestroyWindow() {
  bool ok = controls_.DestroyAll() && controls_.size() == 11;
  ok = font_ != nullptr && ok;
  font_.reset();
  return Window::DestroyWindow() && ok;
}

}  // namespace kst
