// Pictures: icons (window icons, tree images) and image lists.
#ifndef KST_PLATFORM_UI_IMAGE_H_
#define KST_PLATFORM_UI_IMAGE_H_

#include <cstdint>
#include <vector>

#include "platform/ui/types.h"

namespace kst::ui {

// A picture of width x height pixels, 0xAARRGGBB each, rows top down;
// alpha 0 is transparent.
class Icon {
 public:
  Icon() = default;
  Icon(int width, int height, std::vector<uint32_t> argb);
  int width() const { return width_; }
  int height() const { return height_; }
  uint32_t Pixel(int x, int y) const { return argb_[static_cast<size_t>(y) * width_ + x]; }
  const std::vector<uint32_t>& argb() const { return argb_; }

 private:
  int width_ = 0;
  int height_ = 0;
  std::vector<uint32_t> argb_;
};

// Images of one size (cx by cy) by index. Icons of another size are drawn
// centred in the cell. The icons are not owned and must outlive the list.
class ImageList {
 public:
  // grow is how many entries the list makes room for at a time.
  ImageList(int cx, int cy, int grow = 4);
  int cx() const { return cx_; }
  int cy() const { return cy_; }
  // The index of the new image; -1 for a null icon.
  int Add(const Icon* icon);
  void RemoveAll() { images_.clear(); }
  int count() const { return static_cast<int>(images_.size()); }
  // Null for an index out of range.
  const Icon* At(int index) const;
  void SetBkColor(Color c) { background_ = c; }
  Color background() const { return background_; }

 private:
  int cx_;
  int cy_;
  std::vector<const Icon*> images_;
  Color background_{255, 255, 255};
};

}  // namespace kst::ui

#endif  // KST_PLATFORM_UI_IMAGE_H_
