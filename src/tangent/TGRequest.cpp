#include "tangent/TGRequest.h"

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Services.h"
#include "platform/foundation/Strings.h"
#include "platform/foundation/URL.h"
#include "tangent/TGAdWidget.h"
#include "tangent/TGCategories.h"
#include "tangent/TGDeviceInfo.h"
#include "vellum/tracking/VellumAnalyticsManager.h"
#include "tangent/TGLog.h"

namespace tangent {

namespace {

constexpr std::string_view kAdsSuffix = "/ads";
constexpr std::string_view kDefaultBasePath = "/tangent/a";
constexpr std::string_view kSupportedAppKey = "mt-supportedapp";
constexpr std::string_view kUserAgentHeader = "User-Agent";
constexpr int kCarrierData = 1;
constexpr int kWiFi = 2;

struct WordRow {
    int value;
    std::string_view word;
};
// Adult-content and format words; any value not listed gives the fallback word.
constexpr WordRow kAdultContentWords[] = {{0, "allowed"}, {2, "only"}};
constexpr std::string_view kAdultContentFallback = "notallowed";
constexpr WordRow kFormatWords[] = {{0, "xml"}, {2, "wml"}};
constexpr std::string_view kFormatFallback = "xhtml";
constexpr WordRow kSpeedWords[] = {{kCarrierData, "cell"}, {kWiFi, "wifi"}};

template <std::size_t N>
std::optional<std::string> wordFor(const WordRow (&table)[N], int value, std::optional<std::string_view> fallback) {
    for (const auto& row : table)
        if (row.value == value)
            return std::string(row.word);
    if (fallback)
        return std::string(*fallback);
    return std::nullopt;
}

const char* flag(bool value) {
    return value ? "t" : "f";
}

bool isEmpty(const std::optional<std::string>& value) {
    return !value || value->empty();
}

std::optional<std::string> infoString(std::string_view key) {
    auto value = platform::Bundle::main().objectForInfoDictionaryKey(key);
    if (value && value->string())
        return *value->string();
    return std::nullopt;
}

// The body in UTF-8, from the charset the reply named; nullopt when it cannot be decoded.
std::optional<std::string> decodeBody(const std::vector<std::uint8_t>& data, std::string_view encoding) {
    std::string bytes(data.begin(), data.end());
    const std::string name = platform::toLower(encoding);
    if (name == "utf-8" || name == "utf8" || name == "us-ascii" || name == "ascii")
        return platform::isValidUTF8(bytes) ? std::optional(bytes) : std::nullopt;
    if (name == "iso-8859-1" || name == "latin1" || name == "iso_8859-1") {
        std::string text;
        for (unsigned char c : bytes) {
            if (c < 0x80) {
                text += static_cast<char>(c);
            } else {
                text += static_cast<char>(0xC0 | (c >> 6));
                text += static_cast<char>(0x80 | (c & 0x3F));
            }
        }
        return text;
    }
    return std::nullopt;
}

} // namespace

std::shared_ptr<TGRequest> TGRequest::create(std::weak_ptr<TGRequestDelegate> delegate) {
    return std::shared_ptr<TGRequest>(new TGRequest(std::move(delegate)));
}

TGRequest::TGRequest(std::weak_ptr<TGRequestDelegate> delegateIn)
    : apiVersion(TGAdWidget::version()), device(&TGDeviceInfo::instance()), delegate(std::move(delegateIn)),
      baseURL_(defaultBaseURL() + std::string(kAdsSuffix)) {}

TGRequest::~TGRequest() {
    stopRequest();
}

std::string TGRequest::defaultBaseURL() {
    return platform::servicesBaseURL() + std::string(kDefaultBasePath);
}

void TGRequest::setBaseURL(const std::optional<std::string>& base) {
    if (base)
        baseURL_ = *base + std::string(kAdsSuffix);
}

void TGRequest::setProtocolVersion(const std::optional<std::string>& version) {
    if (version)
        protocolVersion_ = *version;
}

void TGRequest::forRequestAddParameter(std::map<std::string, std::string>& pairs,
                                       const std::optional<std::string>& value, const std::string& key) {
    if (value)
        pairs[key] = *value;
}

std::map<std::string, std::string> TGRequest::queryPairs() const {
    std::map<std::string, std::string> pairs;
    auto add = [&pairs](const char* key, const std::optional<std::string>& value) {
        forRequestAddParameter(pairs, value, key);
    };
    std::optional<std::string> count;
    if (maxNumberOfAds >= 1)
        count = std::to_string(maxNumberOfAds);
    std::optional<std::string> locationText;
    if (location)
        locationText = platform::formatString("%f,%f", location->coordinate().latitude,
                                              location->coordinate().longitude);
    const char* orientation = portrait ? "portrait" : "landscape";

    add("version", protocolVersion_);
    add("pub", publisher);
    add("spot", adSpot);
    add("site", site);
    add("a", wordFor(kAdultContentWords, adultContent, kAdultContentFallback));
    add("bts", backToSearch);
    add("c", count);
    add("country", country);
    add("format", wordFor(kFormatWords, format, kFormatFallback));
    add("gip", gatewayIp);
    add("ll", locationText);
    add("q", query);
    add("p", std::to_string(position));
    add("textOnly", flag(textOnly));
    add("mt-tglib", apiVersion);
    add("mt-speed", wordFor(kSpeedWords, networkStatus, std::nullopt));
    add("mt-bundle", bundleId);
    add("mt-bundleVersion", bundleVersion);
    add("mt-mrver", vellum::VellumAnalyticsManager::version());
    add("mt-mrappid", infoString("TGMAppId"));
    add("mt-width", std::to_string(adWidth));
    add("mt-height", std::to_string(adHeight));
    add("mt-orientation", orientation);
    add("mt-interstitial", flag(intersitial));
    if (device) {
        add("client-ip", device->clientIp);
        add("l", device->language);
        add("hid", device->deviceId);
        add("ua", device->userAgent);
        add("mt-model", device->model);
        add("mt-idiom", device->idiom);
        add("mt-osver", "iOS" + platform::replaceAll(device->systemVersion, ".", "_"));
    }
    if (extraParameters)
        for (const auto& [key, value] : *extraParameters)
            pairs[key] = value;
    return pairs;
}

std::string TGRequest::buildRequest() {
    if (baseURL_.empty())
        throw InvalidBaseURLException();
    if (protocolVersion_.empty())
        throw InvalidProtocolVersionException();
    if (isEmpty(publisher))
        throw InvalidPublisherException();
    std::string text = baseURL_ + "?";
    for (const auto& [key, value] : queryPairs())
        appendValueForUrlParameter(text, key, value);
    if (supportedApplications)
        for (const auto& name : *supportedApplications)
            appendValueForUrlParameter(text, kSupportedAppKey, name);
    if (auto owner = delegate.lock())
        owner->modifyUrl(text, *this);
    url_ = text;
    return text;
}

platform::URLRequest TGRequest::prepared(platform::URLRequest request) const {
    request.setCachePolicy(platform::URLRequestCachePolicy::UseProtocolCachePolicy);
    request.setTimeoutInterval(kTimeoutInterval);
    if (device)
        request.setValue(device->userAgent, kUserAgentHeader);
    return request;
}

void TGRequest::fetchAd() {
    if (currentConnection_) {
        TGLog::log("- There is an active connection. New fetch canceled.");
        return;
    }
    auto keepAlive = shared_from_this();
    std::string text;
    try {
        text = buildRequest();
    } catch (const TGRequestBuildException& exception) {
        TGLog::log("- Build Request exception: " + exception.name());
        reportFailure(std::nullopt);
        return;
    }
    auto request = platform::URLRequest::withURLString(text);
    if (!request) {
        reportFailure(std::nullopt);
        return;
    }
    receivedData_.emplace();
    content_.reset();
    headers_ = {};
    encoding_ = "utf-8";
    currentConnection_ = platform::URLConnection::create(prepared(*request), shared_from_this(), false,
                                                         platform::URLConnection::DelegateHold::Weak);
    currentConnection_->setMaximumBodyLength(kMaximumContentBytes);
    currentConnection_->start();
}

void TGRequest::stopRequest() {
    std::lock_guard lock(stopLock_);
    if (!currentConnection_)
        return;
    currentConnection_->cancel();
    currentConnection_.reset();
    receivedData_.reset();
    content_.reset();
}

void TGRequest::dropConnection() {
    std::lock_guard lock(stopLock_);
    currentConnection_.reset();
    receivedData_.reset();
}

void TGRequest::reportFailure(const std::optional<platform::Error>& error) {
    if (auto owner = delegate.lock())
        platform::callGuarded("Tangent request failure", [&] { owner->requestDidFailWithError(*this, error); });
}

std::optional<platform::URLRequest>
TGRequest::connectionWillSendRequestRedirectResponse(platform::URLConnection&, const platform::URLRequest& request,
                                                     const platform::URLResponse*) {
    return prepared(request);
}

void TGRequest::connectionDidReceiveResponse(platform::URLConnection& connection,
                                             const platform::URLResponse& response) {
    if (!isCurrent(connection))
        return;
    encoding_ = response.textEncodingName().value_or("utf-8");
    headers_ = response.allHeaderFields();
    TGLog::log(platform::formatString("- Status CODE: %d", response.statusCode()));
    if (response.statusCode() < 200 || response.statusCode() > 299) {
        auto keepAlive = shared_from_this();
        stopRequest();
        reportFailure(std::nullopt);
        return;
    }
    if (receivedData_)
        receivedData_->clear();
}

void TGRequest::connectionDidReceiveData(platform::URLConnection& connection, const platform::Data& data) {
    if (isCurrent(connection) && receivedData_)
        receivedData_->insert(receivedData_->end(), data.begin(), data.end());
}

void TGRequest::connectionDidFinishLoading(platform::URLConnection& connection) {
    if (!isCurrent(connection))
        return;
    auto keepAlive = shared_from_this();
    auto decoded = receivedData_ ? decodeBody(*receivedData_, encoding_) : std::nullopt;
    dropConnection();
    if (!decoded || decoded->empty()) {
        content_.reset();
        reportFailure(std::nullopt);
        return;
    }
    content_ = std::move(decoded);
    if (auto owner = delegate.lock())
        platform::callGuarded("Tangent request finished", [&] { owner->requestDidFinishLoading(*this); });
}

void TGRequest::connectionDidFailWithError(platform::URLConnection& connection, const platform::Error& error) {
    if (!isCurrent(connection))
        return;
    auto keepAlive = shared_from_this();
    content_.reset();
    dropConnection();
    reportFailure(error);
}

} // namespace tangent
