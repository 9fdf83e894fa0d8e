#include "meridian/MRAdView.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "meridian/MRCommon.h"
#include "meridian/MRHandshake.h"
#include "meridian/MRVideoCache.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/DeviceHome.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/Locale.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Numbers.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/Services.h"
#include "platform/foundation/Strings.h"
#include "platform/foundation/SystemFacts.h"
#include "platform/foundation/URL.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/runloop/Clock.h"
#include "platform/ui/Animation.h"
#include "platform/ui/Application.h"
#include "platform/ui/Device.h"
#include "platform/ui/Window.h"

namespace meridian {

namespace {

constexpr std::string_view kApidDefaultsKey = "MRApid";
constexpr std::string_view kApidInfoKey = "APID";
constexpr std::string_view kDisplayNameInfoKey = "CFBundleDisplayName";
constexpr std::string_view kRegisterDefaultsFormat = "_MRIRegister";
constexpr std::string_view kSDKFolder = "mrsdk";
constexpr std::string_view kJSONMimeType = "application/json";
constexpr std::string_view kDefaultMimeType = "text/html";
constexpr std::string_view kRefreshHeaderKey = "X-MR-Refresh";
constexpr std::string_view kManualRedirectHeaderKey = "X-MR-ManualRedirect";
constexpr std::array<std::string_view, 2> kVideoHeaderKeys = {"X-MR-Video", "X-Mm-Video"};
constexpr std::string_view kOpenInBrowserHeaderKey = "X-Openinbrowser";
constexpr std::string_view kCachedVideoSystemVersion = "3.2";
constexpr double kResizeSmallest = 54;
constexpr double kResizeBannerHeight = 53;
constexpr double kResizeDuration = 0.6;
constexpr double kChildFadeDuration = 0.5;
constexpr std::string_view kMRBrowserScheme = "mrbrowser";
constexpr std::string_view kMRBrowserPrefix = "mrbrowser://";
// Link schemes that leave the application instead of opening the landing page.
constexpr std::array<std::string_view, 3> kLeavingSchemes = {"sms", "tel", "mrbrowser"};

// Ad types: number, query name, frame rule.
enum class FrameRule { Caller, Rectangle, Zero };
struct AdTypeRow {
    int number;
    std::string_view name;
    bool fullScreen;
    FrameRule frame;
};
constexpr std::array<AdTypeRow, 5> kAdTypes = {{
    {1, "MRBannerAdTop", false, FrameRule::Caller},
    {2, "MRBannerAdBottom", false, FrameRule::Caller},
    {3, "MRBannerAdRectangle", false, FrameRule::Rectangle},
    {4, "MRFullScreenAdLaunch", true, FrameRule::Zero},
    {5, "MRFullScreenAdTransition", true, FrameRule::Zero},
}};
constexpr platform::Size kRectangleSize{300, 250};
constexpr platform::Size kUnknownTypeSize{320, 53};

const AdTypeRow* adTypeRow(int type) {
    for (const auto& row : kAdTypes)
        if (row.number == type)
            return &row;
    return nullptr;
}

// Request-data keys whose values must come from a fixed set (compared exactly).
struct MetaDataSet {
    std::string_view key;
    std::array<std::string_view, 9> values;
};
constexpr std::array<MetaDataSet, 4> kMetaDataSets = {{
    {"gender", {"male", "female", "unknown"}},
    {"marital", {"single", "married", "divorced", "swinger", "relationship", "engaged"}},
    {"ethnicity",
     {"hispanic", "africanamerican", "asian", "indian", "middleeastern", "nativeamerican", "pacificislander",
      "white", "other"}},
    {"orientation", {"straight", "bisexual", "notsure", "gay"}},
}};

void checkMetaData(const std::string& key, const std::string& value) {
    for (const auto& set : kMetaDataSets) {
        if (set.key != key)
            continue;
        std::vector<std::string> allowed;
        for (auto v : set.values)
            if (!v.empty()) {
                if (v == value)
                    return;
                allowed.emplace_back(v);
            }
        throw MRException("Invalid Meta Data", "The key provided " + key +
                                                   " must have one of the following value " +
                                                   platform::join(allowed, ","));
    }
}

// Compares dotted version texts numerically ("3.10" > "3.2").
int compareVersions(std::string_view a, std::string_view b) {
    auto pa = platform::split(a, ".");
    auto pb = platform::split(b, ".");
    for (std::size_t i = 0; i < std::max(pa.size(), pb.size()); ++i) {
        long x = i < pa.size() ? platform::integerValue(pa[i]) : 0;
        long y = i < pb.size() ? platform::integerValue(pb[i]) : 0;
        if (x != y)
            return x < y ? -1 : 1;
    }
    return 0;
}

std::string valueText(const platform::Value& value) {
    if (const auto* s = value.string())
        return *s;
    return value.isNull() ? std::string() : value.toJSON();
}

} // namespace

// ---- MRAdView ----

template <typename T>
std::shared_ptr<MRAdView>
makeAdView(const platform::Rect& frame, int type, const std::optional<std::string>& apid,
           const std::shared_ptr<MRAdDelegate>& delegate, bool loadAd, bool startTimer) {
    std::shared_ptr<T> view(new T(frame));
    view->setUp(type, apid, delegate, loadAd, startTimer);
    return view;
}

std::shared_ptr<MRAdView> MRAdView::adWithFrame(const platform::Rect& frame, int type,
                                                std::optional<std::string> apid,
                                                const std::shared_ptr<MRAdDelegate>& delegate, bool loadAd,
                                                bool startTimer) {
    if (!delegate)
        throw MRException("Invalid delegate", "delegate must not be nil");
    const auto* row = adTypeRow(type);
    if (!row)
        return makeAdView<MRBannerAdView>(platform::Rect{frame.origin, kUnknownTypeSize}, 1, apid, delegate,
                                          loadAd, startTimer);
    switch (row->frame) {
    case FrameRule::Zero:
        return makeAdView<MRIntersticialAdView>(platform::Rect{}, type, apid, delegate, loadAd, startTimer);
    case FrameRule::Rectangle:
        return makeAdView<MRBannerAdView>(platform::Rect{frame.origin, kRectangleSize}, type, apid, delegate,
                                          loadAd, startTimer);
    case FrameRule::Caller:
        break;
    }
    return makeAdView<MRBannerAdView>(frame, type, apid, delegate, loadAd, startTimer);
}

std::shared_ptr<MRAdView> MRAdView::interstitialWithType(int type, std::optional<std::string> apid,
                                                         const std::shared_ptr<MRAdDelegate>& delegate,
                                                         bool loadAd) {
    if (!delegate)
        throw MRException("Invalid delegate", "delegate must not be nil");
    const auto* row = adTypeRow(type);
    if (!row || !row->fullScreen)
        return nullptr;
    return makeAdView<MRIntersticialAdView>(platform::Rect{}, type, apid, delegate, loadAd, false);
}

std::string MRAdView::version() {
    auto parts = platform::split(kMRSDKVersion, "-");
    return parts.size() == 2 ? parts[0] : std::string(kMRSDKVersion);
}

bool MRAdView::startSynchronousConversionTrackerWithGoalId(const std::optional<std::string>& goalId) {
    if (!goalId)
        throw MRException("Invalid goal id", "goal id must not be nil");
    auto displayName = platform::Bundle::main().objectForInfoDictionaryKey(kDisplayNameInfoKey);
    std::string key =
        (displayName ? displayName->stringOr("") : std::string()) + std::string(kRegisterDefaultsFormat);
    auto& defaults = platform::UserDefaults::standard();
    std::string firstLaunch = defaults.boolForKey(key) ? "0" : "1";
    using platform::percentEncodeQueryValue;
    auto request = platform::URLRequest::withURLString(
        platform::servicesBaseURL() + std::string(kMRConversionPath) +
        "?goalid=" + percentEncodeQueryValue(*goalId) +
        "&auid=" + percentEncodeQueryValue(mrDeviceFacts().uniqueIdentifier) + "&firstlaunch=" + firstLaunch);
    if (!request)
        return false;
    auto reply =
        platform::URLConnection::sendSynchronousRequest(*request, MRGenericAdView::kMaximumReplyBytes);
    // A server error is no report: the flag stays unset so the next report says first launch.
    if (reply.error || !reply.response || reply.response->statusCode() < 200 ||
        reply.response->statusCode() > 299)
        return false;
    defaults.setBool(key, true);
    defaults.synchronize();
    return true;
}

// ---- MRGenericAdView: creation ----

void MRGenericAdView::setUp(int type, const std::optional<std::string>& apid,
                            const std::shared_ptr<MRAdDelegate>& delegate, bool loadAd, bool startTimerFlag) {
    // A link or a file at the folder's name is left alone: the views run without a cache.
    platform::DeviceHome::makeOwnFolder(platform::DeviceHome::library() / kSDKFolder);
    adData_.clear();
    setAutoresizesSubviews(true);
    setClipsToBounds(true);
    setBackgroundColor(platform::Color::clearColor());
    auto me = self();
    platform::Rect inner(0, 0, frame().width(), frame().height());
    htmlAdView_ = MRHTMLAdView::create(
        inner, std::shared_ptr<MRHTMLAdViewDelegate>(me, static_cast<MRHTMLAdViewDelegate*>(this)));
    addSubview(htmlAdView_);
    jsonAdView_ = MRJSONAdView::create(
        inner, std::shared_ptr<MRJSONAdViewDelegate>(me, static_cast<MRJSONAdViewDelegate*>(this)));
    jsonAdView_->setHidden(true);
    addSubview(jsonAdView_);
    enableManualAdRefresh_ = true;
    auto& center = platform::NotificationCenter::defaultCenter();
    center.observe<MRGenericAdView>(
        me, kMRCachingBeganNotification,
        [](MRGenericAdView& v, const platform::Notification&) { v.enableManualAdRefresh_ = false; });
    center.observe<MRGenericAdView>(
        me, kMRCachingEndedNotification,
        [](MRGenericAdView& v, const platform::Notification&) { v.enableManualAdRefresh_ = true; });
    center.observe<MRGenericAdView>(me, kMRResizeAdToHeightNotification,
                                    [](MRGenericAdView& v, const platform::Notification& n) {
                                        const auto* height = std::any_cast<platform::Value>(&n.object);
                                        if (!height || !height->number())
                                            return;
                                        std::weak_ptr<MRGenericAdView> weak = v.self();
                                        double h = *height->number();
                                        platform::performOnMain([weak, h] {
                                            if (auto view = weak.lock())
                                                view->resizeToHeight(h);
                                        });
                                    });

    isStatusBarHidden_ = platform::Application::shared().isStatusBarHidden();
    center.observe<MRGenericAdView>(me, kMRUpdateStatusBarVisibilityNotification,
                                    [](MRGenericAdView& v, const platform::Notification& n) {
                                        const auto* hidden = std::any_cast<platform::Value>(&n.object);
                                        if (hidden && hidden->number())
                                            v.isStatusBarHidden_ = *hidden->number() != 0;
                                    });
    center.observe<MRGenericAdView>(
        me, kMRShowStatusBarIfNeededNotification,
        [](MRGenericAdView& v, const platform::Notification&) { v.showStatusBar(); });

    delegate_ = delegate;
    adType_ = type;
    setApid(apid);
    MRHandshake::sharedHandshake().setAdType(type);

    // initAdWithTimer:getAd:
    enableAdRefresh_ = startTimerFlag;
    updateTimerDuration();
    askRequestData();
    setApid(std::nullopt);
    if (startTimerFlag)
        startTimer();
    if (!loadAd)
        return;
    try {
        connectOrPlayCache();
    } catch (...) {
        // The caller gets no view: its timer must not keep it alive.
        stopTimer();
        throw;
    }
}

MRGenericAdView::~MRGenericAdView() {
    platform::NotificationCenter::defaultCenter().removeObserver(static_cast<const void*>(this));
    if (connection_)
        connection_->cancel();
    if (refreshAdTimer_)
        refreshAdTimer_->invalidate();
    // The landing page does not outlive its ad view; nobody is left to hear its close.
    if (auto overlay = std::move(overlayView_))
        overlay->closeWithAnimation(false);
}

std::string MRGenericAdView::adTypeName(int type) {
    const auto* row = adTypeRow(type);
    return std::string(row ? row->name : kAdTypes[0].name);
}

platform::Dictionary MRGenericAdView::UIDeviceValues() {
    auto& device = platform::Device::current();
    const auto& facts = mrDeviceFacts();
    return platform::Dictionary{
        {"device_id", facts.uniqueIdentifier},
        {"device_name", device.name()},
        {"device_type", device.systemName()},
        {"device_version", facts.systemVersion},
        {"device_localized_model", device.localizedModel()},
        {"device_model", facts.machine.empty() ? facts.model : facts.machine},
        // The hardware model number; "" when the machine does not tell it.
        {"device_model_number", platform::SystemFacts::sysctlString("hw.model").value_or("")},
    };
}

bool MRGenericAdView::isCachedVideoSupported(std::string_view systemVersion) {
    return compareVersions(systemVersion, kCachedVideoSystemVersion) >= 0;
}

std::string MRGenericAdView::urlEncode(std::string_view text) {
    return platform::percentEncodeQueryValue(text);
}

void MRGenericAdView::setApid(const std::optional<std::string>& apid) {
    if (apid) {
        apid_ = *apid;
    } else if (apid_.empty()) {
        auto info = platform::Bundle::main().objectForInfoDictionaryKey(kApidInfoKey);
        std::string fromInfo = info ? info->stringOr("") : std::string();
        apid_ = fromInfo.empty() ? std::string(kDefaultApid) : fromInfo;
    }
    auto& defaults = platform::UserDefaults::standard();
    defaults.setString(kApidDefaultsKey, apid_);
    defaults.synchronize();
}

std::string MRGenericAdView::getValueFromRequestParameters(std::string_view key) const {
    auto it = additionalRequestParameters_.find(key);
    return it == additionalRequestParameters_.end() ? std::string() : valueText(it->second);
}

void MRGenericAdView::setFrame(const platform::Rect& frame) {
    platform::Rect inner(0, 0, frame.width(), frame.height());
    if (htmlAdView_)
        htmlAdView_->setFrame(inner);
    if (jsonAdView_)
        jsonAdView_->setFrame(inner);
    View::setFrame(frame);
}

bool MRGenericAdView::isAccelerometerEnabled() const {
    auto delegate = delegate_.lock();
    if (!delegate)
        return true;
    return delegate->accelerometerEnabled().value_or(true);
}

void MRGenericAdView::askRequestData() {
    if (auto delegate = delegate_.lock())
        if (auto data = delegate->requestData())
            additionalRequestParameters_ = *data;
}

// ---- Request ----

std::string MRGenericAdView::extraParams() {
    askRequestData();
    std::string extra;
    for (const auto& [key, value] : additionalRequestParameters_) {
        std::string text = valueText(value);
        checkMetaData(key, text);
        extra += "&" + urlEncode(key) + "=" + urlEncode(text);
    }
    extra += MRHandshake::sharedHandshake().isVideoAdRequestAllowed() ? "&video=true" : "&video=false";
    auto locale = platform::Locale::current();
    extra += "&language=" + urlEncode(locale.languageCode()) + "&country=" + urlEncode(locale.countryCode());
    const auto& facts = mrDeviceFacts();
    extra += isCachedVideoSupported(facts.systemVersion) ? "&cachedvideo=true" : "&cachedvideo=false";
    return extra;
}

platform::URL MRGenericAdView::adRequestURL() {
    const auto& facts = mrDeviceFacts();
    std::string query = "vellum=false&sdkapid=" + urlEncode(apid_) +
                        "&auid=" + urlEncode(facts.uniqueIdentifier) + "&mrisdk=" + urlEncode(kMRSDKVersion) +
                        "&ua=" + urlEncode(facts.userAgent) + "&dv=" + urlEncode(facts.systemVersion) +
                        "&dm=" + urlEncode(facts.machine) + "&adtype=" + urlEncode(adType()) +
                        platform::formatString("&hswd=%1.0f&hsht=%1.0f", frame().width(), frame().height()) +
                        "&accelerometer=" + (isAccelerometerEnabled() ? "true" : "false") + extraParams();
    auto url = platform::URL::parse(mrAdServerBaseURL() + std::string(kMRGetAdPath) + "?" + query);
    if (!url)
        throw std::runtime_error("no ad server address");
    return *url;
}

void MRGenericAdView::connectOrPlayCache() {
    if (!MRHandshake::sharedHandshake().isAdCallAllowed()) {
        mrLog("Ad requests have been disabled.");
        std::weak_ptr<MRGenericAdView> weak = self();
        platform::RunLoop::main().perform([weak] {
            if (auto view = weak.lock())
                view->reportFailure();
        });
        return;
    }
    if (playCachedVideo())
        return;
    MRVideoCache::removeExpiredCaches();
    auto url = adRequestURL();
    platform::logLine("AD URL: " + url.absoluteString());
    platform::URLRequest request(url);
    request.setValue(kMRUserAgent, "User-Agent");
    request.setValue(kMRUserAgent, "User_Agent");
    if (connection_)
        connection_->cancel();
    connection_.reset();
    adData_.clear();
    replyStatus_ = 0;
    connection_ =
        platform::URLConnection::create(request,
                                        std::shared_ptr<platform::URLConnectionDelegate>(
                                            self(), static_cast<platform::URLConnectionDelegate*>(this)),
                                        false, platform::URLConnection::DelegateHold::Weak);
    connection_->setMaximumBodyLength(kMaximumReplyBytes);
    connection_->start();
}

void MRGenericAdView::connectionDidReceiveResponse(platform::URLConnection& c,
                                                   const platform::URLResponse& r) {
    if (&c != connection_.get())
        return;
    replyStatus_ = r.statusCode();
    openClickInBrowser_ = false;
    if (auto type = r.valueForHTTPHeaderField("Content-Type"))
        adMimeType_ = platform::toLower(*type);
    else
        adMimeType_.clear();
    auto length = r.valueForHTTPHeaderField("Content-Length");
    if (length && platform::integerValue(*length) > 0) {
        for (const auto& [name, value] : r.allHeaderFields().fields()) {
            (void)value;
            if (platform::equalsIgnoringCase(name, kManualRedirectHeaderKey))
                continue;
            if (platform::equalsIgnoringCase(name, kRefreshHeaderKey))
                startTimer();
        }
    }
    for (auto key : kVideoHeaderKeys)
        if (r.valueForHTTPHeaderField(key)) {
            MRHandshake::sharedHandshake().setLastVideoPlayedAt(platform::Clock::current().date());
            break;
        }
    if (auto open = r.valueForHTTPHeaderField(kOpenInBrowserHeaderKey))
        openClickInBrowser_ = platform::boolValue(*open);
}

void MRGenericAdView::connectionDidReceiveData(platform::URLConnection& c, const platform::Data& data) {
    if (&c != connection_.get())
        return;
    adData_.insert(adData_.end(), data.begin(), data.end());
}

void MRGenericAdView::connectionDidFinishLoading(platform::URLConnection& c) {
    if (&c != connection_.get())
        return;
    auto keep = self();
    platform::Data body;
    body.swap(adData_);
    connection_.reset();
    if (body.empty() || replyStatus_ < 200 || replyStatus_ > 299) {
        reportFailure();
        return;
    }
    if (adMimeType_.empty())
        adMimeType_ = kDefaultMimeType;
    if (adMimeType_ == kJSONMimeType)
        jsonAdView_->loadWithAdContents(body);
    else
        htmlAdView_->loadWithAdContents(body);
}

void MRGenericAdView::connectionDidFailWithError(platform::URLConnection& c, const platform::Error&) {
    if (&c != connection_.get())
        return;
    connection_.reset();
    adData_.clear();
    reportFailure();
}

void MRGenericAdView::reportFailure() {
    if (auto delegate = delegate_.lock())
        delegate->adRequestFailed(*this);
}

void MRGenericAdView::htmlAdViewRequestSucceeded(MRHTMLAdView&) {
    if (auto delegate = delegate_.lock())
        delegate->adRequestSucceeded(*this);
}

bool MRGenericAdView::playCachedVideo() {
    auto marker = platform::readPropertyListFile(MRVideoCache::markerPath());
    if (!marker)
        return false;
    const auto* due = marker->find(MRVideoCache::kMarkerKey);
    auto record = due && due->string() ? MRVideoCache::loadFromArchive(*due->string()) : nullptr;
    if (!record)
        return false;
    if (MRVideoCache::cacheFolderIsOwn())
        platform::FileManager::removeItem(MRVideoCache::markerPath());
    // A record without its ad has nothing to play: the view asks the server instead.
    if (!record->ad() || MRHandshake::sharedHandshake().isDeferredTimeoutExpired() || record->isCacheExpired())
        return false;
    jsonAdView_->playVideoAdWithCache(record);
    return true;
}

void MRGenericAdView::jsonAdViewVideoAdFailed(MRJSONAdView&) {
    auto keep = self();
    if (auto delegate = delegate_.lock()) {
        delegate->adRequestFailed(*this);
        delegate->adRequestIsCaching(*this);
    }
}

void MRGenericAdView::jsonAdViewVideoAdSucceeded(MRJSONAdView&) {
    if (auto delegate = delegate_.lock())
        delegate->adRequestSucceeded(*this);
}

void MRGenericAdView::jsonAdViewVideoAdWillAppear(MRJSONAdView&) {
    if (auto delegate = delegate_.lock())
        delegate->adModalWillAppear();
}

void MRGenericAdView::jsonAdViewVideoAdDidAppear(MRJSONAdView&) {
    if (auto delegate = delegate_.lock())
        delegate->adModalDidAppear();
}

void MRGenericAdView::jsonAdViewVideoAdWillDisappear(MRJSONAdView&) {
    if (auto delegate = delegate_.lock())
        delegate->adModalWasDismissed();
}

void MRGenericAdView::jsonAdViewWantsToOpenURL(MRJSONAdView&, const platform::URL& url) {
    routeRequest(platform::URLRequest(url), true, false);
}

bool MRGenericAdView::jsonAdViewWantToShowOverlayWithHTML(MRJSONAdView&, MRJSONVideoAdView&, const std::string& html,
                                                          int orientation, bool notifyOpenDelegates,
                                                          bool notifyCloseDelegates) {
    return showVideoOverlay(html, orientation, notifyOpenDelegates, notifyCloseDelegates);
}

bool MRGenericAdView::jsonAdViewWantToShowOverlayWithRequest(MRJSONAdView&, MRJSONVideoAdView&,
                                                             const platform::URLRequest& request, int orientation,
                                                             bool notifyOpenDelegates, bool notifyCloseDelegates) {
    return showVideoOverlay(request, orientation, notifyOpenDelegates, notifyCloseDelegates);
}

bool MRGenericAdView::showVideoOverlay(const OverlayContent& content, int orientation, bool notifyOpenDelegates,
                                       bool notifyCloseDelegates) {
    // One landing page at a time: a video's wish while one is open is refused.
    if (overlayView_)
        return false;
    auto ad = currentAd(true);
    if (!showOverlayWithAd(ad, content, orientation, notifyOpenDelegates, notifyCloseDelegates, true))
        return false;
    ad->startCloseOverlayTimer();
    stopTimer();
    return true;
}

void MRGenericAdView::jsonAdViewRequestSucceeded(MRJSONAdView&) {
    if (auto delegate = delegate_.lock())
        delegate->adRequestSucceeded(*this);
}

// ---- Taps and landing pages ----

void MRGenericAdView::htmlAdViewWasTapped(MRHTMLAdView&, const platform::URLRequest& request) {
    routeRequest(request, false, true);
}

void MRGenericAdView::htmlAdViewWantsToOpenURL(MRHTMLAdView&, const platform::URL& url) {
    routeRequest(platform::URLRequest(url), false, false);
}

void MRGenericAdView::jsonAdViewWasTapped(MRJSONAdView&, const platform::URLRequest& request) {
    routeRequest(request, true, true);
}

std::shared_ptr<MRBasicAd> MRGenericAdView::currentAd(bool json) const {
    std::shared_ptr<MRBasicAd> ad;
    if (json)
        ad = jsonAdView_->getAd();
    else
        ad = htmlAdView_->getAd();
    // Without an ad on screen the overlay takes the answers of an ad without a page.
    return ad ? ad : std::make_shared<MRBasicAd>();
}

void MRGenericAdView::routeRequest(const platform::URLRequest& request, bool json, bool tapped) {
    auto keep = self();
    if (tapped)
        if (auto delegate = delegate_.lock())
            delegate->adWasTapped(*this);
    const auto& url = request.url();
    auto scheme = url.scheme();
    bool leaves = std::find(kLeavingSchemes.begin(), kLeavingSchemes.end(), scheme) != kLeavingSchemes.end();
    if (!leaves && !(tapped && openClickInBrowser_)) {
        auto ad = currentAd(json);
        int orientation = json || overlayOrientation_ == 0
                              ? static_cast<int>(platform::Application::shared().statusBarOrientation())
                              : overlayOrientation_;
        if (showOverlayWithAd(ad, request, orientation)) {
            ad->startCloseOverlayTimer();
            stopTimer();
        }
        return;
    }
    if (scheme == kMRBrowserScheme) {
        auto target = platform::URL::parse(platform::replaceAll(url.absoluteString(), kMRBrowserPrefix, ""));
        if (target)
            openURL(*target);
    } else {
        openURL(url);
    }
    if (tapped)
        stopTimer();
}

std::shared_ptr<platform::ViewController>
MRGenericAdView::traverseResponderChainForUIViewControllerWithView(const platform::View* view) {
    const platform::Responder* responder = view;
    while (responder) {
        auto* next = responder->nextResponder();
        if (auto* controller = dynamic_cast<platform::ViewController*>(next))
            return controller->sharedController();
        if (!dynamic_cast<platform::View*>(next))
            return nullptr;
        responder = next;
    }
    return nullptr;
}

bool MRGenericAdView::showOverlayWithAd(const std::shared_ptr<MRBasicAd>& ad, const OverlayContent& content,
                                        int orientation, bool notifyOpenDelegates, bool notifyCloseDelegates,
                                        bool shownFromVideo) {
    auto keep = self();
    if (auto earlier = overlayView_) {
        // The earlier landing page ends before the new one begins, so the host hears its close.
        if (earlier->isShowing())
            earlier->closeWithAnimation(false);
        earlier->removeFromSuperview();
        if (overlayView_ == earlier)
            overlayView_.reset();
    }
    int type = ad->shouldShowModal() ? MROverlayView::kModal : MROverlayView::kFullScreen;
    auto overlay = MROverlayView::create(
        type, std::shared_ptr<MROverlayDelegate>(keep, static_cast<MROverlayDelegate*>(this)));
    overlayView_ = overlay;
    overlay->setNotifyOpenDelegates(notifyOpenDelegates);
    overlay->setNotifyCloseDelegates(notifyCloseDelegates);
    overlay->setShownFromVideo(shownFromVideo);
    overlay->setModalSize(ad->modalSize());
    overlay->setModalLocation(ad->modalLocation());
    overlay->setModalBorderColor(ad->modalBorderColor());
    overlay->setAlphaForModalBorder(ad->alphaForModalBorder());
    overlay->setOverlayFrame(overlayFrame_);
    overlay->setOverlaySize(overlaySize_);
    overlay->setOverlayOrientation(orientation);
    overlay->setMakeOverlayTransparent(ad->shouldMakeOverlayTransparent());
    overlay->setTransition(ad->overlayTransition());
    overlay->setTransitionDuration(ad->transitionDuration());
    overlay->setShowTitlebar(ad->showTitlebar());
    overlay->setShowBottomBar(ad->showBottomBar());
    overlay->setHeaderTitle(ad->overlayTitle());
    overlay->setTitlebarColor(ad->titlebarColor());
    overlay->setEnableBottomBar(ad->isBottomBarEnabled());
    // The host's accelerometer permission reaches the landing page too, so a page that asks
    // for readings gets them.
    overlay->setIsAccelerometerEnabled(isAccelerometerEnabled());

    std::shared_ptr<platform::ViewController> presenter;
    std::shared_ptr<MROverlayViewController> controller;
    if (type == MROverlayView::kFullScreen && !shownFromVideo && !overlay->makeOverlayTransparent()) {
        auto& app = platform::Application::shared();
        auto window = app.keyWindow();
        if (!window && !app.windows().empty())
            window = app.windows().front();
        if (window && !window->subviews().empty())
            presenter = traverseResponderChainForUIViewControllerWithView(window->subviews().front().get());
        // A controller that already presents a screen cannot present the landing page.
        if (presenter && presenter->presentedViewController())
            presenter.reset();
        if (presenter) {
            controller = std::make_shared<MROverlayViewController>();
            overlay->setParentViewController(presenter);
            controller->setView(overlay);
        }
    }
    if (const auto* request = std::get_if<platform::URLRequest>(&content))
        overlay->showWithRequest(*request);
    else
        overlay->showWithHTML(std::get<std::string>(content));
    if (presenter) {
        controller->setModalTransitionStyle(overlay->transitionStyle());
        presenter->presentModalViewController(controller, true);
    }
    // With nowhere to appear (no window) the overlay never opens and never closes: it is let
    // go at once, so nothing waits for its close (refresh goes on).
    if (!overlay->isShowing()) {
        if (overlayView_ == overlay)
            overlayView_.reset();
        return false;
    }
    return true;
}

void MRGenericAdView::closeOverlay() {
    if (auto overlay = overlayView_)
        overlay->closeWithAnimation(false);
}

void MRGenericAdView::overlayWillAppear(MROverlayView& overlay) {
    if (overlay.notifyOpenDelegates())
        if (auto delegate = delegate_.lock())
            delegate->adModalWillAppear();
}

void MRGenericAdView::overlayDidAppear(MROverlayView& overlay) {
    if (overlay.notifyOpenDelegates())
        if (auto delegate = delegate_.lock())
            delegate->adModalDidAppear();
}

void MRGenericAdView::overlayWillDisappear(MROverlayView&) {
    startTimer();
}

void MRGenericAdView::overlayDidDisappear(MROverlayView& overlay) {
    auto keep = self();
    if (overlay.notifyCloseDelegates()) {
        if (auto delegate = delegate_.lock())
            delegate->adModalWasDismissed();
        platform::NotificationCenter::defaultCenter().post(
            overlay.shownFromVideo() ? kMRShowStatusBarIfNeededFromVideoOverlayNotification
                                     : kMRShowStatusBarIfNeededNotification);
    }
    if (overlayView_.get() != &overlay)
        return;
    auto released = std::move(overlayView_);
    overlayView_.reset();
    if (!released->parentViewController())
        released->removeFromSuperview();
}

void MRGenericAdView::overlayWantsToTerminateAppToOpenURL(MROverlayView& overlay, const platform::URL& url) {
    std::weak_ptr<MROverlayView> weakOverlay = std::static_pointer_cast<MROverlayView>(overlay.sharedView());
    std::weak_ptr<MRGenericAdView> weakSelf = self();
    auto& loop = platform::RunLoop::main();
    loop.performAfter(kCloseBeforeLeavingDelay, [weakOverlay] {
        if (auto o = weakOverlay.lock())
            o->closeWithAnimation(false);
    });
    loop.performAfter(kLeaveDelay, [weakSelf, url] {
        if (auto view = weakSelf.lock())
            view->openURL(url);
    });
}

void MRGenericAdView::openURL(const platform::URL& url) {
    if (auto delegate = delegate_.lock())
        delegate->applicationWillTerminateFromAd();
    platform::Application::shared().openURL(url.absoluteString());
}

void MRGenericAdView::showStatusBar() {
    if (!isStatusBarHidden_)
        platform::Application::shared().setStatusBarHidden(false, false);
}

// ---- Refresh ----

void MRGenericAdView::updateTimerDuration() {
    auto config = MRHandshake::sharedHandshake().adConfig();
    if (config.refreshPeriod > 0) {
        refreshAdTime_ = platform::saturatingCast<int>(config.refreshPeriod);
        return;
    }
    auto delegate = delegate_.lock();
    auto answer = delegate ? delegate->adRefreshDuration() : std::nullopt;
    if (!answer)
        refreshAdTime_ = kDefaultRefresh;
    else if (*answer < kShortestRefresh)
        refreshAdTime_ = kShortestRefresh;
    else
        refreshAdTime_ = std::min(*answer, kLongestRefresh);
}

void MRGenericAdView::startTimer() {
    if (refreshAdTimer_)
        refreshAdTimer_->invalidate();
    refreshAdTimer_.reset();
    if (!enableAdRefresh_)
        return;
    updateTimerDuration();
    auto me = self();
    refreshAdTimer_ = platform::Timer::scheduled(refreshAdTime_, true, [me](platform::Timer&) {
        platform::callGuarded("MRSDK refresh", [&] {
            try {
                me->timerRefreshAd();
            } catch (const MRException& e) {
                mrLog(e.what());
                me->reportFailure();
            }
        });
    });
}

void MRGenericAdView::stopTimer() {
    if (refreshAdTimer_)
        refreshAdTimer_->invalidate();
    refreshAdTimer_.reset();
}

void MRGenericAdView::timerRefreshAd() {
    if (!enableManualAdRefresh_)
        return;
    if (auto delegate = delegate_.lock())
        delegate->adDidRefresh(*this);
    connectOrPlayCache();
}

void MRGenericAdView::enableAdRefresh() {
    setRefreshTimerEnabled(true);
}

void MRGenericAdView::disableAdRefresh() {
    setRefreshTimerEnabled(false);
}

void MRGenericAdView::setRefreshTimerEnabled(bool enabled) {
    enableAdRefresh_ = enabled;
    if (enabled)
        startTimer();
    else
        stopTimer();
}

void MRGenericAdView::refreshAd() {
    if (!enableManualAdRefresh_)
        return;
    if (refreshAdTimer_) {
        stopTimer();
        // The timer runs again even when the tick raises (bad request data), so one bad
        // manual refresh does not end automatic refresh for good.
        try {
            timerRefreshAd();
        } catch (...) {
            startTimer();
            throw;
        }
        startTimer();
        return;
    }
    if (auto delegate = delegate_.lock())
        delegate->adDidRefresh(*this);
    connectOrPlayCache();
}

void MRGenericAdView::resizeToHeight(double height) {
    if (height < kResizeSmallest) {
        height = kResizeBannerHeight;
        startTimer();
    } else {
        stopTimer();
    }
    setBackgroundColor(platform::Color::whiteColor());
    if (auto parent = superview())
        parent->bringSubviewToFront(this);
    View::beginAnimations();
    View::setAnimationDelay(0);
    View::setAnimationDuration(kResizeDuration);
    auto f = frame();
    setFrame(platform::Rect(f.x(), f.y(), f.width(), height));
    View::commitAnimations();
}

void MRGenericAdView::fadeAdView(const platform::View& child) {
    bool toHTML = &child == htmlAdView_.get() && htmlAdView_->isHidden() && !jsonAdView_->isHidden();
    bool toJSON = &child == jsonAdView_.get() && !htmlAdView_->isHidden() && jsonAdView_->isHidden();
    if (!toHTML && !toJSON)
        return;
    htmlAdView_->setHidden(!toHTML);
    jsonAdView_->setHidden(!toJSON);
    auto fade = platform::LayerAnimation::transition("fade", {}, kChildFadeDuration);
    fade->timing = platform::AnimationCurve::EaseInOut;
    layer().addAnimation(fade, {});
}

} // namespace meridian
