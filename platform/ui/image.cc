#include "platform/ui/image.h"

#include <utility>

namespace kst::ui {

Icon::Icon(int width, int height, std::vector<uint32_t> argb)
    : width_(width), height_(height), argb_(std::move(argb)) {
  argb_.resize(static_cast<size_t>(width_) * height_);
}

ImageList::ImageList(int cx, int cy, int grow) : cx_(cx), cy_(cy) {
  images_.reserve(grow > 0 ? grow : 4);
}

int ImageList::Add(const Icon* icon) {
  if (icon == nullptr) return -1;
  images_.push_back(icon);
  return count() - 1;
}

const Icon* ImageList::At(int index) const {
  if (index < 0 || index >= count()) return nullptr;
  return images_[index];
}

}  // namespace kst::ui
