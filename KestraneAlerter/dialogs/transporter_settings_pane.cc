#include "KestraneAlerter/dialogs/transporter_settings_pane.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "KestraneAlerter/delivery_settings.h"
#include "KestraneAlerter/mail_address.h"
#include "KestraneAlerter/profile.h"
#include "KestraneAlerter/profile_set.h"

namespace kst {

namespace {

// Indexes of the fixed controls; the text fields follow, two controls
// each, then the four flags, two controls each.
enum : size_t {
  kNameEdit,
  kNameLabel,
  kWaitEdit,
  kWaitSpin,
  kWaitLabel,
  kLengthEdit,
  kLengthSpin,
  kLengthLabel,
  kFirstTextField,
};

constexpr int kWaitSpinId = 6212;
constexpr int kLengthSpinId = 6222;
constexpr int kWaitUpper = 9999;

constexpr char kWaitInvalid[] = "Invalid value in \"Notification time span\" box.";
constexpr char kWaitExceeds[] = "\"Notification time span\" mustn't exceed 9999 sec.";
constexpr char kLengthInvalid[] = "Invalid value in \"Maximaze message lenght\" box.";

// A profile file's record reads each text into a line of at most this many
// characters before its line end; the rest of a longer one would be read
// as the next line, shifting every field and record after it.
constexpr size_t kLongestTextField = 998;

struct Flag {
  int id;
  const char* label;
  bool DeliverySettings::*field;
};

const Flag kFlags[] = {
    {6231, "Include comments.", &DeliverySettings::includeComments},
    {6241, "Include analyzer titles.", &DeliverySettings::includeAnalyzerTitles},
    {6251, "Include alert description.", &DeliverySettings::includeDescription},
    {6261, "Include counter names.", &DeliverySettings::includeCounterNames},
};

std::vector<ControlPlan> Layout(int w, int h, const std::vector<const char*>& labels) {
  using ui::Kind;
  const int c = w / 2;
  const uint32_t boxed = ui::kVisible | ui::kClientEdge | ui::kBorder;
  const uint32_t number = ui::kVisible | ui::kClientEdge | ui::kDigitsOnly | ui::kAlignRight;
  std::vector<ControlPlan> plans = {
      {Kind::kEdit, 6201, {}, {c - 100, 3, c + 100, 27}, boxed | ui::kAlignCentre, true},
      {Kind::kStatic, 6202, "Name:", {c - 160, 10, c - 102, 25}, ui::kVisible, true},
      {Kind::kEdit, 6211, {}, {20, 35, 60, 55}, number, true},
      {Kind::kUpDown, kWaitSpinId, {}, {58, 35, 95, 55}, boxed, true},
      {Kind::kStatic, 6213, "Minimal wait time (sec).", {100, 35, w - 153, 50}, ui::kVisible, true},
      {Kind::kEdit, 6221, {}, {20, 60, 60, 80}, number, true},
      {Kind::kUpDown, kLengthSpinId, {}, {58, 60, 95, 80}, boxed, true},
      {Kind::kStatic, 6223, "Maximum message length.", {100, 65, w - 153, 80}, ui::kVisible, true},
  };
  int top = 35;
  for (const char* label : labels) {
    plans.push_back({Kind::kEdit, 6203, {}, {w - 151, top + 15, w - 5, top + 35}, boxed | ui::kAlignRight | ui::kAutoHScroll, true});
    plans.push_back({Kind::kStatic, 6204, label, {w - 151, top, w - 5, top + 15}, ui::kVisible | ui::kAlignRight, true});
    top += 40;
  }
  const int down = std::max(0, h - 300);
  top = 85 + down;
  for (const Flag& flag : kFlags) {
    plans.push_back({Kind::kCheckBox, flag.id, {}, {20, top, 35, top + 15}, ui::kVisible, true});
    plans.push_back({Kind::kStatic, flag.id + 1, flag.label, {40, top, 200, top + 15}, ui::kVisible, true});
    top += 20;
  }
  return plans;
}

// Checks a number box: the first fault's message, or null.
const char* NumberFault(std::string_view text, const char* invalid, int upper, const char* exceeds) {
  switch (CheckNumberBox(text)) {
    case NumberBoxFault::kTooLong:
      return invalid;
    case NumberBoxFault::kBadCharacter:
      return kBadCharacterMessage;
    case NumberBoxFault::kNone:
      break;
  }
  int64_t value = 0;
  if (!ParseLeadingNumber(text, &value)) return invalid;
  return value > upper ? exceeds : nullptr;
}

}  // namespace

TransporterSettingsPane::TransporterSettingsPane(std::vector<const char*> labels, int lengthUpper,
                                                 const char* lengthExceeds)
    : labels_(std::move(labels)), lengthUpper_(lengthUpper), lengthExceeds_(lengthExceeds) {}

bool TransporterSettingsPane::createControls(PaneObject object, const std::string& profileName,
                                             const ui::Rect& rect, ui::Window* parent) {
  DeliverySettings* const* held = std::get_if<DeliverySettings*>(&object);
  if (held == nullptr || *held == nullptr || parent == nullptr) return false;
  DeliverySettings& settings = **held;
  std::vector<std::string*> fields = TextFields(settings);
  if (fields.size() != labels_.size()) return false;
  if (!Create(parent, kPaneId, rect, ui::kVisible)) return false;
  transporterName_ = settings.name;
  profileName_ = profileName;
  font_ = MakePaneFont();
  for (auto [spinId, edit] : {std::pair{kWaitSpinId, kWaitEdit}, std::pair{kLengthSpinId, kLengthEdit}}) {
    OnNotify(spinId, ui::Event::kDeltaPos, [this, edit](const ui::NotifyInfo& info) {
      return StepNumberBox(controls_.get<ui::Edit>(edit), controls_.get<ui::UpDown>(edit + 1), info.delta);
    });
  }
  if (!controls_.Build(*this, font_.get(), Layout(rect.width(), rect.height(), labels_))) return false;

  controls_.at(kNameEdit).SetText(settings.name);
  controls_.at(kWaitEdit).SetText(std::to_string(settings.minimalWait));
  controls_.get<ui::UpDown>(kWaitSpin).SetRange32(0, kWaitUpper);
  controls_.at(kLengthEdit).SetText(std::to_string(settings.maxMessageLength));
  controls_.get<ui::UpDown>(kLengthSpin).SetRange32(0, lengthUpper_);
  for (size_t i = 0; i < fields.size(); ++i) controls_.at(kFirstTextField + 2 * i).SetText(*fields[i]);
  const size_t firstFlag = kFirstTextField + 2 * fields.size();
  for (size_t i = 0; i < std::size(kFlags); ++i) {
    controls_.get<ui::CheckBox>(firstFlag + 2 * i).SetCheck(settings.*kFlags[i].field);
  }
  return true;
}

DeliverySettings* TransporterSettingsPane::FindSettings(ProfileSet& profiles) const {
  Profile* profile = profiles.findProfile(profileName_);
  if (profile == nullptr) return nullptr;
  // Of two transporters with one name (a hand-edited file), the dialog shows
  // the last; the values typed here must go back into that one.
  DeliverySettings* found = nullptr;
  for (const auto& settings : profile->deliverySettings) {
    if (settings->name == transporterName_) found = settings.get();
  }
  return found;
}

bool TransporterSettingsPane::validate(ProfileSet& profiles) {
  std::string name = ReadBox(controls_.at(kNameEdit), kNameChars);
  const char* fault = nullptr;
  if (!IsLatinName(name)) {
    fault = kBadNameMessage;
  } else if (FindSettings(profiles) == nullptr) {
    fault = kProfileDeletedMessage;
  } else if (name != transporterName_) {
    for (const auto& other : profiles.findProfile(profileName_)->deliverySettings) {
      if (other->name == name) fault = kSameNameMessage;
    }
  }
  if (fault == nullptr) {
    fault = NumberFault(controls_.at(kWaitEdit).Text(), kWaitInvalid, kWaitUpper, kWaitExceeds);
  }
  if (fault == nullptr) {
    fault = NumberFault(controls_.at(kLengthEdit).Text(), kLengthInvalid, lengthUpper_, lengthExceeds_);
  }
  if (fault != nullptr) {
    ShowPaneMessage(this, fault);
    return false;
  }
  // What the file's lines cannot hold first, then what the pane refuses.
  std::string why = TextFieldTooLong();
  for (size_t i = 0; why.empty() && i < labels_.size(); ++i) {
    why = TextFieldFault(i, controls_.at(kFirstTextField + 2 * i).Text());
  }
  if (why.empty()) return true;
  ShowPaneMessage(this, why);
  return false;
}

std::string TransporterSettingsPane::TextFieldTooLong() const {
  for (size_t i = 0; i < labels_.size(); ++i) {
    if (controls_.at(kFirstTextField + 2 * i).Text().size() <= kLongestTextField) continue;
    std::string box = labels_[i];
    if (!box.empty() && box.back() == ':') box.pop_back();
    return "Invalid value in \"" + box + "\" box: at most " + std::to_string(kLongestTextField) + " characters.";
  }
  return {};
}

int TransporterSettingsPane::apply(ProfileSet& profiles) {
  if (!validate(profiles)) return kApplyInvalid;
  DeliverySettings& settings = *FindSettings(profiles);
  int result = kApplyUnchanged;
  auto note = [&result](bool differs) {
    if (differs && result != kApplyRenamed) result = kApplyChanged;
  };

  std::string name = ReadBox(controls_.at(kNameEdit), kNameChars);
  if (name != settings.name) result = kApplyRenamed;
  settings.name = name;
  transporterName_ = name;

  for (auto [edit, field] : {std::pair{kWaitEdit, &settings.minimalWait}, std::pair{kLengthEdit, &settings.maxMessageLength}}) {
    int64_t value = 0;
    if (!ParseLeadingNumber(controls_.at(edit).Text(), &value)) return kApplyInvalid;
    note(value != *field);
    *field = static_cast<int32_t>(value);  // validate held it to four digits
  }
  std::vector<std::string*> fields = TextFields(settings);
  for (size_t i = 0; i < fields.size(); ++i) {
    std::string text = controls_.at(kFirstTextField + 2 * i).Text();
    note(text != *fields[i]);
    *fields[i] = std::move(text);
  }
  const size_t firstFlag = kFirstTextField + 2 * fields.size();
  for (size_t i = 0; i < std::size(kFlags); ++i) {
    bool checked = controls_.get<ui::CheckBox>(firstFlag + 2 * i).IsChecked();
    note(checked != settings.*kFlags[i].field);
    settings.*kFlags[i].field = checked;
  }
  return result;
}

bool TransporterSettingsPane::DestroyWindow() {
  controls_.DestroyAll();
  font_.reset();
  return Window::DestroyWindow();
}

MailSettingsPane::MailSettingsPane()
    : TransporterSettingsPane({"Mail to:", "From:", "Use mail server:"}, 9999,
                              "\"Maximaze message lenght\" mustn't exceed 9999 symbols.") {}

std::vector<std::string*> MailSettingsPane::TextFields(DeliverySettings& settings) const {
  auto* mail = dynamic_cast<MailDeliverySettings*>(&settings);
  if (mail == nullptr) return {};
  return {&mail->recipient, &mail->sender, &mail->mailServer};
}

std::string MailSettingsPane::TextFieldFault(size_t index, const std::string& text) const {
  if (index > 1) return "";
  std::string address;
  std::string why = ParseMailAddress(text, &address);
  if (why.empty()) return "";
  return std::string("The address in \"") + (index == 0 ? "Mail to:" : "From:") + "\" box " + why + ".";
}

namespace {
constexpr char kShortLengthExceeds[] = "\"Maximaze message lenght\" mustn't exceed 1024\n for Program notification.";
}  // namespace

NetSendSettingsPane::NetSendSettingsPane() : TransporterSettingsPane({"Destination:"}, 1024, kShortLengthExceeds) {}

std::vector<std::string*> NetSendSettingsPane::TextFields(DeliverySettings& settings) const {
  auto* netSend = dynamic_cast<NetSendDeliverySettings*>(&settings);
  if (netSend == nullptr) return {};
  return {&netSend->destination};
}

ShellSettingsPane::ShellSettingsPane() : TransporterSettingsPane({"Execution file path:"}, 1024, kShortLengthExceeds) {}

std::vector<std::string*> ShellSettingsPane::TextFields(DeliverySettings& settings) const {
  auto* shell = dynamic_cast<ShellDeliverySettings*>(&settings);
  if (shell == nullptr) return {};
  return {&shell->executionFilePath};
}

}  // namespace kst
