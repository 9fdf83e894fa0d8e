#pragma once
// MRLog: tracking pixels of the Meridian client. Class operations only; each sends one
// fire-and-forget GET whose reply is never read (the connection keeps itself alive until it
// ends, with no delegate). Main thread.
#include <string>
#include <string_view>

#include "platform/foundation/Value.h"

namespace meridian {

class MRLog {
public:
    // Sends one pixel: activity and ad id ("" becomes "99"), then every parameter with a
    // non-empty value. "version" = "live" picks the live pixel server, else the demo one.
    // Answers the URL sent (empty when none could be formed).
    static std::string logActivityWithString(const platform::Dictionary& parameters,
                                             std::string_view activity, std::string_view acid);
    static std::string logActivity(const platform::Dictionary& parameters, int activity,
                                   std::string_view acid);
    static void logURL(std::string_view url);
    static std::string stringFromLogType(int type);
};

} // namespace meridian
