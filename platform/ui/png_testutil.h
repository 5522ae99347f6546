// Writes screenshots as PNG files (stored, not compressed).
#ifndef KST_PLATFORM_UI_PNG_TESTUTIL_H_
#define KST_PLATFORM_UI_PNG_TESTUTIL_H_

#include <string>

#include "platform/ui/backend.h"

namespace kst::ui::testing {

bool WritePng(const Image& image, const std::string& path);

}  // namespace kst::ui::testing

#endif  // KST_PLATFORM_UI_PNG_TESTUTIL_H_
