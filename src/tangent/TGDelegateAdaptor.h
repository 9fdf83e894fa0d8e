#pragma once
// TGDelegateAdaptor: the Tangent client's only way to its host. It asks the host's optional
// questions and gives the defaults when the host has no answer, makes the host's callbacks,
// answers a few values from the widget itself, and carries the response id of its request.
// TGDelegateAdaptorImmutable is bound to one host for life and keeps the host's request
// parameters as first answered, so an ad keeps the parameters it was requested with.
//
// Ownership: the widget makes one adaptor per request and each ad view keeps the adaptor of
// its request. The host and the widget are held weakly: once the host is gone the adaptor
// answers its defaults and calls nobody. The adaptor owns the event records of its ad
// (adEventCollection) and submits them when it goes. Main thread only.
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/location/LocationManager.h"
#include "platform/ui/Color.h"

namespace platform {
class ViewController;
}

namespace tangent {

class TGAdEventCollection;
class TGAdWidgetDelegate;
class TGAdWidgetWorker;

class TGDelegateAdaptor {
public:
    static constexpr int kDefaultAdultContent = 1;
    static constexpr int kDefaultRenderInterval = 30;
    static constexpr int kDefaultInterstitialInterval = 6;

    TGDelegateAdaptor();
    virtual ~TGDelegateAdaptor();
    TGDelegateAdaptor(const TGDelegateAdaptor&) = delete;
    TGDelegateAdaptor& operator=(const TGDelegateAdaptor&) = delete;

    virtual void setDelegate(const std::shared_ptr<TGAdWidgetDelegate>& host);
    std::shared_ptr<TGAdWidgetDelegate> delegate() const { return delegate_.lock(); }
    void setAdWidget(const std::shared_ptr<TGAdWidgetWorker>& widget) { adWidget_ = widget; }
    std::shared_ptr<TGAdWidgetWorker> adWidget() const { return adWidget_.lock(); }
    const std::optional<std::string>& requestId() const { return requestId_; }
    void setRequestId(std::optional<std::string> id) { requestId_ = std::move(id); }
    const std::vector<std::string>& quietSelectors() const { return quietSelectors_; }
    const std::shared_ptr<TGAdEventCollection>& adEventCollection() const { return adEventCollection_; }
    void setAdEventCollection(std::shared_ptr<TGAdEventCollection> collection);

    // Questions.
    virtual std::optional<std::string> publisher();
    virtual std::optional<std::string> site();
    virtual std::optional<std::string> adSpot();
    virtual std::optional<std::string> query();
    virtual int adultContent();
    virtual std::optional<std::map<std::string, std::string>> extraParameters();
    virtual bool isInterstitial();
    virtual std::optional<platform::Color> adBackgroundColor();
    virtual std::optional<platform::Color> adForegroundColor();
    virtual std::optional<platform::Location> location();
    bool shouldRenderAd();
    std::optional<std::string> getAdvertisementTitle();
    std::optional<std::string> getSafariButtonPrompt();
    std::optional<std::string> getBackButtonPrompt(bool interstitial);
    std::optional<std::string> getPlayVideoPrompt();
    // Names of the outside applications of "applicationsupport.xml" whose probe URL the
    // device can open, in the file's key order; nullopt when the file cannot be read.
    std::optional<std::vector<std::string>> supportedApplications();
    // The controller over which browser and modal screens are presented; nullptr (logged)
    // when none can be found.
    std::shared_ptr<platform::ViewController> respondingViewController();

    // Callbacks.
    void beginAdInteraction();
    void endAdInteraction();
    void beginDisplayingInterstitial();
    void endDisplayingInterstitial();
    void orientationHasChangedTo(int orientation);
    void didFailToRequestAd(const std::optional<platform::Error>& error);
    void didFailToShowAd(const std::optional<platform::Error>& error);

    // From the widget.
    int margin() const;
    int refreshInterval() const;
    int transition() const;
    bool autorotate() const;

    // Hidden hooks.
    virtual std::optional<std::string> protocolVersion();
    virtual std::optional<std::string> baseUrl();
    virtual int interstitialInterval();
    virtual int renderInterval();
    void modifyAdContent(std::string& text);
    void modifyAdJs(std::string& text);
    void modifyAdCss(std::string& text);
    void modifyAdUrl(std::string& text);

protected:
    bool hasQuietSelector(std::string_view name) const;
    // Runs `call` with the host and the widget when both are alive.
    template <typename F> void withHost(F&& call) const;

private:
    std::weak_ptr<TGAdWidgetDelegate> delegate_;
    std::weak_ptr<TGAdWidgetWorker> adWidget_;
    std::optional<std::string> requestId_;
    std::vector<std::string> quietSelectors_;
    std::shared_ptr<TGAdEventCollection> adEventCollection_;
};

class TGDelegateAdaptorImmutable final : public TGDelegateAdaptor {
public:
    // A different host while one is set is refused with "Cannot modify immutable delegate
    // adaptor" (std::logic_error); the same host again changes nothing.
    void setDelegate(const std::shared_ptr<TGAdWidgetDelegate>& host) override;

    std::optional<std::string> publisher() override;
    std::optional<std::string> site() override;
    std::optional<std::string> adSpot() override;
    std::optional<std::string> query() override;
    int adultContent() override { return adultContent_; }
    std::optional<std::map<std::string, std::string>> extraParameters() override;
    bool isInterstitial() override { return isInterstitial_; }
    std::optional<platform::Color> adBackgroundColor() override;
    std::optional<platform::Color> adForegroundColor() override;
    std::optional<platform::Location> location() override;
    std::optional<std::string> protocolVersion() override;
    std::optional<std::string> baseUrl() override;
    int interstitialInterval() override { return interstitialInterval_; }
    int renderInterval() override { return renderInterval_; }

private:
    bool hasHost_ = false;
    std::optional<std::string> publisher_;
    std::optional<std::string> adSpot_;
    std::optional<std::string> site_;
    std::optional<std::string> query_;
    bool isInterstitial_ = false;
    std::optional<std::map<std::string, std::string>> extraParameters_;
    std::optional<platform::Color> adBackgroundColor_;
    std::optional<platform::Color> adForegroundColor_;
    int adultContent_ = kDefaultAdultContent;
    std::optional<platform::Location> location_;
    int renderInterval_ = kDefaultRenderInterval;
    int interstitialInterval_ = kDefaultInterstitialInterval;
    std::optional<std::string> baseUrl_;
    std::optional<std::string> protocolVersion_;
};

} // namespace tangent
