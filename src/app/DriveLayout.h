#pragma once
// The drive's frames on the device's screen, in points. On the 320 × 480 phone they are the
// drive's fixed phone figures; every other screen gets the same relations, so the list, the
// toolbar, the panels and the banner's place fill it:
//
//   navigation view   the screen less the 20-point status bar (320 × 460 on the phone)
//   root view         the navigation view less its 44-point bar (320 × 416)
//   toolbar           the root view's top 44 points, full width
//   action row        the root view's bottom 24 points, full width (y 392)
//   banner host       the device's banner size (320 × 53 on a phone, 728 × 90 on a tablet),
//                     centred, its bottom on the action row: (0, 383, 320, 53) on the phone,
//                     (20, 890, 728, 90) on a 768 × 1024 tablet; set aside while Settings or
//                     Help is open by the navigation bar's height: y 427 and 934
//   file list         between the toolbar and the banner host (0, 44, 320, 295)
//   storage and pass-code panels
//                     full width, tucked behind the toolbar, each sliding down by its own
//                     height (100 and 120) to show below it
//   news panel        its 320 × 300 picture, centred; hidden 64 points below the root view;
//                     shown 256 points above the root view's bottom on the phone (y 480 and
//                     160), resting on the action row on a tablet (y 636 on a 768 × 1024 one)
//   help pages        their 320 × 416 pictures, centred in the help page's view (which is
//                     the root view's size): the whole of it on the phone
//
// Frames of the root view's subviews are in the root view; the banner host's are in the
// navigation view it lives in. Main thread only (reads the device profile).
#include "platform/ui/Geometry.h"

namespace app::layout {

// The storage and pass-code panels' heights: how far each slides to show.
inline constexpr double kMemoryViewHeight = 100;
inline constexpr double kPassCodeViewHeight = 120;

// The size the banner host takes when it holds no network ad of its own size.
platform::Size bannerSize();
// The banner host at its home place, and at `y` with its home width, height and x.
platform::Rect bannerHostFrame();
platform::Rect bannerHostFrameAt(double y);
double bannerHostY();
// Where the banner host goes while Settings or Help covers the drive.
double bannerHostAsideY();

platform::Rect rootViewFrame();
platform::Rect toolbarFrame();
platform::Rect fileTableFrame();
platform::Rect actionRowFrame();
// The storage and pass-code panels before they slide down by their height.
platform::Rect memoryViewFrame();
platform::Rect passCodeViewFrame();
platform::Rect newsPanelHiddenFrame();
platform::Rect newsPanelShownFrame();
platform::Rect helpPagesFrame();

} // namespace app::layout
