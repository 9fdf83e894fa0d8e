#pragma once
// The event keys of the ad engine: the names under which the rich-media ad side stores the
// values of an ad event (VellumEvent) and the tracking session reads them back, and the exit
// codes stored under MRAdExitKey.
namespace vellum {

// User-information key of the notification "MRADAdViewedNotification": its VellumEvent.
inline constexpr const char* MRAdEventKey = "MRAdEvent";
// Event key of the ad impression event made for each displayed ad.
inline constexpr const char* MRAdViewedKey = "MRAdViewed";

inline constexpr const char* MRAdIDKey = "MRAdID";                         // string
inline constexpr const char* MRAdSlotKey = "MRAdSlot";                     // string
inline constexpr const char* MRAdVersionKey = "MRAdVersion";               // string, decimal
inline constexpr const char* MRAdExitKey = "MRAdExit";                     // number, see MRAdExitCode
inline constexpr const char* MRAdStartTimeKey = "MRAdStartTimeKey";        // number, since 2001
inline constexpr const char* MRAdViewDurationKey = "MRAdViewDuration";     // duration
inline constexpr const char* MRAdUrlStringKey = "MRAdUrlString";           // string
inline constexpr const char* MRAdExpandKey = "MRAdExpand";                 // number, since 1970
inline constexpr const char* MRAdAppForceExpandKey = "MRAdAppForceExpand"; // number, since 1970
inline constexpr const char* MRAdCollapseKey = "MRAdCollapse";             // number, since 1970
inline constexpr const char* MRAdChildAdID = "MRAdChildAdID";              // string
inline constexpr const char* MRAdParentAdID = "MRAdParentAdID";            // string

// Click-through counters by destination kind (numbers, counted with incrementNumberForKey).
inline constexpr const char* MRAdClickThru_Browser = "MRAdClickThru_Browser";
inline constexpr const char* MRAdClickThru_Email = "MRAdClickThru_Email";
inline constexpr const char* MRAdClickThru_SMS = "MRAdClickThru_SMS";
inline constexpr const char* MRAdClickThru_MusicStore = "MRAdClickThru_MusicStore";
inline constexpr const char* MRAdClickThru_AppStore = "MRAdClickThru_AppStore";
inline constexpr const char* MRAdClickThru_YouTube = "MRAdClickThru_YouTube";
inline constexpr const char* MRAdClickThru_Maps = "MRAdClickThru_Maps";
inline constexpr const char* MRAdClickThru_Phone = "MRAdClickThru_Phone";
inline constexpr const char* MRAdClickThru_CustomApp = "MRAdClickThru_CustomApp";
inline constexpr const char* MRAdClickThru_ExternalApp = "MRAdClickThru_ExternalApp";

// How an ad was left, stored under MRAdExitKey.
namespace MRAdExitCode {
inline constexpr int kClickThrough = 1;          // after a click-through
inline constexpr int kReportedWhileShown = 2;    // reported while still 0 or kLoaded
inline constexpr int kDismissed = 3;             // the ad was dismissed
inline constexpr int kApplicationTerminated = 4; // the application terminated
inline constexpr int kLoaded = 6;                // loaded and shown
} // namespace MRAdExitCode

} // namespace vellum
