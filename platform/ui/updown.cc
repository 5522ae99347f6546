#include "platform/ui/updown.h"

#include <algorithm>

namespace kst::ui {

bool UpDown::Create(Window* parent, int id, const Rect& rect, uint32_t style) {
  return CreateAs(Kind::kUpDown, parent, id, rect, style, {});
}

int UpDown::Clamp(long long value) const {
  long long lo = std::min(lower_, upper_);
  long long hi = std::max(lower_, upper_);
  return static_cast<int>(std::clamp(value, lo, hi));
}

void UpDown::SetRange32(int lower, int upper) {
  lower_ = lower;
  upper_ = upper;
  pos_ = Clamp(pos_);
  Touch(kAspectSelection);
}

void UpDown::SetPos32(int pos) {
  pos_ = Clamp(pos);
  Touch(kAspectSelection);
}

bool UpDown::UserStep(int delta) {
  if (!IsUsable()) return false;
  // A range given upside down turns the arrows round.
  if (lower_ > upper_) delta = -delta;
  NotifyInfo info;
  info.pos = pos_;
  info.delta = delta;
  int veto = parent() != nullptr ? parent()->Notify(*this, Event::kDeltaPos, info) : 0;
  if (veto == 0 && IsCreated()) {
    pos_ = Clamp(static_cast<long long>(pos_) + delta);
    Touch(kAspectSelection);
  }
  return true;
}

}  // namespace kst::ui
