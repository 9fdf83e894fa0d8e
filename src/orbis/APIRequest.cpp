#include "orbis/APIRequest.h"

#include <array>
#include <cmath>
#include <cstdio>

#include "orbis/OrbisAdView.h"
#include "orbis/TextValues.h"
#include "orbis/UserInfo.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Numbers.h"
#include "platform/foundation/Services.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/net/URLError.h"
#include "platform/runloop/Clock.h"
#include "platform/ui/Device.h"
#include "platform/ui/Screen.h"

namespace orbis {

namespace {

// Kept unescaped by getURLEncoded besides letters and digits.
constexpr std::string_view kFormUnescapedMarks = "._";
constexpr std::string_view kPostMethod = "POST";
constexpr std::string_view kOrbisVersion = "pr-SPEC-ATATA-20101223";
constexpr std::string_view kFormContentType = "application/x-www-form-urlencoded";
constexpr std::string_view kDeviceInfoUploadHeader = "X-Orbis-Ph";
constexpr std::string_view kWiFiNetType = "wifi";
constexpr std::string_view kCarrierNetType = "carrier";
constexpr std::string_view kDefaultTestAdActionType = "web";
constexpr std::string_view kTestModeMessage = "Orbis: Test-Mode is on, test ads will be served.\n Make sure "
                                              "to set test-mode to false before submitting to App Store";

constexpr std::array<std::string_view, 3> kRequestActivities = {"AdRequest", "DeviceInfoUpload", "AdClick"};

std::string_view requestActivity(int type) {
    return type >= 0 && type < static_cast<int>(kRequestActivities.size()) ? kRequestActivities[type] : "";
}

bool isWebURL(const std::optional<platform::URL>& url) {
    if (!url || !url->host() || url->host()->empty())
        return false;
    auto scheme = url->scheme();
    return scheme == "http" || scheme == "https";
}

void appendPair(std::string& out, std::string_view name, const std::optional<std::string>& value) {
    if (value)
        out.append(name).append(APIRequest::getURLEncoded(*value));
}

// "Host" names the port too when the URL has one, as HTTP requires.
std::string hostHeader(const platform::URL& url) {
    std::string host = url.host().value_or("");
    if (auto port = url.port())
        host += ":" + std::to_string(*port);
    return host;
}

} // namespace

APIRequest::APIRequest(int type) : serverRequestType(type) {}

APIRequest::~APIRequest() {
    if (urlConnection)
        urlConnection->cancel();
}

std::string APIRequest::adServerURL(bool testMode) {
    const std::string base = platform::servicesBaseURL();
    if (testMode) {
        platform::logLine(kTestModeMessage);
        return base + std::string(kTestAdPath);
    }
    const std::string live = base + std::string(kLiveAdPath);
    auto& defaults = platform::UserDefaults::standard();
    auto stamp = defaults.objectForKey(kOrbisCachedTimestampKey);
    auto server = defaults.stringForKey(kOrbisCachedServerKey);
    if (!stamp || !stamp->number() || !server)
        return live;
    // A timestamp in the future (the wall clock was set back) does not extend the life.
    double elapsed = std::trunc(platform::Clock::current().now() - *stamp->number());
    std::int64_t life = kDefaultCachedLifeSeconds;
    if (auto stored = defaults.objectForKey(kOrbisCachedLifeKey); stored && stored->number())
        life = stored->intOr(kDefaultCachedLifeSeconds);
    if (elapsed >= 0 && elapsed < static_cast<double>(life))
        return *server;
    return live;
}

bool APIRequest::setupRequest(std::string_view url, const UserInfo& userData,
                              std::string_view requestMethod) {
    urlRequest.reset();
    auto parsed = platform::URL::parse(url);
    if (!isWebURL(parsed))
        return false;
    platform::URLRequest request(*parsed, platform::URLRequestCachePolicy::ReloadIgnoringLocalCacheData,
                                 kTimeoutSeconds);
    request.setHTTPMethod(std::string(requestMethod));
    urlRequest = std::move(request);
    if (requestMethod == kPostMethod)
        setHTTPHeaderFields(userData, *parsed, adRequestPostBodyUsing(userData));
    return true;
}

void APIRequest::sendRequest() {
    if (urlConnection)
        urlConnection->cancel();
    urlConnection.reset();
    statusFailure_.reset();
    if (!urlRequest) {
        sendError(std::nullopt);
        return;
    }
    receivedData.clear();
    urlConnection = platform::URLConnection::create(*urlRequest, shared_from_this(), false,
                                                    platform::URLConnection::DelegateHold::Weak);
    urlConnection->setMaximumBodyLength(kMaximumReplyBytes);
    urlConnection->start();
}

void APIRequest::cancel() {
    if (urlConnection)
        urlConnection->cancel();
    clear();
}

std::string APIRequest::adRequestPostBodyUsing(const UserInfo& userData) const {
    if (serverRequestType != AdRequest)
        return getApplicationPostBodyString(userData);
    std::string delegatePart = getSDKDelegatePostBodyString(userData);
    std::string body = delegatePart.empty()
                           ? getDevicePostBodyString(userData) + "&" + getApplicationPostBodyString(userData)
                           : delegatePart + "&" + getDevicePostBodyString(userData) + "&" +
                                 getApplicationPostBodyString(userData);
    platform::logLine("Orbis ad request post body start:");
    platform::logLine(decodedURLString(body));
    platform::logLine("Orbis ad request post body end:");
    return body;
}

std::string APIRequest::getSDKDelegatePostBodyString(const UserInfo& u) {
    std::string out;
    appendPair(out, "u-postalCode=", u.postalCode);
    appendPair(out, "&u-areaCode=", u.areaCode);
    appendPair(out, "&u-dateOfBirth=", u.dateOfBirth);
    if (u.gender != 0)
        out.append("&u-gender=").append(u.gender == 1 ? "M" : "F");
    appendPair(out, "&p-keywords=", u.keywords);
    appendPair(out, "&p-type=", u.searchString);
    if (u.income != 0)
        out.append("&u-income=").append(std::to_string(static_cast<long>(u.income)));
    if (u.education != 0)
        out.append("&u-education=").append(std::to_string(u.education));
    if (u.ethnicity != 0)
        out.append("&u-ethnicity=").append(std::to_string(u.ethnicity));
    if (u.age != 0)
        out.append("&u-age=").append(std::to_string(u.age));
    appendPair(out, "&u-interests=", u.interests);
    if (u.paramsDictionary)
        for (const auto& [key, value] : *u.paramsDictionary)
            out.append("&").append(getURLEncoded(key)).append("=").append(getURLEncoded(value));
    if (out.size() > 2 && out.front() == '&')
        out.erase(0, 1);
    return out;
}

std::string APIRequest::getDevicePostBodyString(const UserInfo& u) {
    std::string out = "u-id=" + getURLEncoded(u.deviceId.value_or(""));
    out += "&d-localization=" + getURLEncoded(u.localization.value_or(""));
    out += "&d-netType=" + getURLEncoded(u.onWifi ? kWiFiNetType : kCarrierNetType);
    out += "&d-deviceModel=" + getURLEncoded(u.deviceModel.value_or(""));
    out += "&d-deviceSystemName=" + getURLEncoded(u.deviceSystemName.value_or(""));
    out += "&d-deviceSystemVersion=" + getURLEncoded(u.deviceSystemVersion.value_or(""));
    appendPair(out, "&d-deviceName=", u.deviceName);
    appendPair(out, "&d-deviceMachineHW=", u.deviceMachineHW);
    appendPair(out, "&d-deviceModelCodeNoHW=", u.deviceModelHW);
    appendPair(out, "&d-deviceCpuFqHW=", u.deviceCpuFqHW);
    appendPair(out, "&d-deviceCpuFqMaxHW=", u.deviceCpuFqMaxHW);
    appendPair(out, "&d-deviceRamHW=", u.deviceRAMHW);
    appendPair(out, "&d-deviceCpuTHW=", u.deviceCpuTypeHW);
    appendPair(out, "&d-deviceCpuSTHW=", u.deviceCpuSubTypeHW);
    appendPair(out, "&d-deviceBTHW=", u.deviceBTHW);
    appendPair(out, "&d-deviceStorageSize=", u.deviceStorageSize);
    auto bounds = platform::Screen::main().bounds();
    char size[64];
    std::snprintf(size, sizeof size, "&d-device-screen-size=%.0fX%.0f", bounds.size.width,
                  bounds.size.height);
    out += size;
    return out;
}

std::string APIRequest::getApplicationPostBodyString(const UserInfo& u) const {
    std::string out;
    if (u.siteId)
        out += "ob-siteid=" + getURLEncoded(*u.siteId);
    out += "&ob-banner-size=" + u.adUnitSlot;
    out += "&ob-version=" + getURLEncoded(kOrbisVersion);
    out += "&ob-ads=1";
    out += "&h-user-agent=" + getURLEncoded(u.userAgent.value_or(""));
    out += "&u-Orbis_iPhoneSDKVersion=" + getURLEncoded(kOrbisSDKVersion);
    out += "&u-appBId=" + getURLEncoded(u.appBId.value_or(""));
    out += "&u-appDNM=" + getURLEncoded(u.appDisplayName.value_or(""));
    out += "&u-appVer=" + getURLEncoded(u.appVer.value_or(""));
    if (u.hRefKey && u.hRefTag)
        out += "&" + getURLEncoded(*u.hRefKey) + "=" + getURLEncoded(*u.hRefTag);
    out += "&orientation=" + std::to_string(static_cast<int>(platform::Device::current().orientation()));
    out += "&format=xhtml";
    if (u.validGeoInfo)
        out += "&u-lat_lon_accu=" + getURLEncoded(currentLocationStr(u));
    out += "&requestactivity=" + std::string(requestActivity(serverRequestType));
    return out;
}

void APIRequest::setHTTPHeaderFields(const UserInfo& u, const platform::URL& requestUrl,
                                     std::string_view postBody) {
    if (!urlRequest)
        return;
    auto& r = *urlRequest;
    r.setValue(u.testMode ? "YES" : "NO", "x-orbis-testmode");
    r.setValue(u.siteId.value_or(""), "x-orbis-siteid");
    r.setValue(u.userAgent.value_or(""), "user-agent");
    r.setValue(hostHeader(requestUrl), "Host");
    r.setValue(u.adUnitSlot, "ob-banner-size");
    if (u.phoneUserAgent)
        r.setValue(*u.phoneUserAgent, "x-orbis-phone-useragent");
    if (u.testMode)
        r.setValue(u.testModeAdActionType.value_or(std::string(kDefaultTestAdActionType)),
                   "X-Orbis-AdActionType");
    r.setValue("iphone-uuid=" + u.deviceId.value_or("") + ";", "cookie");
    r.setValue(kFormContentType, "content-type");
    r.setValue(std::to_string(postBody.size()), "content-length");
    r.setHTTPMethod(std::string(kPostMethod));
    r.setHTTPBody(postBody);
}

std::string APIRequest::currentLocationStr(const UserInfo& u) {
    if (!u.validGeoInfo)
        return {};
    char text[96];
    std::snprintf(text, sizeof text, "%f,%f,%li", u.lat, u.lon,
                  platform::saturatingCast<long>(u.locAccuracy));
    return text;
}

std::string APIRequest::getURLEncoded(std::string_view text) {
    return platform::percentEncode(text, kFormUnescapedMarks);
}

std::string APIRequest::decodedURLString(std::string_view text) {
    return platform::percentDecode(text, false).value_or(std::string(text));
}

bool APIRequest::deviceInfoUploadPostBodyUsing(const UserInfo& u, std::string_view requestUrl) {
    urlRequest.reset();
    auto parsed = platform::URL::parse(platform::percentEscapeURLString(requestUrl));
    if (!isWebURL(parsed))
        return false;
    urlRequest = platform::URLRequest(*parsed, platform::URLRequestCachePolicy::ReloadIgnoringLocalCacheData,
                                      kTimeoutSeconds);
    std::string body = getDevicePostBodyString(u) + "&" + getApplicationPostBodyString(u);
    setHTTPHeaderFields(u, *parsed, body);
    return true;
}

void APIRequest::uploadDeviceInfo() {
    if (!urlRequest)
        return;
    // Fire and forget: the connection keeps itself alive and its outcome is dropped.
    auto connection = platform::URLConnection::create(*urlRequest, nullptr, false);
    connection->setMaximumBodyLength(kMaximumReplyBytes);
    connection->start();
}

void APIRequest::storeCachedUrl(const std::optional<std::string>& server,
                                const std::optional<std::string>& life) {
    auto& defaults = platform::UserDefaults::standard();
    if (server && isWebURL(platform::URL::parse(*server)))
        defaults.setString(kOrbisCachedServerKey, *server);
    if (life)
        if (std::int64_t seconds = leadingInteger<std::int64_t>(*life); seconds != 0)
            defaults.setObject(kOrbisCachedLifeKey, platform::Value(static_cast<long long>(seconds)));
    defaults.setDouble(kOrbisCachedTimestampKey, platform::Clock::current().now());
}

void APIRequest::connectionDidReceiveResponse(platform::URLConnection& connection,
                                              const platform::URLResponse& response) {
    if (!isCurrent(connection))
        return;
    auto keepAlive = shared_from_this();
    platform::callGuarded("Orbis: reply headers", [&] {
        for (const auto& [name, value] : response.allHeaderFields().fields()) {
            if (name == kDeviceInfoUploadHeader) {
                if (auto manager = delegate.lock())
                    manager->startDeviceInfoUploadOnUrl(value);
                break;
            }
        }
        if (auto server = response.valueForHTTPHeaderField(kOrbisCachedServerKey))
            storeCachedUrl(server, response.valueForHTTPHeaderField(kOrbisCachedLifeKey));
    });
    receivedData.clear();
    if (response.statusCode() < 200 || response.statusCode() > 299)
        statusFailure_ =
            platform::makeURLError(platform::kURLErrorBadServerResponse, response.url().absoluteString());
}

void APIRequest::connectionDidReceiveData(platform::URLConnection& connection, const platform::Data& data) {
    if (isCurrent(connection) && !statusFailure_)
        receivedData.insert(receivedData.end(), data.begin(), data.end());
}

void APIRequest::connectionDidFinishLoading(platform::URLConnection& connection) {
    if (!isCurrent(connection))
        return;
    auto keepAlive = shared_from_this();
    platform::Data data = std::move(receivedData);
    auto failure = std::move(statusFailure_);
    clear();
    if (failure) {
        sendError(failure);
        return;
    }
    if (delegate.lock() && callBack)
        platform::callGuarded("Orbis: reply", [&] { callBack(data); });
}

void APIRequest::connectionDidFailWithError(platform::URLConnection& connection,
                                            const platform::Error& error) {
    if (!isCurrent(connection))
        return;
    auto keepAlive = shared_from_this();
    clear();
    sendError(error);
}

void APIRequest::clear() {
    urlConnection.reset();
    receivedData.clear();
    urlRequest.reset();
    statusFailure_.reset();
}

void APIRequest::sendError(const std::optional<platform::Error>& error) {
    if (delegate.lock() && errorCallBack)
        platform::callGuarded("Orbis: request failure", [&] { errorCallBack(error); });
}

} // namespace orbis
