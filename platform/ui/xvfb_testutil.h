// A private virtual X server for the tests of the real back end.
#ifndef KST_PLATFORM_UI_XVFB_TESTUTIL_H_
#define KST_PLATFORM_UI_XVFB_TESTUTIL_H_

namespace kst::ui::testing {

// Starts Xvfb once per process (stopped at exit) and points DISPLAY at it.
// False when no X server can be started here.
bool StartVirtualDisplay();

}  // namespace kst::ui::testing

#endif  // KST_PLATFORM_UI_XVFB_TESTUTIL_H_
