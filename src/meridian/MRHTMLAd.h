#pragma once
// MRHTMLAd: the ad model of one HTML ad page. The page defines JavaScript functions with fixed
// names ("shouldShowModal()", "overlayTitle()", ...); the operations here evaluate them in the
// ad's web view and read their text answers (see kPageFunctions in the .cpp). Boolean answers
// that once came back YES are remembered and the page is not asked again.
//
// Three 1-second polls call the page: the resize poll (from creation until the page stops
// answering), the close poll (startCloseOverlayTimer) and the bottom-bar poll
// (startBottomBarTimer); "MROverlayWillClose" stops the last two.
//
// Ownership: held by its MRWebView buffer (and by the overlay that shows it); the polls hold
// it weakly, so every poll ends with the model. Main thread only; after the model goes away
// no poll fires and nothing is posted for it.
#include <memory>
#include <optional>
#include <string>

#include "meridian/MRBasicAd.h"
#include "platform/ui/Accelerometer.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/runloop/RunLoop.h"
#include "platform/web/WebView.h"

namespace meridian {

class MRGenericAdView;

class MRHTMLAd : public MRBasicAd,
                 public platform::AccelerometerDelegate,
                 public std::enable_shared_from_this<MRHTMLAd> {
public:
    static constexpr std::string_view kStylePrefix =
        "<style type=\"text/css\">body{ margin-left:auto; margin-right:auto; margin:0; padding:0; "
        "text-align:left;}</style>";
    static constexpr double kPollInterval = 1.0;
    static constexpr double kAccelerationFilter = 0.1;
    static constexpr double kAccelerometerInterval = 1.0 / 60;

    // initWithAdContents:webView:accelerometerEnabled:. Without markup (nullopt: the reply was
    // not UTF-8) or without a web view the model keeps "" and no web view, and does nothing.
    static std::shared_ptr<MRHTMLAd> create(std::optional<std::string> markup,
                                            std::shared_ptr<platform::WebView> webView,
                                            bool accelerometerEnabled);
    ~MRHTMLAd() override;

    const std::string& ad() const { return ad_; }
    const std::shared_ptr<platform::WebView>& webView() const { return webView_; }
    std::shared_ptr<MRGenericAdView> adView() const { return adView_.lock(); }
    void setAdView(std::weak_ptr<MRGenericAdView> adView) { adView_ = std::move(adView); }
    bool htmlHasLoaded() const { return htmlHasLoaded_; }
    bool accelerometerIsEnabled() const { return accelerometerIsEnabled_; }

    // Page functions.
    std::optional<platform::URL> openURL() override;
    std::string overlayTitle() override;
    bool shouldShowModal() override;
    platform::Size modalSize() override;
    std::optional<platform::Color> modalBorderColor() override;
    platform::Point modalLocation() override;
    double alphaForModalBorder() override;
    bool shouldMakeOverlayTransparent() override;
    bool showTitlebar() override;
    std::optional<platform::Color> titlebarColor() override;
    std::optional<std::string> overlayTransition() override;
    bool showBottomBar() override;
    bool isBottomBarEnabled() override;
    int orientationLock() override;
    bool shouldAccelerate() override;
    double transitionDuration() override;
    platform::Point pointToMimicTapAt();

    // Colour of a page answer (three or four numbers 0...1, or six hexadecimal digits with an
    // optional "#"); black for anything else.
    static platform::Color colorFromAnswer(std::string_view answer);

    // Polls.
    void startCloseOverlayTimer() override;
    void stopCloseOverlayTimer() override;
    void startBottomBarTimer() override;
    void stopShowBottomBarTimer() override;
    void shouldCloseOverlay();
    void shouldResizeAdTo();
    void shouldShowBottomBar();
    bool isResizePollRunning() const { return shouldResizeAdToTimer_ != nullptr; }
    bool isClosePollRunning() const { return shouldCloseOverlayTimer_ != nullptr; }
    bool isBottomBarPollRunning() const { return shouldShowBottomBarTimer_ != nullptr; }

    void htmlDidLoad() { htmlHasLoaded_ = true; }
    void overlayWasClosed();
    // One accelerometer reading: filtered and passed to the page's didAccelerate() when the
    // page has loaded, asked for acceleration and the owning ad view permits it.
    void didAccelerate(double x, double y, double z);
    // A reading of the shared accelerometer, taken while the ad holds it (with permission).
    void accelerometerDidAccelerate(platform::Accelerometer&, const platform::Acceleration& a) override {
        didAccelerate(a.x, a.y, a.z);
    }
    double accelX() const { return accelX_; }
    double accelY() const { return accelY_; }
    double accelZ() const { return accelZ_; }

    // Loads `markup` into a zero-size web view and answers its "shouldShowModal()" at once.
    static bool showModalOverlay(const std::string& markup);

private:
    MRHTMLAd() = default;
    std::string ask(std::string_view call);
    // A remembered boolean: answers YES without asking once the page said YES.
    bool askRemembered(bool& flag, std::string_view call, bool onEmpty);
    std::shared_ptr<platform::Timer> startPoll(void (MRHTMLAd::*poll)());
    static void stop(std::shared_ptr<platform::Timer>& timer);

    std::string ad_;
    std::shared_ptr<platform::WebView> webView_;
    std::weak_ptr<MRGenericAdView> adView_;
    bool shouldAccelerate_ = false;
    bool shouldShowTitlebar_ = false;
    bool shouldShowModal_ = false;
    bool shouldMakeOverlayTransparent_ = false;
    bool shouldShowBottomBar_ = false;
    double accelX_ = 0, accelY_ = 0, accelZ_ = 0;
    bool accelerometerIsEnabled_ = false;
    bool htmlHasLoaded_ = false;
    std::shared_ptr<platform::Timer> shouldCloseOverlayTimer_;
    std::shared_ptr<platform::Timer> shouldResizeAdToTimer_;
    std::shared_ptr<platform::Timer> shouldShowBottomBarTimer_;
    platform::NotificationCenter::ObserverToken overlayObserver_;
};

} // namespace meridian
