// VellumAdViewController: ad load and unload with the ad's event, visibility, first display
// with impressions and tracking pixels, click-through, dismissal, the touch registry and the
// process-wide event hook.
#include "vellum/richmedia/VellumAdViewController.h"

#include <algorithm>
#include <numbers>
#include <cstdio>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/ClassTable.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/net/URLConnection.h"
#include "platform/runloop/Clock.h"
#include "platform/foundation/FileManager.h"
#include "platform/media/MoviePlayerView.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/NavigationBar.h"
#include "platform/ui/Window.h"
#include "vellum/richmedia/MREmbeddedBrowserController.h"
#include "vellum/richmedia/MRModalAdViewController.h"
#include "vellum/richmedia/VellumAdView.h"
#include "vellum/richmedia/VellumJSBridge.h"
#include "vellum/tracking/VellumAnalyticsManager.h"
#include "vellum/tracking/VellumEventKeys.h"

namespace vellum {
namespace {

constexpr double kReferenceDateOffset = 978307200.0; // 2001-01-01 in seconds since 1970
constexpr const char* kControllerClassNames[] = {
    "VellumAdViewController", "MRHTMLAdViewController", "MRImageAdViewController",
    "MRAnimatedAdViewController", "MRMovieAdViewController",
};

double nowSinceReferenceDate() {
    return platform::Clock::current().now() - kReferenceDateOffset;
}

VellumAnalyticsManager& analytics() {
    return *VellumAnalyticsManager::sharedInstance();
}

// The identity under which every controller posts its ad event, registered once per
// analytics manager, so that a controller that is gone leaves no registration behind.
const char kAdViewedSender = 0;
std::weak_ptr<VellumAnalyticsManager>& registeredManager() {
    static std::weak_ptr<VellumAnalyticsManager> manager;
    return manager;
}
void registerWithAnalytics() {
    auto manager = VellumAnalyticsManager::sharedInstance();
    if (registeredManager().lock() == manager)
        return;
    manager->observeNotifications(VellumAdViewController::prodNotifications(), &kAdViewedSender);
    registeredManager() = manager;
}

struct VisibilityState {
    std::set<std::shared_ptr<VellumAdViewController>> monitored;
    std::shared_ptr<platform::Timer> timer;
};
VisibilityState& visibility() {
    static VisibilityState state;
    return state;
}

// ---- Event hook ----
std::shared_ptr<platform::Event>& storedEventSlot() {
    static std::shared_ptr<platform::Event> event;
    return event;
}
bool& hookInstalled() {
    static bool installed = false;
    return installed;
}

std::map<const platform::View*, std::vector<TouchTracking::Entry>>& touchRegistry() {
    static std::map<const platform::View*, std::vector<TouchTracking::Entry>> registry;
    return registry;
}

// Installed before main.
const bool kEventHookInstalled = [] {
    VellumEventHook::install();
    return true;
}();

// Any program that links the engine can show its ads: the controller classes are registered
// as the program loads.
[[maybe_unused]] const bool kControllerClassesRegistered = [] {
    VellumAdViewController::registerClasses();
    return true;
}();

} // namespace

void VellumEventHook::install() {
    if (hookInstalled())
        return;
    hookInstalled() = true;
    auto previous = std::make_shared<platform::Application::EventDispatch>();
    *previous = platform::Application::replaceEventDispatch(
        [previous](platform::Application& application, const platform::Event& event) {
            if (event.type() == platform::Event::Type::Touches)
                storedEventSlot() = std::make_shared<platform::Event>(event);
            if (*previous)
                (*previous)(application, event);
            else
                application.defaultSendEvent(event);
        });
}
bool VellumEventHook::isInstalled() {
    return hookInstalled() && kEventHookInstalled;
}
std::shared_ptr<platform::Event> VellumEventHook::storedEvent() {
    return storedEventSlot();
}
void VellumEventHook::resetStoredEventForTesting() {
    storedEventSlot().reset();
}

// ---- Touch registry ----
void TouchTracking::tellObjectAboutTouchInRect(std::shared_ptr<void> observer, const platform::Rect& rect,
                                               const platform::View* view) {
    touchRegistry()[view].push_back({std::move(observer), rect});
}
void TouchTracking::ignoreTouchesInRect(const platform::Rect& rect, const platform::View* view) {
    auto found = touchRegistry().find(view);
    if (found == touchRegistry().end())
        return;
    auto& entries = found->second;
    for (auto it = entries.begin(); it != entries.end(); ++it) {
        if (it->rect == rect) {
            const Entry first = *it;
            std::erase_if(entries, [&](const Entry& e) { return e.object == first.object && e.rect == first.rect; });
            return;
        }
    }
}
void TouchTracking::ignoreTouchesInView(const platform::View* view) {
    touchRegistry().erase(view);
}
std::vector<TouchTracking::Entry> TouchTracking::entriesForView(const platform::View* view) {
    auto found = touchRegistry().find(view);
    return found == touchRegistry().end() ? std::vector<Entry>{} : found->second;
}
void TouchTracking::resetForTesting() {
    touchRegistry().clear();
}

// ---- Controller ----
VellumAdViewController::VellumAdViewController() = default;

VellumAdViewController::~VellumAdViewController() {
    if (modalAdVC_)
        modalAdVC_->dismissAd();
    if (movieFinishToken_.isValid())
        platform::NotificationCenter::defaultCenter().removeObserver(movieFinishToken_);
    if (terminateToken_)
        platform::Application::shared().removeObserver(terminateToken_);
    if (webView_)
        webView_->setDelegate({});
}

void VellumAdViewController::registerClasses() {
    for (const char* name : kControllerClassNames)
        platform::ClassTable::registerClass<VellumAdViewControllerBase>(
            name, [] { return std::make_shared<VellumAdViewController>(); });
}

void VellumAdViewController::unregisterClasses() {
    for (const char* name : kControllerClassNames)
        platform::ClassTable::unregisterClass(name);
}

std::shared_ptr<VellumAdViewController> VellumAdViewController::self() {
    return std::static_pointer_cast<VellumAdViewController>(sharedController());
}

void VellumAdViewController::post(const char* name, bool withEvent) {
    platform::Notification n;
    n.name = name;
    // The ad's event travels as the notification's object; the controller is its sender.
    if (withEvent && event_)
        n.object = event_;
    else
        n.object = self();
    n.sender = this;
    platform::NotificationCenter::defaultCenter().post(n);
}

void VellumAdViewController::setExit(int code) {
    if (event_)
        event_->setNumber(platform::Value(code), MRAdExitKey);
}

void VellumAdViewController::setAdView(const std::shared_ptr<VellumAdView>& view) {
    if (view == adView_.lock())
        return;
    if (ad_ && isViewLoaded())
        this->view()->removeFromSuperview();
    adView_ = view;
    monitorVisibility();
}

void VellumAdViewController::loadView() {
    auto adView = adView_.lock();
    platform::Rect frame = adView ? platform::Rect({0, 0}, adView->bounds().size) : platform::Rect{};
    auto root = std::make_shared<platform::View>(frame);
    setView(root);
    if (!ad_ || !ad_->mainFile)
        return;
    // Only a page inside the ad's own folder is shown.
    auto page = ad_->mainFilePath();
    if (!page) {
        analytics().logDebug("ad %s names a main file outside its folder: %s", ad_->adID.value_or("").c_str(),
                             ad_->mainFile->c_str());
        return;
    }
    webView_ = std::make_shared<platform::WebView>(platform::Rect({0, 0}, frame.size));
    webView_->setDelegate(std::weak_ptr<platform::WebViewDelegate>(self()));
    // The ad's pages read only the ad's own folder.
    if (auto adFolder = ad_->path())
        webView_->setReadableFolder(platform::ReadableFolder(*adFolder));
    root->addSubview(webView_);
    webView_->loadRequest(platform::URLRequest(platform::URL::fileURL(*page)));
}

void VellumAdViewController::viewDidLoad() {
    monitorVisibility();
    enableTouchCapture();
}

void VellumAdViewController::loadAdViewController() {
    auto adView = adView_.lock();
    if (!ad_) {
        if (adView)
            adView->loadAd();
        else
            analytics().logDebug("-loadAdViewController called with no ad and no adView.");
        return;
    }
    registerWithAnalytics();
    appCapturesSwipe_ = true;
    clickThroughURLString_ = ad_->clickThroughURLString;
    event_ = std::make_shared<VellumEvent>(MRAdViewedKey);
    event_->setString(ad_->adID.value_or(""), MRAdIDKey);
    setExit(MRAdExitCode::kLoaded);
    event_->setNumber(platform::Value(nowSinceReferenceDate()), MRAdStartTimeKey);
    // Already seen on screen (the slot view was tested when linked): the clock runs from now.
    if (visible_)
        event_->startRecordingViewDuration();
    if (adView) {
        adView->addSubview(view());
        std::string slot = adView->adSlotKey().value_or(VellumAdServer::nameForSlotType(adView->adSlotType()));
        event_->setString(slot, MRAdSlotKey);
        event_->setString(std::to_string(ad_->adVersion), MRAdVersionKey);
    } else if (auto key = platform::Application::shared().keyWindow()) {
        key->addSubview(view());
    }
    VellumJSBridge::sharedInstance()->setDelegate(self());
    loaded_ = true;
    post(AdVCDidLoad, true);
    std::weak_ptr<VellumAdViewController> weak = self();
    terminateToken_ = platform::Application::shared().addObserver(
        platform::kApplicationWillTerminateNotification, [weak](const std::string&) {
            if (auto strong = weak.lock())
                strong->appWillTerminate();
        });
}

void VellumAdViewController::unloadAdViewController() {
    if (!loaded_)
        return;
    auto keep = self();
    loaded_ = false;
    trackAdEvent();
    disableTouchCapture();
    stopMonitoringVisibility();
    if (isViewLoaded())
        view()->removeFromSuperview();
    if (modalAdVC_)
        if (auto page = modalAdVC_->webView())
            page->stopLoading();
    if (terminateToken_) {
        platform::Application::shared().removeObserver(terminateToken_);
        terminateToken_ = 0;
    }
    post(AdVCDidUnload, true);
    clickThroughURLString_.reset();
    ad_.reset();
}

void VellumAdViewController::trackAdEvent() {
    if (!ad_ || !event_)
        return;
    const auto start = event_->numbers().find(MRAdStartTimeKey);
    const double startTime = start == event_->numbers().end() ? 0 : start->second.number().value_or(0);
    if (startTime <= 0)
        return;
    const auto exit = event_->numbers().find(MRAdExitKey);
    const auto code = exit == event_->numbers().end() ? 0 : exit->second.integer().value_or(0);
    if (code == 0 || code == MRAdExitCode::kLoaded)
        setExit(MRAdExitCode::kReportedWhileShown);
    platform::Notification n;
    n.name = AdVCAdViewedNotification;
    n.object = event_;
    n.sender = &kAdViewedSender;
    platform::NotificationCenter::defaultCenter().post(n);
}

void VellumAdViewController::appWillTerminate() {
    setExit(MRAdExitCode::kApplicationTerminated);
    unloadAdViewController();
}

void VellumAdViewController::viewDidDisappear(bool) {
    if (event_)
        event_->stopRecordingViewDuration();
    visible_ = false;
}

void VellumAdViewController::viewDidAppearInternal() {
    if (event_)
        event_->startRecordingViewDuration();
    firstTimeDisplayed();
}

void VellumAdViewController::dismissAd() {
    auto adView = adView_.lock();
    std::optional<bool> answer;
    if (adView)
        if (auto delegate = adView->delegate())
            answer = delegate->adViewShouldHide(*adView);
    setExit(MRAdExitCode::kDismissed);
    if (answer == false)
        return;
    hideAd();
}

void VellumAdViewController::hideAd() {
    auto adView = adView_.lock();
    if (!adView) {
        unloadAdViewController();
        return;
    }
    std::weak_ptr<VellumAdViewController> weak = self();
    platform::View::animate(
        platform::kDefaultAnimationDuration, [adView] { adView->setAlpha(0); },
        [weak](const std::string&, bool) {
            if (auto strong = weak.lock())
                strong->unloadAdViewController();
        });
}

// ---- Visibility ----
void VellumAdViewController::monitorVisibility() {
    if (isViewLoaded())
        view()->setUserInteractionEnabled(true);
    monitorAdVisibility(self());
}

void VellumAdViewController::stopMonitoringVisibility() {
    stopMonitoringAdVisibility(*this);
}

void VellumAdViewController::monitorAdVisibility(const std::shared_ptr<VellumAdViewController>& controller) {
    if (controller)
        visibility().monitored.insert(controller);
    startVisibilityTimer();
}

void VellumAdViewController::stopMonitoringAdVisibility(const VellumAdViewController& controller) {
    auto& state = visibility();
    for (auto it = state.monitored.begin(); it != state.monitored.end(); ++it)
        if (it->get() == &controller) {
            state.monitored.erase(it);
            break;
        }
    if (state.monitored.empty())
        stopVisibilityTimer();
}

std::vector<std::shared_ptr<VellumAdViewController>> VellumAdViewController::monitoredAds() {
    const auto& monitored = visibility().monitored;
    return {monitored.begin(), monitored.end()};
}

void VellumAdViewController::startVisibilityTimer() {
    auto& state = visibility();
    if (!state.timer)
        state.timer = platform::Timer::create(kVisibilityInterval, true, [](platform::Timer&) { testAdVisibility(); });
    platform::RunLoop::current().add(state.timer);
    testAdVisibility();
}

void VellumAdViewController::stopVisibilityTimer() {
    auto& state = visibility();
    if (state.timer && state.timer->isValid())
        state.timer->invalidate();
    state.timer.reset();
}

bool VellumAdViewController::adVisibilityCheckDisabled() {
    auto& defaults = platform::UserDefaults::standard();
    if (defaults.objectForKey(kAdVisibilityCheckDisabledKey))
        return defaults.boolForKey(kAdVisibilityCheckDisabledKey);
    const auto& info = platform::Bundle::main().infoDictionary();
    auto found = info.find(kAdVisibilityCheckDisabledKey);
    if (found == info.end())
        return false;
    if (auto b = found->second.number())
        return *b != 0;
    return false;
}

platform::Point VellumAdViewController::visibilityTestPoint() const {
    auto windows = platform::Application::shared().windows();
    const platform::View* target = windows.empty() ? nullptr : windows.back().get();
    auto adView = adView_.lock();
    if (loaded_) {
        auto v = const_cast<VellumAdViewController*>(this)->view();
        platform::Point c = v->center();
        if (v->frame().height() > kTallViewHeight)
            c.y -= kTallViewTestPointRaise;
        // The centre is in the superview's coordinates.
        auto super = v->superview();
        return super ? super->convertPoint(c, target) : c;
    }
    if (!adView)
        return {0, 0};
    auto super = adView->superview();
    return super ? super->convertPoint(adView->center(), target) : adView->center();
}

void VellumAdViewController::testAdVisibility() {
    const auto monitored = visibility().monitored;
    if (adVisibilityCheckDisabled()) {
        for (const auto& c : monitored)
            c->firstTimeDisplayed();
        return;
    }
    for (const auto& c : monitored) {
        if (!visibility().monitored.count(c))
            continue;
        auto adView = c->adView_.lock();
        if (adView && adView->isHidden())
            continue;
        std::shared_ptr<platform::View> target = c->loaded_ ? c->view() : adView;
        if (!target)
            continue;
        auto window = target->window();
        bool isVisible = false;
        if (window) {
            auto event = VellumEventHook::storedEvent();
            auto point = c->visibilityTestPoint();
            auto hit = window->hitTest(window->convertPoint(point, nullptr), event.get());
            isVisible = hit && hit->isDescendantOf(target.get());
        }
        if (isVisible && !c->visible_) {
            c->visible_ = true;
            c->viewDidAppearInternal();
            c->post(AdVCDidAppear, true);
        } else if (!isVisible && c->visible_) {
            c->visible_ = false;
            c->viewDidDisappear(false);
            c->post(AdVCDidDisappear, true);
        }
    }
}

std::size_t VellumAdViewController::monitoredAdCount() {
    return visibility().monitored.size();
}
bool VellumAdViewController::visibilityTimerRunning() {
    return visibility().timer && visibility().timer->isValid();
}
void VellumAdViewController::resetForTesting() {
    stopVisibilityTimer();
    visibility().monitored.clear();
    registeredManager().reset();
    TouchTracking::resetForTesting();
    VellumEventHook::resetStoredEventForTesting();
}

void VellumAdViewController::firstTimeDisplayed() {
    if (firstView_ || !ad_)
        return;
    firstView_ = true;
    ad_->recordImpression();
    ad_->recordImpressionForCap();
    if (event_)
        event_->setNumber(platform::Value(nowSinceReferenceDate()), MRAdStartTimeKey);
    if (ad_->trackingPixels)
        for (const auto& pixel : *ad_->trackingPixels)
            sendTrackingPixel(pixel);
}

namespace {
void replaceAll(std::string& text, std::string_view from, std::string_view to) {
    if (from.empty())
        return;
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}
} // namespace

void VellumAdViewController::sendTrackingPixel(const std::string& text) {
    std::string url = text;
    replaceAll(url, kDeviceIDPixelMacro, platform::percentEncodeQueryValue(VellumAnalyticsManager::deviceID()));
    replaceAll(url, kRandomPixelMacro, std::to_string(ad_->randomValue));
    analytics().logInternal("Tracking Pixel request being sent: %s", url.c_str());
    auto request = platform::URLRequest::withURLString(url);
    if (!request) {
        analytics().logInternal("can't create a connection for %s", url.c_str());
        analytics().logDebug("Tracking Pixel connection could not be established");
        return;
    }
    std::string agent = ad_->userAgent.value_or("");
    if (agent.empty())
        if (auto server = VellumAdServer::existing())
            agent = server->userAgent;
    request->setValue(agent, "User-Agent");
    platform::URLConnection::create(*request, nullptr);
}

// ---- Click-through ----
void VellumAdViewController::performClickThrough() {
    if (!clickThroughURLString_ || clickThroughURLString_->empty())
        return;
    disableTouchCapture();
    performClickThrough(*clickThroughURLString_);
    std::weak_ptr<VellumAdViewController> weak = self();
    platform::RunLoop::current().performAfter(kTouchCaptureResumeDelay, [weak] {
        if (auto strong = weak.lock())
            if (strong->loaded_)
                strong->enableTouchCapture();
    });
}

void VellumAdViewController::performClickThrough(const std::string& url) {
    auto adView = adView_.lock();
    const bool answer = adView ? adView->adVCClickedThroughTo(url) : false;
    if (answer) {
        showClickThroughInMiniBrowser(url);
        return;
    }
    if (event_)
        event_->setString(url, MRAdUrlStringKey);
    post(AdVCAdClickedNotification, true);
}

void VellumAdViewController::showClickThroughInMiniBrowser(const std::string& url) {
    setExit(MRAdExitCode::kClickThrough);
    // The mini browser ends this when its page shows or when it closes.
    platform::Application::shared().beginIgnoringInteractionEvents();
    MREmbeddedBrowserController::sharedInstance()->showURL(url, ad_ ? ad_->adID : std::nullopt, adView_.lock(),
                                                           event_);
}

void VellumAdViewController::dismissEmbeddedBrowser() {
    MREmbeddedBrowserController::sharedInstance()->dismiss();
}

std::shared_ptr<VellumAdViewController> VellumAdViewController::adVC() const {
    return std::static_pointer_cast<VellumAdViewController>(
        const_cast<VellumAdViewController*>(this)->sharedController());
}

bool VellumAdViewController::responds(std::string_view selector) const {
    static constexpr std::string_view kImplemented[] = {"dismissAd",          "dismissEmbeddedBrowser",
                                                        "audioPlayBackDidStart", "audioPlayBackDidFinish",
                                                        "expandAd",           "expandAdExternal"};
    return std::find(std::begin(kImplemented), std::end(kImplemented), selector) != std::end(kImplemented);
}

void VellumAdViewController::setTHEStrRequest(const std::string& request) {
    if (modalAdVC_)
        modalAdVC_->setStrRequest(request);
    else
        strRequest_ = request;
}

// ---- Expansion ----
bool VellumAdViewController::expandGateOpen() const {
    return !modalAdVC_ && ad_ && ad_->expandedMainFile && ad_->expandedWidth != 0 && ad_->expandedHeight != 0;
}

void VellumAdViewController::expandAd() {
    if (auto adView = adView_.lock())
        originalAdFrame_ = adView->frame();
    if (!expandGateOpen())
        return;
    stopMonitoringVisibility();
    expandModalAd();
    if (event_)
        event_->setNumber(platform::Value(platform::Clock::current().now()), MRAdExpandKey);
}

void VellumAdViewController::expandAdExternal() {
    if (!expandGateOpen())
        return;
    stopMonitoringVisibility();
    expandModalAd();
    if (event_)
        event_->setNumber(platform::Value(platform::Clock::current().now()), MRAdAppForceExpandKey);
}

void VellumAdViewController::expandModalAd() {
    auto& app = platform::Application::shared();
    // The expanded controller ends this when its page has shown, or when it collapses.
    app.beginIgnoringInteractionEvents();
    modalAdVC_ = MRModalAdViewController::create(self(), event_);
    if (isViewLoaded())
        if (auto super = view()->superview())
            baseFrame_ = super->frame();
    baseOrientation_ = static_cast<int>(app.statusBarOrientation());
    if (ad_ && ad_->expandableType == 1)
        MRModalAdViewController::startExpandableMovementTimer();
    auto expanded = modalAdVC_->view();
    if (auto key = app.keyWindow())
        key->addSubview(expanded);
    // A view added straight to a window gets no appearance calls of its own.
    modalAdVC_->viewWillAppear(false);
}

// ---- Movie ----
namespace {

constexpr platform::Rect kMovieFrame{0, 0, 480, 320};
constexpr platform::Rect kMovieBackground{0, 0, 320, 480};
constexpr platform::Rect kMovieBar{0, 0, 480, 44};
constexpr double kSpinnerSize = 40;

// `absolute` when it lies inside `folder`.
std::optional<std::filesystem::path> insideFolder(const std::string& folder, const std::string& absolute) {
    const auto relative = std::filesystem::path(absolute).lexically_normal().lexically_relative(
        std::filesystem::path(folder).lexically_normal());
    if (relative.empty() || *relative.begin() == "..")
        return std::nullopt;
    return platform::FileManager::pathInside(folder, relative.string());
}

} // namespace

void VellumAdViewController::createAndPlayVideo(const std::string& url) {
    const std::string prefix = url.substr(0, std::min<std::size_t>(4, url.size()));
    std::optional<platform::URL> source;
    const auto folder = ad_ ? ad_->path() : std::nullopt;
    if (url.size() >= 4 && containsIgnoringCase(prefix, "http")) {
        source = platform::URL::parse(url);
    } else if (url.size() >= 4 && containsIgnoringCase(prefix, "file")) {
        // A local movie must be one of the ad's own files.
        auto parsed = platform::URL::parse(url);
        if (parsed && folder)
            if (auto inside = insideFolder(*folder, parsed->path()))
                source = platform::URL::fileURL(*inside);
    } else if (folder) {
        if (auto inside = platform::FileManager::pathInside(*folder, url)) {
            analytics().logDebug("Movie Path %s", inside->c_str());
            source = platform::URL::fileURL(*inside);
            analytics().logDebug("Movie Path %s", source->absoluteString().c_str());
        }
    }
    if (!source) {
        analytics().logDebug("movie %s is neither on the web nor in the ad's folder", url.c_str());
        return;
    }
    if (embeddedMoviePlayer_)
        moviePlayBackDidFinish();
    auto player = platform::MoviePlayerController::create(
        *source, folder ? platform::ReadableFolder(*folder) : platform::ReadableFolder());
    embeddedMoviePlayer_ = player;
    player->setControlStyle(platform::MovieControlStyle::None);
    player->setUseApplicationAudioSession(false);
    auto playerView = player->view();
    playerView->setFrame(kMovieFrame);
    player->play();
    std::weak_ptr<VellumAdViewController> weak = self();
    movieFinishToken_ = platform::NotificationCenter::defaultCenter().addObserver(
        platform::MPMoviePlayerPlaybackDidFinishNotification,
        [weak](const platform::Notification&) {
            if (auto c = weak.lock())
                c->moviePlayBackDidFinish();
        },
        player.get());

    auto item = std::make_shared<platform::NavigationItem>("Advertisement");
    item->setRightBarButtonItem(platform::BarButtonItem::withSystemItem(
        platform::BarButtonSystemItem::Done, [weak](platform::BarButtonItem&) {
            if (auto c = weak.lock())
                c->doneButtonAction();
        }));
    backGround_ = std::make_shared<platform::View>(kMovieBackground);
    backGround_->setBackgroundColor(platform::Color::blackColor());
    activityInd_ = std::make_shared<platform::ActivityIndicatorView>(platform::Rect(0, 0, kSpinnerSize, kSpinnerSize));
    activityInd_->setActivityIndicatorViewStyle(platform::ActivityIndicatorViewStyle::WhiteLarge);
    activityInd_->setAutoresizingMask(platform::Autoresizing::FlexibleLeftMargin |
                                      platform::Autoresizing::FlexibleRightMargin |
                                      platform::Autoresizing::FlexibleTopMargin |
                                      platform::Autoresizing::FlexibleBottomMargin);
    activityInd_->setCenter(backGround_->center());
    activityInd_->setHidesWhenStopped(true);
    backGround_->addSubview(activityInd_);
    activityInd_->startAnimating();
    auto bar = std::make_shared<platform::NavigationBar>(kMovieBar);
    bar->setTintColor(platform::Color::blackColor());
    bar->pushNavigationItem(item, true);
    // The movie plays in landscape over a portrait screen.
    const auto turned = platform::AffineTransform::makeRotation(std::numbers::pi / 2).translated(218, -60);
    bar->setTransform(turned);
    playerView->setTransform(turned.translated(-138, 140));
    navBar_ = bar;
    std::shared_ptr<platform::View> host = modalAdVC_ ? platform::Application::shared().keyWindow() : view();
    if (!host)
        return;
    host->addSubview(backGround_);
    host->addSubview(playerView);
    host->addSubview(navBar_);
}

void VellumAdViewController::playMovie() {
    if (ad_ && ad_->mainFile)
        createAndPlayVideo(*ad_->mainFile);
}

void VellumAdViewController::moviePlayBackDidFinish() {
    if (movieFinishToken_.isValid()) {
        platform::NotificationCenter::defaultCenter().removeObserver(movieFinishToken_);
        movieFinishToken_ = {};
    }
    if (activityInd_)
        activityInd_->stopAnimating();
    auto player = std::move(embeddedMoviePlayer_);
    if (player) {
        player->stop();
        player->view()->removeFromSuperview();
    }
    if (navBar_)
        navBar_->removeFromSuperview();
    if (backGround_)
        backGround_->removeFromSuperview();
    navBar_.reset();
    backGround_.reset();
    activityInd_.reset();
}

void VellumAdViewController::doneButtonAction() {
    // Stopping ends the movie; its finish notice takes the player and its chrome away, and
    // they go here too in case the movie had not started.
    if (auto player = embeddedMoviePlayer_)
        player->stop();
    moviePlayBackDidFinish();
}

bool VellumAdViewController::launchAnotherApp(const std::string& url, const std::optional<std::string>&) {
    auto& app = platform::Application::shared();
    return app.canOpenURL(url) && app.openURL(url);
}

bool VellumAdViewController::downloadNewAdIntoBrowser(const std::string& adID,
                                                      const std::optional<std::string>& parentID) {
    auto adView = adView_.lock();
    if (!adView)
        return false;
    if (ad_ && ad_->adID) {
        if (event_)
            event_->setString(adID, MRAdChildAdID);
        return adView->loadAdWithID(adID, *ad_->adID);
    }
    return adView->loadAdWithID(adID, parentID);
}

void VellumAdViewController::audioPlayBackDidStart() {
    if (auto adView = adView_.lock())
        adView->didStartAudioInAd();
}
void VellumAdViewController::audioPlayBackDidFinish() {
    if (auto adView = adView_.lock())
        adView->didFinishAudioInAd();
}

// ---- Touch capture ----
void VellumAdViewController::enableTouchCapture() {
    if (isViewLoaded())
        TouchTracking::tellObjectAboutTouchInRect(self(), view()->bounds(), view().get());
}
void VellumAdViewController::disableTouchCapture() {
    if (isViewLoaded())
        TouchTracking::ignoreTouchesInView(view().get());
}
void VellumAdViewController::touchCaptureTrackingRectChangedFrom(const platform::Rect& oldBounds) {
    if (!isViewLoaded() || view()->bounds() == oldBounds)
        return;
    TouchTracking::ignoreTouchesInRect(oldBounds, view().get());
    TouchTracking::tellObjectAboutTouchInRect(self(), view()->bounds(), view().get());
}
void VellumAdViewController::viewGotTouch() {
    post(AdVCWasTouched, true);
    performTouchAction();
}

std::shared_ptr<MR_JSBridgeDelegate> VellumAdViewController::bridgeDelegate() {
    if (auto expanded = expandedBridgeDelegate_.lock())
        return expanded;
    return self();
}

// ---- Web view ----
bool VellumAdViewController::webViewShouldStartLoadWithRequestNavigationType(platform::WebView& webView,
                                                                            const platform::URLRequest& request,
                                                                            platform::WebViewNavigationType type) {
    return VellumJSBridge::sharedInstance()->webViewShouldStartLoad(
        webView, request, type, adView_.lock().get(), ad_ ? ad_->path().value_or("") : "", this);
}
void VellumAdViewController::webViewDidStartLoad(platform::WebView& webView) {
    VellumJSBridge::sharedInstance()->webViewDidStartLoad(webView);
}
void VellumAdViewController::webViewDidFinishLoad(platform::WebView& webView) {
    VellumJSBridge::sharedInstance()->webViewDidFinishLoad(webView, this);
    if (auto adView = adView_.lock())
        if (auto d = adView->delegate())
            d->adViewDidFinishRendering(*adView);
}
void VellumAdViewController::webViewDidFailLoadWithError(platform::WebView& webView, const platform::Error&) {
    VellumJSBridge::sharedInstance()->webViewDidFailLoadWithError(webView);
}

} // namespace vellum
