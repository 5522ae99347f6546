#include "platform/ui/counter_browser.h"

#include <cstring>
#include <vector>

#include "platform/ui/controls.h"
#include "platform/ui/dialog.h"
#include "platform/ui/resources.h"

namespace kst::ui {
namespace {

constexpr const char* kEveryInstance = "*";

DialogTemplate BrowserTemplate(const CounterBrowseSettings& settings) {
  const uint32_t list_style = kVisible | kBorder | kVScroll | kTabStop |
                              (settings.single_counter_per_add ? 0u : kExtendedSel);
  DialogTemplate t;
  t.caption = settings.caption;
  t.cx = 300;
  t.cy = 170;
  t.style = kCaption | kSystemMenu | kVisible;
  t.controls = {
      {Kind::kStatic, kNoId, "Performance object:", 7, 7, 120, 8, kVisible, 0},
      {Kind::kComboBox, kBrowseObjectId, {}, 7, 18, 140, 100, kVisible | kDropDownList | kVScroll | kTabStop, 0},
      {Kind::kStatic, kNoId, "Counters:", 7, 36, 120, 8, kVisible, 0},
      {Kind::kListBox, kBrowseCountersId, {}, 7, 47, 140, 96, list_style, 0},
      {Kind::kStatic, kNoId, "Instances:", 153, 36, 120, 8, kVisible, 0},
      {Kind::kListBox, kBrowseInstancesId, {}, 153, 47, 140, 96, list_style, 0},
      {Kind::kButton, kBrowseAddId, "Add", 185, 150, 50, 14, kVisible | kTabStop | kDefaultButton, 0},
      {Kind::kButton, kIdCancel, "Close", 243, 150, 50, 14, kVisible | kTabStop, 0},
  };
  return t;
}

class BrowserDialog final : public Dialog {
 public:
  BrowserDialog(CounterBrowseSettings& settings, std::vector<std::string> objects, Window* owner)
      : Dialog(0, owner), settings_(settings), objects_(std::move(objects)) {
    OnNotify(kBrowseObjectId, Event::kSelChange, [this](const NotifyInfo&) {
      FillItems();
      return 0;
    });
    OnCommand(kBrowseAddId, [this] { Add(); });
  }

  bool OnInitDialog() override {
    auto* combo = ChildAs<ComboBox>(kBrowseObjectId);
    for (const std::string& object : objects_) combo->AddString(object);
    combo->SetCurSel(objects_.empty() ? -1 : 0);
    FillItems();
    return true;
  }

 private:
  // Counters and instances of the chosen object, the first of each chosen.
  void FillItems() {
    auto* counters = ChildAs<ListBox>(kBrowseCountersId);
    auto* instances = ChildAs<ListBox>(kBrowseInstancesId);
    counters->ResetContent();
    instances->ResetContent();
    const std::string object = ChildAs<ComboBox>(kBrowseObjectId)->Text();
    std::vector<std::string> counter_names, instance_names;
    if (object.empty() || EnumObjectItems("", object, &counter_names, &instance_names) != kPdhSuccess) return;
    for (const std::string& c : counter_names) counters->AddString(c);
    if (!instance_names.empty() && settings_.wildcard_instances) instances->AddString(kEveryInstance);
    for (const std::string& i : instance_names) instances->AddString(i);
    if (counters->count() > 0) counters->SetSel(0, true);
    if (instances->count() > 0) instances->SetSel(0, true);
  }

  // Every chosen counter of every chosen instance, counter by counter.
  std::string ChosenPaths() const {
    const auto* counters = ChildAs<ListBox>(kBrowseCountersId);
    const auto* instances = ChildAs<ListBox>(kBrowseInstancesId);
    std::string prefix;
    std::string host;
    if (!settings_.local_counters_only && LocalHostName(&host)) prefix = "\\\\" + host;
    prefix += "\\" + ChildAs<ComboBox>(kBrowseObjectId)->Text();
    std::vector<std::string> middles;
    if (instances->count() == 0) {
      middles.push_back(prefix);
    } else {
      for (int i : instances->SelItems()) middles.push_back(prefix + "(" + instances->ItemText(i) + ")");
    }
    std::string multi;
    for (int c : counters->SelItems()) {
      for (const std::string& middle : middles) {
        multi += middle + "\\" + counters->ItemText(c);
        multi += '\0';
      }
    }
    return multi;
  }

  void Add() {
    std::string multi = ChosenPaths();
    if (multi.empty()) return;
    multi += '\0';
    while (true) {
      if (settings_.buffer == nullptr || multi.size() > settings_.buffer_length) {
        settings_.callback_status = kPdhMoreData;
        if (!settings_.callback || settings_.callback(settings_.callback_argument) != kPdhRetry) return;
        continue;
      }
      std::memcpy(settings_.buffer, multi.data(), multi.size());
      settings_.callback_status = kPdhSuccess;
      if (settings_.callback) settings_.callback(settings_.callback_argument);
      return;
    }
  }

  CounterBrowseSettings& settings_;
  std::vector<std::string> objects_;
};

}  // namespace

PdhStatus BrowseCounters(CounterBrowseSettings& settings, Window* owner) {
  std::vector<std::string> objects;
  PdhStatus status = EnumObjects("", &objects);
  if (status != kPdhSuccess) return status;
  BrowserDialog dialog(settings, std::move(objects), owner);
  dialog.DoModal(BrowserTemplate(settings));
  return kPdhSuccess;
}

}  // namespace kst::ui
