// The console's counter list: filled through the counter browser or, in one
// step, with every counter of this machine; emptied item by item or whole.
#include <algorithm>
#include <new>

#include "StatSubsystem/KestraneConsole/console_dialog.h"
#include "StatSubsystem/KestraneConsole/system_counters.h"
#include "platform/ui/controls.h"

namespace kst {
namespace {

constexpr uint32_t kBrowseStep = 800;
constexpr uint32_t kExpandBuffer = 32000;

}  // namespace

void ConsoleDialog::SetUpBrowse() {
  browse_ = {};
  browse_.wildcard_instances = true;
  browse_.caption = "Select counters to monitor.";
  browse_buffer_.assign(kBrowseStep, '\0');
  browse_.buffer = browse_buffer_.data();
  browse_.buffer_length = kBrowseStep;
  browse_.callback = [this](uintptr_t argument) { return BrowseCountersCallback(argument); };
  browse_.callback_argument = 0;
}

void ConsoleDialog::FillListBox() {
  auto* list = ChildAs<ui::ListBox>(kCounterListId);
  list->ResetContent();
  for (const std::string& path : counters_) list->AddString(path);
}

PdhStatus ConsoleDialog::BrowseCountersCallback(uintptr_t) {
  if (browse_.callback_status == kPdhMoreData) {
    try {
      browse_buffer_.resize(browse_buffer_.size() + kBrowseStep);
    } catch (const std::bad_alloc&) {
      ShowError("Insufficient memory!");
      return kPdhSuccess;
    }
    browse_.buffer = browse_buffer_.data();
    browse_.buffer_length = static_cast<uint32_t>(browse_buffer_.size());
    return kPdhRetry;
  }
  // Paths separated by one NUL, ended by two; the buffer's end bounds the walk.
  const char* p = browse_buffer_.data();
  const char* end = p + browse_buffer_.size();
  while (p < end && *p != '\0') {
    const char* stop = std::find(p, end, '\0');
    std::string path(p, stop);
    if (std::find(counters_.begin(), counters_.end(), path) != counters_.end()) {
      Tell("Some of selected counters has been added earlier", "Ringdesk", ui::MessageIcon::kInformation);
      return kPdhSuccess;
    }
    counters_.push_back(std::move(path));
    p = stop + 1;
  }
  return kPdhSuccess;
}

void ConsoleDialog::OnAdd() {
  ui::BrowseCounters(browse_, nullptr);
  FillListBox();
}

void ConsoleDialog::OnAddAllSystemCounters() {
  auto* list = ChildAs<ui::ListBox>(kCounterListId);
  if (list->count() > 0 || !counters_.empty()) {
    Tell("Delete all counters first.", "Error");
    return;
  }
  std::string host;
  if (!LocalHostName(&host)) {
    Tell("Couldn't retrieve machine name, try to add counters manually.", "Error");
    return;
  }
  const std::string wildcard = "\\\\" + host + "\\*(*/*)\\*";
  std::vector<char> buffer;
  uint32_t length = kExpandBuffer;
  PdhStatus status;
  try {
    do {
      buffer.resize(length);
      status = ExpandCounterPath(wildcard, buffer.data(), &length);
    } while (status == kPdhMoreData);
  } catch (const std::bad_alloc&) {
    Tell("Couldn't generate counters paths (insufficient memory), try to add counters manually.", "Error");
    return;
  }
  if (status != kPdhSuccess) {
    Tell("Couldn't generate counters paths (PdhExpandCounterPath() failed), try to add counters manually.", "Error");
    return;
  }
  for (const char* p = buffer.data(); p < buffer.data() + length && *p != '\0';) {
    std::string path(p);
    p += path.size() + 1;
    if (IsSystemCounter(path)) counters_.push_back(std::move(path));
  }
  FillListBox();
}

void ConsoleDialog::OnRemove() {
  auto* list = ChildAs<ui::ListBox>(kCounterListId);
  // From the bottom up: deleting in ascending order would shift the items
  // still to be deleted and take the wrong paths.
  const std::vector<int> selected = list->SelItems();
  for (auto it = selected.rbegin(); it != selected.rend(); ++it) {
    const std::string text = list->ItemText(*it);
    list->DeleteString(*it);
    auto found = std::find(counters_.begin(), counters_.end(), text);
    if (found != counters_.end()) counters_.erase(found);
  }
}

void ConsoleDialog::OnRemoveAll() {
  ChildAs<ui::ListBox>(kCounterListId)->ResetContent();
  counters_.clear();
}

}  // namespace kst
