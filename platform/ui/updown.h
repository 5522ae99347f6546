// The up-down control (spin button): two arrows over a 32-bit range.
#ifndef KST_PLATFORM_UI_UPDOWN_H_
#define KST_PLATFORM_UI_UPDOWN_H_

#include "platform/ui/window.h"

namespace kst::ui {

// A step first asks the parent with Event::kDeltaPos (pos before the step,
// delta +1 for the upper arrow, -1 for the lower one); a non-zero result
// keeps the position, 0 lets it move, held inside the range. The
// notification comes even at the range's ends, so a parent that keeps its
// own number sees every press.
class UpDown : public Window {
 public:
  bool Create(Window* parent, int id, const Rect& rect, uint32_t style);
  // Either bound may be the larger; the position is held inside.
  void SetRange32(int lower, int upper);
  int lower() const { return lower_; }
  int upper() const { return upper_; }
  void SetPos32(int pos);
  int pos() const { return pos_; }

  bool UserStep(int delta);

 private:
  int Clamp(long long value) const;
  int lower_ = 0;
  int upper_ = 100;
  int pos_ = 0;
};

}  // namespace kst::ui

#endif  // KST_PLATFORM_UI_UPDOWN_H_
