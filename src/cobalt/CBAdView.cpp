#include "cobalt/CBAdView.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "cobalt/CBAdManager.h"
#include "cobalt/CBAsyncCommand.h"
#include "cobalt/CBAudioCommandHandler.h"
#include "cobalt/CBClientManager.h"
#include "cobalt/CBCodecs.h"
#include "cobalt/CBFullScreenAdWindow.h"
#include "cobalt/CBJavascriptBridge.h"
#include "cobalt/CBLibraryHandlers.h"
#include "cobalt/CBResources.h"
#include "cobalt/CBUtil.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Strings.h"
#include "platform/net/URLRequest.h"
#include "platform/runloop/Clock.h"
#include "platform/runloop/RunLoop.h"
#include "platform/ui/ActivityIndicatorView.h"
#include "platform/ui/Application.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/Control.h"
#include "platform/ui/NavigationBar.h"
#include "platform/ui/Screen.h"
#include "platform/ui/SegmentedControl.h"
#include "platform/ui/Toolbar.h"

namespace cobalt {
namespace {

constexpr const char* kRequestDisplayName = "requestDisplay:";
constexpr const char* kDisplayName = "display";

double now() { return platform::Clock::current().now(); }

// Length of a floating-point conversion ("%f", "%.2f", "%10.3g", "%e", "%lf") at `at`; 0
// when the text there is none.
std::size_t floatConversionLength(std::string_view text, std::size_t at) {
    std::size_t i = at + 1;
    while (i < text.size() && std::string_view("-+ #0").find(text[i]) != std::string_view::npos)
        ++i;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])))
        ++i;
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])))
            ++i;
    }
    if (i < text.size() && text[i] == 'l')
        ++i;
    if (i < text.size() && std::string_view("fFgGeE").find(text[i]) != std::string_view::npos)
        return i + 1 - at;
    return 0;
}

std::shared_ptr<CBController> engine() { return CBController::existing(); }

std::shared_ptr<CBAdManager> adManager() {
    auto c = engine();
    return c ? c->adManager() : nullptr;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// CBAdView

platform::Size CBAdView::sizeForCBAdSize(int size) {
    switch (size) {
    case 1: return {320, 48};
    case 2: return platform::Screen::main().bounds().size;
    case 3: return {300, 250};
    case 4: return {728, 90};
    case 5: return {160, 600};
    default: throw platform::NamedException(kNSInvalidArgumentException, "Attempt to use unrecognized CBAdSize");
    }
}

std::shared_ptr<CBAdView> CBAdView::adViewForSlotNamed(const std::string& name, std::weak_ptr<CobaltDelegate> delegate,
                                                       double refreshInterval) {
    auto manager = adManager();
    auto slot = manager ? manager->slotForName(name) : nullptr;
    if (!slot)
        throw platform::NamedException(kCBAdViewRetrievalFailure,
                                       "Attempt to retrieve a CBAdView instance using a slot name which has not been "
                                       "registered with the CBAdEngine.");
    auto c = engine();
    if (auto existing = std::dynamic_pointer_cast<CBAdView>(c->viewForSlotNamed(name))) {
        existing->setDelegate(std::move(delegate));
        existing->setRefreshInterval(refreshInterval);
        return existing;
    }
    auto view = create(slot, std::move(delegate), refreshInterval);
    c->registerView(view, name);
    return view;
}

std::shared_ptr<CBAdView> CBAdView::create(std::shared_ptr<CBAdSlot> slot, std::weak_ptr<CobaltDelegate> delegate,
                                           double refreshInterval) {
    const platform::Size size = sizeForCBAdSize(slot->slotDescription()->size());
    auto view = std::make_shared<CBAdView>(platform::Rect{{0, 0}, size});
    view->setAutoresizingMask(0);
    view->m_adViewInternal = CBAdViewInternal::create(std::move(slot), std::move(delegate), refreshInterval);
    view->addSubview(view->m_adViewInternal->view());
    return view;
}

void CBAdView::setDelegate(std::weak_ptr<CobaltDelegate> delegate) { m_adViewInternal->setDelegate(std::move(delegate)); }
void CBAdView::setRefreshInterval(double seconds) { m_adViewInternal->setRefreshInterval(seconds); }
bool CBAdView::refresh() { return m_adViewInternal->refresh(); }
void CBAdView::drawRect(const platform::Rect&) { m_adViewInternal->adDisplayed(); }

void CBAdView::didMoveToWindow() {
    View::didMoveToWindow();
    if (window() && needsDisplay())
        setNeedsDisplay();
}
bool CBAdView::isAdReady() const { return m_adViewInternal->isAdReady(); }
bool CBAdView::controlsFullScreenSlot() const { return m_adViewInternal->controlsFullScreenSlot(); }
void CBAdView::fullScreenAdWindowDidClose() { m_adViewInternal->fullScreenAdWindowDidClose(); }
void CBAdView::applicationWillEnterForeground() { m_adViewInternal->applicationWillEnterForeground(); }

// ---------------------------------------------------------------------------------------------
// CBAdViewInternal: creation

std::shared_ptr<CBAdViewInternal> CBAdViewInternal::create(std::shared_ptr<CBAdSlot> slot,
                                                           std::weak_ptr<CobaltDelegate> delegate,
                                                           double refreshInterval) {
    std::shared_ptr<CBAdViewInternal> controller(new CBAdViewInternal());
    controller->initWithSlot(std::move(slot), std::move(delegate), refreshInterval);
    return controller;
}

void CBAdViewInternal::initWithSlot(std::shared_ptr<CBAdSlot> slot, std::weak_ptr<CobaltDelegate> delegate,
                                    double refreshInterval) {
    m_slot = std::move(slot);
    m_execMode = 0;
    platform::Rect frame = platform::Screen::main().bounds();
    if (!controlsFullScreenSlot()) {
        frame = {{0, 0}, CBAdView::sizeForCBAdSize(m_slot->slotDescription()->size())};
        setDelegate(std::move(delegate));
        setRefreshInterval(refreshInterval);
    }
    m_isRefreshing = false;

    m_view = std::make_shared<platform::View>(frame);
    m_view->setOpaque(true);
    m_view->setBackgroundColor(platform::Color::blackColor());
    m_view->setAutoresizesSubviews(false);
    m_view->setClipsToBounds(true);
    // A banner becomes touchable when its first content has loaded.
    m_view->setUserInteractionEnabled(controlsFullScreenSlot());

    m_webView = std::make_shared<platform::WebView>(m_view->bounds());
    // The ad's pages read the engine's content folder only.
    m_webView->setReadableFolder(platform::ReadableFolder(CBAdManager::adRootDir()));
    m_webView->setAutoresizingMask(0);
    m_webView->setDelegate(weak_from_this());
    m_webView->setClipsToBounds(true);
    m_webView->setAllowsInlineMediaPlayback(true);

    m_handlers = {std::make_shared<CBStandardCommandHandler>(), std::make_shared<CBApplicationCommandHandler>(),
                  std::make_shared<CBAudioCommandHandler>(), std::make_shared<CBCocoaCommandHandler>(),
                  std::make_shared<CBDisplayCommandHandler>(weak_from_this())};
    m_bridge = CBJavascriptBridge::bridgeInMode(m_execMode, m_webView, nullptr);
    for (const auto& handler : m_handlers)
        m_bridge->addCommandHandler(handler);

    m_navigationBar = std::make_shared<platform::NavigationBar>(platform::Rect{0, 0, frame.size.width, kBrowserBarHeight});
    m_navigationBar->setAutoresizingMask(0);
    m_navigationBar->setBarStyle(platform::BarStyle::Black);
    m_navigationBar->setHidden(true);
    m_view->addSubview(m_navigationBar);
    m_navigationLoadingIndicator = std::make_shared<platform::ActivityIndicatorView>(platform::ActivityIndicatorViewStyle::White);
    m_navigationItem = std::make_shared<platform::NavigationItem>();
    m_navigationBar->pushNavigationItem(m_navigationItem, false);
    m_navigationItem->setTitleView(m_navigationLoadingIndicator);
    m_navigationControls = std::make_shared<platform::SegmentedControl>(std::vector<platform::SegmentedControl::Item>{
        CBResources::backButtonDisabled(), CBResources::forwardButtonDisabled()});
    std::weak_ptr<CBAdViewInternal> weak = weak_from_this();
    m_navigationControls->addAction(
        [weak](platform::Control& sender) {
            auto self = weak.lock();
            auto* control = dynamic_cast<platform::SegmentedControl*>(&sender);
            if (!self || !control)
                return;
            if (control->selectedSegmentIndex() == 0)
                self->m_webView->goBack();
            else if (control->selectedSegmentIndex() == 1)
                self->m_webView->goForward();
        },
        platform::ControlEvent::ValueChanged, this);
    m_navigationControls->setSegmentedControlStyle(platform::SegmentedControlStyle::Bar);
    m_navigationControls->setMomentary(true);
    m_navigationControls->setWidth(kNavigationSegmentWidth, 0);
    m_navigationControls->setWidth(kNavigationSegmentWidth, 1);
    m_navigationControls->setAccessibilityLabel(std::string(kBackSegmentLabel), 0);
    m_navigationControls->setAccessibilityLabel(std::string(kForwardSegmentLabel), 1);
    m_navigationControls->setTintColor(platform::Color::grayColor());
    m_navigationItem->setRightBarButtonItem(platform::BarButtonItem::withCustomView(m_navigationControls));

    m_view->addSubview(m_webView);
    m_view->sendSubviewToBack(m_webView.get());

    if (controlsFullScreenSlot())
        return; // the full-screen controller has no slot of its own
    auto manager = adManager();
    if (!manager || !manager->registerListener(shared_from_this(), m_slot->slotDescription()->name()))
        throw platform::NamedException(kCBAdViewInternalInitializationError,
                                       "No slot with the given name has been registered with the CBAdEngine.");
}

CBAdViewInternal::~CBAdViewInternal() {
    platform::RunLoop::main().cancelPerforms(this);
    platform::NotificationCenter::defaultCenter().removeObserver(this);
    if (m_exitItemTimer)
        m_exitItemTimer->invalidate();
    for (const auto& fetch : m_fetches)
        fetch->cancel();
    if (m_bridge)
        m_bridge->halt();
    if (m_webView)
        m_webView->setDelegate({});
}

// ---------------------------------------------------------------------------------------------
// Delegate and refresh settings

bool CBAdViewInternal::isAdReady() { return m_bridge->isCBJSLoaded(); }

void CBAdViewInternal::setDelegate(std::weak_ptr<CobaltDelegate> delegate) {
    m_delegateIdentity = delegate.lock().get();
    m_delegate = std::move(delegate);
}

void CBAdViewInternal::releaseDelegate(const CobaltDelegate* delegate) {
    if (delegate && delegate == m_delegateIdentity) {
        m_delegate.reset();
        m_delegateIdentity = nullptr;
    }
}

void CBAdViewInternal::setRefreshInterval(double seconds) {
    if (controlsFullScreenSlot()) {
        platform::logLine("CBAdEngine ignoring attempt to set refresh interval on a full-screen CBAdView.");
        return;
    }
    if (seconds > 0 && seconds < kCBMinimumRefreshInterval)
        throw platform::NamedException(
            kNSInvalidArgumentException,
            platform::formatString("Attempt to set refresh interval for slot named %s less than the minimum value of %d seconds",
                   m_slot->slotDescription()->name().c_str(), static_cast<int>(kCBMinimumRefreshInterval)));
    m_refreshInterval = seconds > 0 ? seconds : 0;
}

bool CBAdViewInternal::refresh() {
    if (auto c = engine())
        c->checkStore();
    if (m_hasDisplayedCurrentAd)
        return requestDisplay(false);
    platform::logLine("CBAdEngine: Ignoring refresh attempt for slot named " + m_slot->slotDescription()->name() +
                      " because the ad currently ready to be displayed for that slot has not yet been displayed.");
    return false;
}

// ---------------------------------------------------------------------------------------------
// The display cycle

void CBAdViewInternal::adDownloadedForSlotNamed(const std::string& slotName) {
    auto c = engine();
    if (!c || c->serverReachability() == 0)
        return;
    if (controlsFullScreenSlot()) {
        auto manager = adManager();
        auto slot = manager ? manager->slotForName(slotName) : nullptr;
        if (m_bridge->isCBJSLoaded() || (slot && slot->isDisplayed()))
            notifyDelegateAdReadyForSlotNamed(slotName);
        else
            loadScriptAndExecute("BridgeDisplay.notifyAdReadyDelayed('" + slotName + "');");
        return;
    }
    if (m_lastDisplayTime == 0 || m_refreshInterval > 0)
        requestDisplay(true);
}

bool CBAdViewInternal::requestDisplay(bool applyRefreshInterval) {
    const double elapsed = now() - m_lastDisplayTime;
    if (m_refreshInterval == 0)
        return elapsed >= kCBMinimumRefreshInterval && display();
    const double limit = applyRefreshInterval ? m_refreshInterval : kCBMinimumRefreshInterval;
    if (elapsed >= limit)
        return display();
    if (applyRefreshInterval) {
        auto& loop = platform::RunLoop::main();
        loop.cancelPerforms(this, kRequestDisplayName);
        std::weak_ptr<CBAdViewInternal> weak = weak_from_this();
        loop.performAfter(
            m_refreshInterval - elapsed,
            [weak] {
                if (auto self = weak.lock())
                    self->requestDisplay(true);
            },
            this, kRequestDisplayName);
        return false;
    }
    platform::logLine(platform::formatString("CBAdEngine: Ignoring refresh attempt because the interval of %d seconds has not yet "
                             "passed before the previous display.",
                             static_cast<int>(kCBMinimumRefreshInterval)));
    return false;
}

bool CBAdViewInternal::display() {
    if (m_isExpanded || m_isRefreshing || !m_slot)
        return false;
    if (!controlsFullScreenSlot()) {
        auto window = CBFullScreenAdWindow::existingWindow();
        if (window && window->isDisplaying())
            return false;
    }
    if (m_slot->nextAdDlTime() == 0)
        return false;
    platform::RunLoop::main().cancelPerforms(this, kDisplayName);
    m_slot->setIsDisplayed(true);
    m_shouldWipeContentOnDismiss = false;
    m_hasDisplayedCurrentAd = false;
    m_displayingDlTime = m_slot->nextAdDlTime();

    const int size = m_slot->slotDescription()->size();
    const platform::Size adSize = CBAdView::sizeForCBAdSize(size);
    auto c = engine();
    const std::string command =
        platform::formatString("displayAd('%s',%lld,%d,%d,%d,%d);", m_slot->slotDescription()->name().c_str(),
               static_cast<long long>(m_slot->nextAdDlTime()), static_cast<int>(std::floor(adSize.width)),
               static_cast<int>(std::floor(adSize.height)), controlsFullScreenSlot() ? 1 : 0,
               c ? c->serverReachability() : 0);
    if (controlsFullScreenSlot())
        setExecMode(1);
    else
        m_view->setFrame({{0, 0}, adSize});
    prepareAdViewBrowserMode(false);

    if (!m_bridge->isCBJSLoaded()) {
        loadScriptAndExecute(command);
        return true;
    }
    m_bridge->sendJavascriptCommand(command);
    if (!controlsFullScreenSlot()) {
        m_view->setUserInteractionEnabled(false);
        m_isRefreshing = true;
        if (auto container = containerView()) {
            m_fadedContainer = container;
            platform::AnimationOptions fade("", kFadeDuration);
            platform::View::animate(fade, [&] { container->setAlpha(0); });
        }
    }
    return true;
}

void CBAdViewInternal::loadScriptAndExecute(const std::string& command) {
    auto c = engine();
    if (!c || !c->clientManager())
        return;
    auto path = c->clientManager()->pathForComponent(kCBClientDisplayComponent);
    if (!path)
        return;
    std::weak_ptr<CBAdViewInternal> weak = weak_from_this();
    auto context = CBCallbackContext::contextWithCallbackInvocation(
        [weak, command](const platform::Value& result) {
            auto self = weak.lock();
            if (!self)
                return;
            if (!result.data()) {
                // Without its display script (the person deleted the store) the ad cannot be
                // shown: the display ends as failed, so the next refresh is not refused forever.
                if (self->m_displayingDlTime != 0 && !self->m_hasDisplayedCurrentAd && self->m_slot)
                    self->adDisplayFailedForSlotNamed(self->m_slot->slotDescription()->name());
                return;
            }
            // The script is text up to its first NUL byte.
            const auto& data = *result.data();
            std::string text(data.begin(), data.end());
            if (auto zero = text.find('\0'); zero != std::string::npos)
                text.resize(zero);
            self->m_bridge->loadJavascriptString(text, platform::escapeHTML(command), platform::URL::parse(baseURL()));
        },
        true);
    auto read = CBIOReadRequest::requestWithPathToRead(*path, std::move(context), true);
    if (c->ioRequestManager())
        c->ioRequestManager()->sendAsyncCommand(std::move(read));
    else
        read->execute();
}

std::string CBAdViewInternal::baseURL() {
    static const std::string kBaseURL = [] {
        std::string root;
        for (char ch : CBAdManager::adRootDir()) {
            if (ch == '/')
                root += "//";
            else if (ch == ' ')
                root += "%20";
            else
                root += ch;
        }
        return "file:/" + root + "//";
    }();
    return kBaseURL;
}

void CBAdViewInternal::adContentDidLoad() {
    auto container = fadedContainerView();
    m_fadedContainer.reset();
    std::weak_ptr<CBAdViewInternal> weak = weak_from_this();
    auto finished = [weak] {
        if (auto self = weak.lock()) {
            self->m_view->setUserInteractionEnabled(true);
            self->m_isRefreshing = false;
        }
    };
    if (container && container->alpha() == 0) {
        m_view->setAlpha(1.0);
        platform::AnimationOptions fade("", kFadeDuration);
        platform::View::animate(fade, [&] { container->setAlpha(1.0); },
                                [finished](const std::string&, bool) { finished(); });
    } else {
        finished();
    }
    if (m_slot)
        notifyDelegateAdReadyForSlotNamed(m_slot->slotDescription()->name());
}

void CBAdViewInternal::adDisplayed() {
    if (!m_slot || !m_bridge->isCBJSLoaded())
        return;
    // Only a drawing of a new ad that has not been drawn yet counts: a mere redraw must not
    // rotate the download times (that would delete the ad on screen).
    if (m_hasDisplayedCurrentAd || m_slot->nextAdDlTime() == 0)
        return;
    m_lastDisplayTime = now();
    m_hasDisplayedCurrentAd = true;
    const std::int64_t previous = m_slot->dlTime();
    m_slot->setDlTime(m_slot->nextAdDlTime());
    m_slot->setNextAdDlTime(0);
    m_bridge->sendJavascriptCommand("adViewDisplayed();");
    auto manager = adManager();
    if (!manager)
        return;
    const std::string& name = m_slot->slotDescription()->name();
    if (previous != 0)
        manager->deleteAd(previous, name, !controlsFullScreenSlot());
    else if (!controlsFullScreenSlot())
        manager->queueFetchForSlotNamed(name);
}

void CBAdViewInternal::adDisplayFailedForSlotNamed(const std::string&) {
    // Only a banner whose display page was already loaded faded its content out; that page
    // still holds the ad shown before.
    const bool pageHoldsPreviousAd = m_isRefreshing && m_slot && m_slot->dlTime() != 0;
    m_hasDisplayedCurrentAd = true;
    m_isRefreshing = false;
    m_view->setUserInteractionEnabled(true);
    // The ad that cannot be shown would stay the slot's next ad until it expires and be
    // offered again at every refresh: it is dropped and another one fetched.
    const std::int64_t broken = std::exchange(m_displayingDlTime, 0);
    auto manager = adManager();
    if (broken != 0 && manager && m_slot)
        manager->deleteAd(broken, m_slot->slotDescription()->name(), true);
    // The previous ad shows again; without one the banner stays as it is until its next ad.
    if (!pageHoldsPreviousAd)
        return;
    if (auto container = fadedContainerView()) {
        m_fadedContainer.reset();
        platform::AnimationOptions fade("", kFadeDuration);
        platform::View::animate(fade, [&] { container->setAlpha(1.0); });
    }
}

void CBAdViewInternal::adReadyDelayed(const std::string& slotName) { notifyDelegateAdReadyForSlotNamed(slotName); }

void CBAdViewInternal::adViewNeedsDisplay() {
    if (auto superview = m_view->superview())
        superview->setNeedsDisplay();
}

std::shared_ptr<platform::View> CBAdViewInternal::containerView() const {
    std::shared_ptr<platform::View> view = m_view;
    while (view) {
        auto superview = view->superview();
        if (!superview || superview->frame().size.width != view->frame().size.width ||
            superview->frame().size.height != view->frame().size.height)
            break;
        view = superview;
    }
    return view;
}

std::shared_ptr<platform::View> CBAdViewInternal::fadedContainerView() const {
    if (auto faded = m_fadedContainer.lock())
        return faded;
    return containerView();
}

void CBAdViewInternal::layout() {
    const platform::Rect bounds = m_view->bounds();
    platform::Rect webFrame = bounds;
    if (!m_navigationBar->isHidden()) {
        webFrame.origin.y += kBrowserBarHeight;
        webFrame.size.height -= kBrowserBarHeight;
    }
    m_webView->setFrame(webFrame);
    m_navigationBar->setFrame({0, 0, bounds.size.width, kBrowserBarHeight});
    if (!m_isBrowserMode && m_bridge->isCBJSLoaded()) {
        const platform::Rect web = m_webView->bounds();
        m_bridge->sendJavascriptCommand(platform::formatString("centerAd(%f,%f,false);", web.size.width, web.size.height));
    }
}

void CBAdViewInternal::applicationWillEnterForeground() {
    if (m_lastDisplayTime != 0 && m_refreshInterval > 0) {
        refresh();
        return;
    }
    if (m_lastDisplayTime != 0)
        return;
    if (auto container = containerView()) {
        m_fadedContainer = container;
        container->setAlpha(0);
    }
    m_view->setUserInteractionEnabled(false);
    refresh();
}

void CBAdViewInternal::fullScreenAdWindowDidClose() {
    if (m_refreshInterval > 0)
        requestDisplay(false);
}

void CBAdViewInternal::setExecMode(int mode) {
    if (mode == m_execMode)
        return;
    m_execMode = mode;
    m_bridge->handleExecModeUpdate(mode);
}

void CBAdViewInternal::sendCommand(const std::string& script) { m_bridge->sendJavascriptCommand(script); }

void CBAdViewInternal::adViewWillExpand() { sendCommand("RichAd.adViewWillExpand();"); }
void CBAdViewInternal::adViewDidCollapse() { sendCommand("RichAd.adViewDidCollapse();"); }

void CBAdViewInternal::accelerometerDidAccelerate(platform::Accelerometer&, const platform::Acceleration& a) {
    sendCommand(platform::formatString("accelerometerDidAccelerate(%f, %f, %f)", a.x, a.y, a.z));
}

// ---------------------------------------------------------------------------------------------
// Impression trackers and pings

void CBAdViewInternal::trackImpression() {
    auto c = engine();
    if (!c || !m_slot || !c->dbQueryManager())
        return;
    std::weak_ptr<CBAdViewInternal> weak = weak_from_this();
    auto context = CBCallbackContext::contextWithCallbackInvocation(
        [weak](const platform::Value& result) {
            if (auto self = weak.lock())
                self->fetchUrlsStashedInDB(result);
        },
        true);
    c->dbQueryManager()->sendAsyncCommand(CBDBQuery::queryWithQuery(
        c->database(), "SELECT trackers FROM ads WHERE slotName=? AND dlTime=?", std::move(context),
        {platform::Value(m_slot->slotDescription()->name()), platform::Value(m_slot->dlTime())}));
}

void CBAdViewInternal::fetchUrlsStashedInDB(const platform::Value& results) {
    const auto* rows = results.array();
    if (!rows)
        return;
    const std::string_view separator = kTrackerSeparator;
    for (const auto& row : *rows) {
        // A row is one non-empty text column; anything else is skipped.
        const auto* columns = row.array();
        if (!columns || columns->size() != 1 || !columns->at(0).string() || columns->at(0).string()->empty())
            continue;
        const std::string_view text = *columns->at(0).string();
        std::size_t start = 0;
        while (start <= text.size()) {
            std::size_t end = text.find(separator, start);
            if (end == std::string_view::npos)
                end = text.size();
            if (end > start)
                fetchUrl(CBBase64::stringWithBase64String(text.substr(start, end - start)));
            start = end + separator.size();
        }
    }
}

void CBAdViewInternal::fetchUrl(const std::string& url, double timeout, std::optional<std::string> callback) {
    auto parsed = platform::URL::parse(url);
    const std::string scheme = parsed ? parsed->scheme() : "";
    platform::Value userData;
    if (callback) {
        platform::Dictionary data;
        data["callback"] = *callback;
        userData = platform::Value(std::move(data));
    }
    // Pings go to web addresses only.
    if (!parsed || (scheme != "http" && scheme != "https")) {
        platform::logLine("CBAdEngine: refused to fetch " + url);
        if (callback)
            sendCommand(CBCommandHandler::fillIntegerCallback(*callback, 0));
        return;
    }
    platform::URLRequest request(*parsed);
    auto connection = timeout > 0
                          ? CBDownloadConnection::timedConnectionWithURLRequest(request, weak_from_this(), userData, timeout)
                          : CBDownloadConnection::connectionWithURLRequest(request, weak_from_this(), userData);
    // The download starts as it is made.
    m_fetches.insert(connection);
}

void CBAdViewInternal::finishDownload(CBDownloadConnection& download, bool succeeded) {
    auto keep = download.shared_from_this();
    if (!m_fetches.erase(keep))
        return; // not ours, or already reported
    if (const auto* data = download.userData().dictionary())
        if (auto it = data->find("callback"); it != data->end() && it->second.string())
            sendCommand(CBCommandHandler::fillIntegerCallback(*it->second.string(), succeeded ? 1 : 0));
}

void CBAdViewInternal::downloadSucceeded(CBDownloadConnection& download) { finishDownload(download, true); }
void CBAdViewInternal::downloadFailed(CBDownloadConnection& download) { finishDownload(download, false); }
void CBAdViewInternal::downloadTimedOut(CBDownloadConnection& download) { finishDownload(download, false); }

std::string CBAdViewInternal::fillBoundsCallback(std::string_view callback, double width, double height) {
    std::string out;
    const double values[] = {width, height};
    std::size_t used = 0;
    for (std::size_t i = 0; i < callback.size(); ++i) {
        if (callback[i] == '%' && used < 2) {
            if (const std::size_t length = floatConversionLength(callback, i)) {
                const std::string conversion(callback.substr(i, length));
                char number[128];
                std::snprintf(number, sizeof number, conversion.c_str(), values[used++]);
                out += number;
                i += length - 1;
                continue;
            }
        }
        out += callback[i];
    }
    return out;
}

void CBAdViewInternal::getViewBoundsWithCallback(const std::string& callback) {
    const platform::Rect bounds = m_webView->bounds();
    sendCommand(fillBoundsCallback(callback, bounds.size.width, bounds.size.height));
}

// ---------------------------------------------------------------------------------------------
// Taps, click-throughs and landing pages

bool CBAdViewInternal::webViewShouldStartLoadWithRequestNavigationType(platform::WebView& webView,
                                                                       const platform::URLRequest& request,
                                                                       platform::WebViewNavigationType type) {
    const platform::URL& url = request.url();
    const std::string scheme = url.scheme();
    if (scheme == "file")
        return true;
    if (scheme == "about")
        return false;
    if (scheme == "http" || scheme == "https") {
        if (CBUtil::URLWillLoadExternalApp(url)) {
            handleClickthroughToExternalAppURL(url);
            return false;
        }
        if (type == platform::WebViewNavigationType::Other || m_isBrowserMode)
            return true;
        requestPage(url);
        return false;
    }
    if (scheme == "cobalt") {
        if (url.host() == std::optional<std::string>("ct"))
            webView.stringByEvaluatingJavaScriptFromString("handleClickthrough(" +
                                                           scriptStringLiteral(url.absoluteString()) + ");");
        return false;
    }
    platform::Application::shared().openURL(url.absoluteString());
    return false;
}

void CBAdViewInternal::requestClickthroughWithCallback(const std::string& script) {
    auto window = CBFullScreenAdWindow::shared();
    if (window->markDisplayingIfIdle(!m_isRefreshing))
        sendCommand(script);
}

void CBAdViewInternal::requestPage(const platform::URL& url) {
    // The page that chose the URL (the one shown now): its local-file rule holds for the load.
    const auto shown = m_webView->request();
    const platform::URL chosenBy = shown ? shown->url() : *platform::URL::parse("about:blank");
    m_shouldWipeContentOnDismiss = true;
    if (CBUtil::URLWillLoadExternalApp(url)) {
        handleClickthroughToExternalAppURL(url);
        return;
    }
    if (!controlsFullScreenSlot() && !m_isExpanded) {
        m_isBrowserMode = true;
        scheduleExitItem();
        disableNavigationControls();
        expand();
        if (!m_isExpanded) {
            // The window is taken by another ad: the banner keeps its ad.
            m_isBrowserMode = false;
            m_shouldWipeContentOnDismiss = false;
            return;
        }
    } else {
        if (auto host = CBFullScreenAdWindow::shared()->appWindow())
            host->setHidden(true);
        prepareAdViewBrowserMode(true);
    }
    if (auto c = engine())
        c->releaseAccelerometer();
    markAsLoading(true);
    const bool onTheWeb = url.scheme() == "http" || url.scheme() == "https";
    if (onTheWeb && url.host() == std::optional<std::string>(kVideoWebHost)) {
        const platform::Rect screen = platform::Screen::main().bounds();
        m_webView->loadHTMLString(CBResources::youtubePage(static_cast<int>(screen.size.width), url.absoluteString(),
                                                           screen.size.width, screen.size.height),
                                  url);
        return;
    }
    m_webView->loadRequest(platform::URLRequest(url), chosenBy);
    if (url.scheme() == "tel")
        showNavigationExitItem();
}

void CBAdViewInternal::handleClickthroughToExternalAppURL(const platform::URL& url) {
    auto& center = platform::NotificationCenter::defaultCenter();
    if (!m_observingExternalApp) {
        m_observingExternalApp = true;
        std::weak_ptr<CBAdViewInternal> weak = weak_from_this();
        center.addObserver(
            platform::kApplicationDidEnterBackgroundNotification,
            [weak](const platform::Notification&) {
                if (auto self = weak.lock())
                    self->applicationDidLoadExternalAppURL();
            },
            nullptr, this);
    }
    if (platform::Application::shared().openURL(url.absoluteString()))
        return;
    // Nothing opened it: the application stays in front, so the click-through ends here.
    m_observingExternalApp = false;
    center.removeObserver(this, platform::kApplicationDidEnterBackgroundNotification);
    if (!controlsFullScreenSlot() && !m_isExpanded)
        CBFullScreenAdWindow::shared()->setIsDisplaying(false);
}

void CBAdViewInternal::applicationDidLoadExternalAppURL() {
    m_observingExternalApp = false;
    platform::NotificationCenter::defaultCenter().removeObserver(this, platform::kApplicationDidEnterBackgroundNotification);
    m_lastDisplayTime = 0;
    if (!controlsFullScreenSlot() && !m_isExpanded)
        CBFullScreenAdWindow::shared()->setIsDisplaying(false);
    else
        dismissAnimated(false);
}

void CBAdViewInternal::expand() {
    if (controlsFullScreenSlot() || m_isExpanded)
        return;
    auto window = CBFullScreenAdWindow::shared();
    // The window shows one ad at a time: another ad's content keeps it.
    if (auto content = window->contentController(); content && content.get() != this) {
        platform::logLine("CBAdEngine: Ignoring expansion of slot " + m_slot->slotDescription()->name() +
                          " while another ad is displayed full screen.");
        return;
    }
    // However the expansion came about (a click-through, a plain link or the script), the
    // window is displaying from now on, so no other ad is shown over it and the banners wait
    // until it closes.
    if (!window->isDisplaying())
        window->setIsDisplaying(true);
    m_isExpanded = true;
    m_lastDisplayTime = 0;
    setExecMode(1);
    window->displayController(shared_from_this());
}

void CBAdViewInternal::dismissAnimated(bool animated) {
    if (m_isLoading) {
        m_webView->stopLoading();
        m_bridge->webViewDidFailLoadWithError(*m_webView, platform::Error{});
        m_navigationLoadingIndicator->stopAnimating();
        m_isLoading = false;
    }
    if (auto c = engine())
        c->releaseAccelerometer();
    m_webView->setScalesPageToFit(false);
    m_isBrowserMode = false;
    CBFullScreenAdWindow::shared()->dismissAnimated(animated);
    setExecMode(0);
    // A landing page stays in the web view until the next display loads the display page:
    // there is nothing to poll meanwhile.
    if (m_shouldWipeContentOnDismiss && !m_bridge->isCBJSLoaded())
        m_bridge->halt();
    hideNavigationExitItem();
    if (controlsFullScreenSlot()) {
        hideAdLoadingIndicator();
        if (m_slot) {
            m_slot->setIsDisplayed(false);
            if (auto manager = adManager())
                manager->queueFetchForSlotNamed(m_slot->slotDescription()->name());
        }
        return;
    }
    m_isExpanded = false;
    if (animated && m_slot && m_slot->hasNextAdDownloaded()) {
        std::weak_ptr<CBAdViewInternal> weak = weak_from_this();
        platform::RunLoop::main().performAfter(
            kRedisplayDelay,
            [weak] {
                if (auto self = weak.lock())
                    self->display();
            },
            this, kDisplayName);
    }
}

// ---------------------------------------------------------------------------------------------
// Browser mode

void CBAdViewInternal::scheduleExitItem() {
    auto c = engine();
    const double delay = c ? c->exitItemDisplayTime() : CBController::kDefaultExitItemDisplayTime;
    if (delay == 0)
        return;
    hideNavigationExitItem();
    if (m_exitItemTimer)
        m_exitItemTimer->invalidate();
    std::weak_ptr<CBAdViewInternal> weak = weak_from_this();
    m_exitItemTimer = platform::Timer::scheduled(delay, false, [weak](platform::Timer&) {
        if (auto self = weak.lock())
            self->showNavigationExitItem();
    });
}

void CBAdViewInternal::prepareAdViewBrowserMode(bool on) {
    m_webView->setScalesPageToFit(on);
    if (on && !m_isBrowserMode) {
        scheduleExitItem();
        disableNavigationControls();
    }
    m_isBrowserMode = on;
    platform::AnimationOptions bar("", kFadeDuration);
    platform::View::animate(bar, [&] { on ? showNavigationBar() : hideNavigationBar(); });
}

void CBAdViewInternal::showNavigationBar() {
    if (!m_navigationBar->isHidden())
        return;
    m_navigationBar->setHidden(false);
    m_navigationBar->setAlpha(1.0);
    platform::Rect frame = m_webView->frame();
    frame.origin.y += kBrowserBarHeight;
    frame.size.height -= kBrowserBarHeight;
    m_webView->setFrame(frame);
}

void CBAdViewInternal::hideNavigationBar() {
    if (m_navigationBar->isHidden())
        return;
    m_navigationBar->setHidden(true);
    m_navigationBar->setAlpha(0);
    m_webView->setFrame(m_view->bounds());
}

void CBAdViewInternal::markAsLoading(bool loading) {
    if (loading) {
        m_navigationLoadingIndicator->startAnimating();
        m_isLoading = true;
        return;
    }
    m_navigationLoadingIndicator->stopAnimating();
    m_isLoading = false;
    if (m_isBrowserMode)
        showNavigationExitItem();
}

void CBAdViewInternal::showNavigationExitItem() {
    if (m_navigationItem->leftBarButtonItem())
        return;
    std::weak_ptr<CBAdViewInternal> weak = weak_from_this();
    m_navigationItem->setLeftBarButtonItem(
        platform::BarButtonItem::withSystemItem(platform::BarButtonSystemItem::Done,
                                                [weak](platform::BarButtonItem&) {
                                                    if (auto self = weak.lock())
                                                        self->dismiss();
                                                }),
        true);
}

void CBAdViewInternal::hideNavigationExitItem() { m_navigationItem->setLeftBarButtonItem(nullptr, false); }

void CBAdViewInternal::enableNavigationControls() {
    const bool back =
        m_webView->canGoBack() && !m_webView->stringByEvaluatingJavaScriptFromString("document.referrer").empty();
    m_navigationControls->setEnabled(back, 0);
    m_navigationControls->setImage(back ? CBResources::backButton() : CBResources::backButtonDisabled(), 0);
    const bool forward = m_webView->canGoForward();
    m_navigationControls->setEnabled(forward, 1);
    m_navigationControls->setImage(forward ? CBResources::forwardButton() : CBResources::forwardButtonDisabled(), 1);
}

void CBAdViewInternal::disableNavigationControls() {
    m_navigationControls->setImage(CBResources::backButtonDisabled(), 0);
    m_navigationControls->setImage(CBResources::forwardButtonDisabled(), 1);
    m_navigationControls->setEnabled(false, 0);
    m_navigationControls->setEnabled(false, 1);
}

void CBAdViewInternal::webViewDidStartLoad(platform::WebView&) {
    if (m_isBrowserMode)
        markAsLoading(true);
}

void CBAdViewInternal::webViewDidFinishLoad(platform::WebView&) {
    if (!m_isBrowserMode)
        return;
    // A landing page has no commands for the bridge: polling resumes with the display page.
    m_bridge->halt();
    markAsLoading(false);
    enableNavigationControls();
}

void CBAdViewInternal::webViewDidFailLoadWithError(platform::WebView&, const platform::Error&) { markAsLoading(false); }

// ---------------------------------------------------------------------------------------------
// Accelerometer, driver and delegate notices

void CBAdViewInternal::captureAccelerometer(double updateInterval) {
    auto c = engine();
    if (!c)
        return;
    c->setSdkAccelerometerUpdateInterval(updateInterval);
    c->captureAccelerometer(weak_from_this());
}

void CBAdViewInternal::sendDriverCommand(const std::string& command) {
    auto c = engine();
    if (c && c->clientManager() && c->clientManager()->clientDriver())
        c->clientManager()->clientDriver()->executeCommand(command);
}

bool CBAdViewInternal::notifyDelegateAdReadyForSlotNamed(const std::string& slotName) {
    auto d = delegate();
    if (!d)
        return false;
    d->cobaltAdReadyForSlotNamed(slotName);
    return true;
}

bool CBAdViewInternal::notifyDelegateFullScreenAdDisplayWillOpen() {
    auto d = delegate();
    if (!d)
        return false;
    d->cobaltFullScreenDisplayWillOpen();
    return true;
}

bool CBAdViewInternal::notifyDelegateFullScreenAdDisplayWillClose() {
    if (auto c = engine())
        c->fullScreenAdDisplayWillClose();
    auto d = delegate();
    if (!d)
        return false;
    d->cobaltFullScreenDisplayWillClose();
    return true;
}

bool CBAdViewInternal::notifyDelegateDidReceiveMemoryWarning() {
    auto d = delegate();
    if (!d)
        return false;
    d->cobaltDidReceiveMemoryWarning();
    return true;
}

// ---------------------------------------------------------------------------------------------
// CBDisplayCommandHandler

CBDisplayCommandHandler::CBDisplayCommandHandler(std::weak_ptr<CBAdViewInternal> adController)
    : CBCommandHandler(kName), m_adController(std::move(adController)) {
    // Every method reaches the controller only while it lives.
    auto on = [this](auto action) {
        return [this, action](const Arguments& args) {
            if (auto c = controller())
                action(*c, args);
        };
    };
    addMethod("bridge_notifyAdContentWillLoad", on([](CBAdViewInternal& c, const Arguments&) { c.adContentWillLoad(); }));
    addMethod("bridge_notifyAdContentDidLoad", on([](CBAdViewInternal& c, const Arguments&) { c.adContentDidLoad(); }));
    addMethod("bridge_notifyAdViewNeedsDisplay",
              on([](CBAdViewInternal& c, const Arguments&) { c.adViewNeedsDisplay(); }));
    addMethod("bridge_notifyAdDisplayFailedForSlotNamed:",
              on([](CBAdViewInternal& c, const Arguments& a) { c.adDisplayFailedForSlotNamed(text(a.at(0))); }));
    addMethod("bridge_notifyAdReadyDelayed:",
              on([](CBAdViewInternal& c, const Arguments& a) { c.adReadyDelayed(text(a.at(0))); }));
    addMethod("bridge_trackImpression", on([](CBAdViewInternal& c, const Arguments&) { c.trackImpression(); }));
    addMethod("bridge_pingURL:", on([](CBAdViewInternal& c, const Arguments& a) { c.fetchUrl(text(a.at(0))); }));
    addMethod("bridge_pingURL:timeout:callback:", on([](CBAdViewInternal& c, const Arguments& a) {
                  const double timeout = std::strtod(text(a.at(1)).c_str(), nullptr);
                  c.fetchUrl(text(a.at(0)), std::isfinite(timeout) ? timeout : 0, text(a.at(2)));
              }));
    addMethod("bridge_requestURL:", on([](CBAdViewInternal& c, const Arguments& a) {
                  if (auto url = platform::URL::parse(text(a.at(0))); url && url->isAbsolute()) {
                      c.requestPage(*url);
                      return;
                  }
                  platform::logLine("CBAdEngine: refused to request the page " + text(a.at(0)));
                  // The click-through that asked for it ends here.
                  if (!c.controlsFullScreenSlot() && !c.isExpanded())
                      CBFullScreenAdWindow::shared()->setIsDisplaying(false);
              }));
    addMethod("bridge_requestClickthroughWithCallback:", on([](CBAdViewInternal& c, const Arguments& a) {
                  c.requestClickthroughWithCallback(text(a.at(0)));
              }));
    addMethod("bridge_getViewBoundsWithCallback:",
              on([](CBAdViewInternal& c, const Arguments& a) { c.getViewBoundsWithCallback(text(a.at(0))); }));
    addMethod("bridge_expand", on([](CBAdViewInternal& c, const Arguments&) { c.expand(); }));
    addMethod("bridge_dismiss", on([](CBAdViewInternal& c, const Arguments&) { c.dismiss(); }));
    addMethod("bridge_captureAccelerometer:", on([](CBAdViewInternal& c, const Arguments& a) {
                  const double interval = std::strtod(text(a.at(0)).c_str(), nullptr);
                  if (std::isfinite(interval))
                      c.captureAccelerometer(interval);
              }));
    addMethod("bridge_sendDriverCommand:",
              on([](CBAdViewInternal& c, const Arguments& a) { c.sendDriverCommand(text(a.at(0))); }));
    addMethod("bridge_prepareActionSheet", on([](CBAdViewInternal& c, const Arguments&) { c.prepareActionSheet(); }));
    addMethod("bridge_addButtonToActionSheet:callback:", on([](CBAdViewInternal& c, const Arguments& a) {
                  c.addButtonToActionSheet(text(a.at(0)), text(a.at(1)));
              }));
    addMethod("bridge_displayActionSheet", on([](CBAdViewInternal& c, const Arguments&) { c.displayActionSheet(); }));
}

} // namespace cobalt
