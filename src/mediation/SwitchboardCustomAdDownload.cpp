#include "mediation/SwitchboardCustomAdDownload.h"

#include "mediation/SwitchboardNumbers.h"

#include "mediation/SwitchboardDelegate.h"
#include "mediation/SwitchboardLog.h"
#include "mediation/SwitchboardViewInterface.h"
#include "platform/net/URLError.h"
#include "platform/ui/Application.h"
#include "platform/ui/Image.h"

namespace mediation::detail {

namespace {

constexpr std::string_view kBrowserNotPresented = "Cannot present the in-app browser for %@";

bool isSuccessStatus(int status) {
    return status >= 200 && status <= 299;
}

} // namespace

std::optional<platform::URL> readReplyURL(const platform::Value& info, std::string_view key,
                                          std::string_view absent, std::string_view malformed) {
    const platform::Value* value = info.find(key);
    const std::string* text = value ? value->string() : nullptr;
    if (!text) {
        SBLogWarn(absent);
        return std::nullopt;
    }
    auto url = platform::URL::parse(*text);
    if (!url || !url->isAbsolute()) {
        SBLogWarn(malformed, *text);
        return std::nullopt;
    }
    return url;
}

CustomAdDownloadAdapter::~CustomAdDownloadAdapter() {
    if (adConnection_)
        adConnection_->cancel();
    if (imageConnection_)
        imageConnection_->cancel();
    if (webBrowserController_)
        webBrowserController_->setDelegate({});
}

bool CustomAdDownloadAdapter::isRequesting() const {
    std::lock_guard lock(requestingMutex_);
    return requesting_;
}

void CustomAdDownloadAdapter::getAd() {
    {
        std::lock_guard lock(requestingMutex_);
        if (requesting_)
            return;
        requesting_ = true;
    }
    auto url = adRequestURL();
    if (!url) {
        fail(SwitchboardError(kSBErrorCustomAdConnection, std::string(texts().connectionError),
                              platform::makeURLError(platform::kURLErrorBadURL, "")));
        return;
    }
    adConnection_ = startConnection(*url, kMaximumAdDataBytes);
}

void CustomAdDownloadAdapter::stopBeingDelegate() {
    if (adView_)
        adView_->setDelegate({});
}

std::shared_ptr<platform::URLConnection> CustomAdDownloadAdapter::startConnection(const platform::URL& url,
                                                                                  std::int64_t cap) {
    std::shared_ptr<platform::URLConnectionDelegate> self(
        shared_from_this(), static_cast<platform::URLConnectionDelegate*>(this));
    auto connection = platform::URLConnection::create(platform::URLRequest(url), self, false,
                                                      platform::URLConnection::DelegateHold::Weak);
    connection->setMaximumBodyLength(cap);
    connection->start();
    return connection;
}

std::weak_ptr<SwitchboardCustomAdViewDelegate> CustomAdDownloadAdapter::viewDelegate() {
    return std::shared_ptr<SwitchboardCustomAdViewDelegate>(
        shared_from_this(), static_cast<SwitchboardCustomAdViewDelegate*>(this));
}

void CustomAdDownloadAdapter::setAdView(std::shared_ptr<SwitchboardCustomAdView> view) {
    adView_ = view;
    setAdNetworkView(std::move(view));
}

void CustomAdDownloadAdapter::startImageRequest(const platform::URL& url) {
    imageData_.clear();
    imageConnection_ = startConnection(url, kMaximumImageBytes);
}

void CustomAdDownloadAdapter::setInvalid(std::optional<platform::Error>* error, std::string description) {
    if (error)
        *error = SwitchboardError(kSBErrorCustomAdInvalid, std::move(description));
}

bool CustomAdDownloadAdapter::parseEnums(int* value, const platform::Value& adInfo, int minVal, int maxVal,
                                         std::string_view fieldName,
                                         std::optional<platform::Error>* error) const {
    // Numbers arrive as JSON numbers or as text ("2"): read as the configuration reads them.
    int number = 0;
    if (!sbIntVal(number, adInfo.find(fieldName))) {
        // A field that is absent or holds no number cannot be read as one of the values.
        setInvalid(error, sbFormat(texts().missingField, fieldName));
        return false;
    }
    if (number <= minVal || number >= maxVal) {
        setInvalid(error, sbFormat(texts().invalidField, fieldName, number));
        return false;
    }
    if (value)
        *value = number;
    return true;
}

void CustomAdDownloadAdapter::fail(const std::optional<platform::Error>& error) {
    {
        std::lock_guard lock(requestingMutex_);
        requesting_ = false;
    }
    if (auto slot = switchboardView())
        slot->adapterDidFailAd(*this, error);
}

void CustomAdDownloadAdapter::connectionDidReceiveResponse(platform::URLConnection& connection,
                                                           const platform::URLResponse& response) {
    bool isAd = &connection == adConnection_.get();
    bool isImage = &connection == imageConnection_.get();
    if (!isAd && !isImage)
        return;
    if (!isSuccessStatus(response.statusCode())) {
        connection.cancel();
        auto underlying =
            platform::makeURLError(platform::kURLErrorBadServerResponse, response.url().absoluteString());
        fail(SwitchboardError(kSBErrorCustomAdConnection,
                              std::string(isAd ? texts().connectionError : texts().imageConnectionError),
                              underlying));
        return;
    }
    (isAd ? adData_ : imageData_).clear();
}

void CustomAdDownloadAdapter::connectionDidReceiveData(platform::URLConnection& connection,
                                                       const platform::Data& data) {
    if (&connection == adConnection_.get())
        adData_.insert(adData_.end(), data.begin(), data.end());
    else if (&connection == imageConnection_.get())
        imageData_.insert(imageData_.end(), data.begin(), data.end());
}

void CustomAdDownloadAdapter::connectionDidFailWithError(platform::URLConnection& connection,
                                                         const platform::Error& error) {
    bool isAd = &connection == adConnection_.get();
    if (!isAd && &connection != imageConnection_.get())
        return;
    fail(SwitchboardError(kSBErrorCustomAdConnection,
                          std::string(isAd ? texts().connectionError : texts().imageConnectionError), error));
}

void CustomAdDownloadAdapter::connectionDidFinishLoading(platform::URLConnection& connection) {
    if (&connection == imageConnection_.get()) {
        imageFinished();
        return;
    }
    if (&connection != adConnection_.get())
        return;
    std::optional<platform::Error> error;
    if (!parseAdData(adData_, &error))
        fail(error);
}

void CustomAdDownloadAdapter::imageFinished() {
    auto image = platform::Image::fromData(imageData_);
    if (image && imageScale() != 1.0)
        image = std::make_shared<platform::Image>(image->pixelWidth(), image->pixelHeight(), image->pixels(),
                                                  image->name(), imageScale());
    if (!image || !adView_) {
        fail(SwitchboardError(kSBErrorCustomAdImage, std::string(texts().imageDataError)));
        return;
    }
    adView_->setImage(image);
    {
        std::lock_guard lock(requestingMutex_);
        requesting_ = false;
    }
    if (auto slot = switchboardView())
        slot->adapterDidReceiveAdView(*this, adView_);
}

void CustomAdDownloadAdapter::adTapped(SwitchboardCustomAdView& view) {
    if (&view != adView_.get())
        return;
    sendClickPing(view);
    const auto& url = view.redirectURL();
    if (!url) {
        SBLogError(texts().redirectURLNil);
        return;
    }
    switch (view.launchType()) {
    case SwitchboardCustomAdView::kLaunchTypeOutside:
        willOpenOutside(*url);
        if (!platform::Application::shared().openURL(url->absoluteString()))
            couldNotOpenOutside(*url);
        return;
    case SwitchboardCustomAdView::kLaunchTypeBrowser: {
        if (webBrowserController_) {
            // The browser is already open (a second tap): show the page there.
            webBrowserController_->loadURL(*url);
            return;
        }
        webBrowserController_ = SwitchboardWebBrowserController::create();
        webBrowserController_->setDelegate(std::shared_ptr<SwitchboardWebBrowserControllerDelegate>(
            shared_from_this(), static_cast<SwitchboardWebBrowserControllerDelegate*>(this)));
        std::shared_ptr<platform::ViewController> presenter;
        if (auto d = switchboardDelegate())
            presenter = d->viewControllerForPresentingModalView();
        webBrowserController_->presentWithController(presenter, view.animType());
        if (!presenter || !webBrowserController_->presentingViewController()) {
            // Nothing shows the browser, so nothing would ever close it: keep the slot going.
            SBLogError(kBrowserNotPresented, url->absoluteString());
            webBrowserController_->setDelegate({});
            webBrowserController_.reset();
            return;
        }
        helperNotifyDelegateOfFullScreenModal();
        webBrowserController_->loadURL(*url);
        return;
    }
    default:
        SBLogError(texts().unsupportedLaunchType, view.launchType());
        return;
    }
}

void CustomAdDownloadAdapter::webBrowserClosed(SwitchboardWebBrowserController& browser) {
    if (&browser != webBrowserController_.get())
        return;
    auto keep = webBrowserController_; // the browser is inside its own callback
    webBrowserController_->setDelegate({});
    webBrowserController_.reset();
    helperNotifyDelegateOfFullScreenModalDismissal();
}

} // namespace mediation::detail
