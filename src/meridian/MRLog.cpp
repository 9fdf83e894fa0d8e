#include "meridian/MRLog.h"

#include <array>

#include "meridian/MRCommon.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Services.h"
#include "platform/foundation/URL.h"
#include "platform/net/URLConnection.h"

namespace meridian {

namespace {

constexpr std::string_view kDefaultAcid = "99";
constexpr std::string_view kVersionKey = "version";
constexpr std::string_view kLiveVersion = "live";
constexpr std::int64_t kMaximumPixelBytes = 64 * 1024;

struct Activity {
    int number;
    std::string_view name;
};
constexpr std::array<Activity, 9> kActivities = {{
    {1, "EXPAND"},
    {2, "COLLAPSE"},
    {3, "ON_LOAD"},
    {4, "VIEW_VIDEO"},
    {5, "INTERACTION"},
    {6, "CAROUSEL_LEFT"},
    {7, "CAROUSEL_RIGHT"},
    {8, "CALL"},
    {9, "INAPPLOAD"},
}};
constexpr std::string_view kOtherActivity = "INTERACTION";

} // namespace

std::string MRLog::stringFromLogType(int type) {
    for (const auto& row : kActivities)
        if (row.number == type)
            return std::string(row.name);
    return std::string(kOtherActivity);
}

std::string MRLog::logActivityWithString(const platform::Dictionary& parameters, std::string_view activity,
                                         std::string_view acid) {
    using platform::percentEncodeQueryValue;
    std::string_view adId = acid.empty() ? kDefaultAcid : acid;
    auto version = parameters.find(kVersionKey);
    bool live = version != parameters.end() && version->second.stringOr("") == kLiveVersion;
    std::string url = platform::servicesBaseURL() + std::string(live ? kMRLivePixelPath : kMRDemoPixelPath) +
                      "?activity=" + percentEncodeQueryValue(activity) +
                      "&acid=" + percentEncodeQueryValue(adId);
    for (const auto& [key, value] : parameters) {
        std::string text = value.isString() ? *value.string() : (value.isNull() ? "" : value.toJSON());
        if (!text.empty())
            url += "&" + percentEncodeQueryValue(key) + "=" + percentEncodeQueryValue(text);
    }
    platform::logLine("MRLog: " + url);
    logURL(url);
    return url;
}

std::string MRLog::logActivity(const platform::Dictionary& parameters, int activity, std::string_view acid) {
    return logActivityWithString(parameters, stringFromLogType(activity), acid);
}

void MRLog::logURL(std::string_view url) {
    auto request = platform::URLRequest::withURLString(url);
    if (!request) {
        mrLog("invalid tracking address: " + std::string(url));
        return;
    }
    auto connection = platform::URLConnection::create(*request, nullptr, false);
    connection->setMaximumBodyLength(kMaximumPixelBytes);
    connection->start();
}

} // namespace meridian
