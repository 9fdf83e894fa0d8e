#pragma once
// The launch pop-up: the view that covers the first screen on a normal launch while the
// promotion service is asked whether to show a full-screen house promotion and whether the
// application shows network ads at all. It ends by telling its delegate, the application
// delegate, removeSplashPage:appIsAdEnabled:.
//
// The application drives it: init, initPopUp, the delegate (held weakly), then
// popUpId:fromAccount:launchImage:orientationIsLandscape:. The pop-up shows the launch image
// under a dimmed overlay with a spinner and a progress strip, requests the promotion and arms
// a time-out of 101 ticks (15.01 s on the main run loop's clock). It calls back: when the
// reply brings nothing to show (flag: the reply's ad-network switch, `isPaid`), when a reply
// arrives after the time-out (flag `isPaid`), when the shown promotion is closed or tapped
// (flag `isPaid`; a tap 0.5 s later, then the entry's "adFullLink" is opened), and at the
// time-out whenever no promotion image has arrived (flag YES). One launch can thus call back
// twice.
//
// Threads: everything runs on the main thread except the image download, which hands the
// display back to the main thread. Delayed work holds the pop-up weakly: nothing fires for a
// pop-up that is gone.
#include <memory>
#include <string>
#include <string_view>

#include "platform/foundation/Value.h"
#include "platform/ui/Image.h"
#include "platform/ui/View.h"

namespace promo {

class AsyncAdData;

// The last ad-network switch received from the pop-up service (starts NO).
extern bool isPaid;
// 1 from the start of the pop-up request until its promotion image has arrived, then 0.
extern int imageStatus;

class PopupControllerDelegate {
public:
    virtual ~PopupControllerDelegate() = default;
    // removeSplashPage:appIsAdEnabled: — `sender` is the pop-up.
    virtual void removeSplashPage(const std::shared_ptr<platform::View>& sender, bool appIsAdEnabled) = 0;
};

class PopupController : public platform::View {
public:
    // The states of popStatus.
    static constexpr int kIdle = 0;
    static constexpr int kWaitingForReply = 1;
    static constexpr int kTimedOut = 2;
    static constexpr int kPromotionShown = 3;

    // Tags of the subviews.
    static constexpr int kSpinnerTag = 5005;
    static constexpr int kProgressStripTag = 3003;
    static constexpr int kPromotionButtonTag = 101;
    // The promotion button shows only its downloaded picture: it is known by this name.
    static constexpr std::string_view kPromotionButtonLabel = "Promotion";
    static constexpr int kUnusedPromotionTag = 202;

    static constexpr double kFirstTickDelay = 0.01;
    static constexpr double kTickInterval = 0.15;
    static constexpr float kTickStep = 0.01f;
    static constexpr double kClickOpenDelay = 0.5;

    PopupController();
    ~PopupController() override;

    // popStatus = idle, empty dataArray.
    void initPopUp();
    std::shared_ptr<PopupControllerDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(std::weak_ptr<PopupControllerDelegate> delegate) { delegate_ = std::move(delegate); }

    // popUpId:fromAccount:launchImage:orientationIsLandscape: — starts the pop-up for the
    // application number `appId` of the publisher `companyName`.
    void popUpId(int appId, const std::string& companyName, const std::string& launchImage,
                 bool orientationIsLandscape);

    // Starts the strip, the request and the time-out.
    void getPopUpAgain();
    // One time-out tick.
    void progressBar();
    // The reply.
    void jsonDataReturn(const std::optional<platform::Value>& json);
    void imageLoad(const std::string& url);
    void showPopUpAd();
    void showView(const std::shared_ptr<platform::View>& view, platform::View& onView, int animation);
    void secondAnim();
    void bounce1();
    void bounce2();
    // The close button.
    void hideAdImmediately();
    // The promotion's tap.
    void getItNow();
    void gotoItune();
    void impressionUpdate();

    int popStatus() const { return popStatus_; }
    int appId() const { return appId_; }
    const std::string& companyName() const { return companyName_; }
    bool orientation() const { return orientation_; }
    float progress() const { return progress_; }
    const platform::Array& dataArray() const { return dataArray_; }
    const std::shared_ptr<platform::Image>& popUpImage() const { return popUpImage_; }

private:
    struct Layout;
    const Layout& layout() const;
    std::weak_ptr<PopupController> weakSelf();
    void callBack(bool appIsAdEnabled);
    std::string entryMember(std::string_view key) const;

    std::weak_ptr<PopupControllerDelegate> delegate_;
    int appId_ = 0;
    platform::Array dataArray_;
    int popStatus_ = kIdle;
    std::string companyName_;
    std::string launchImage_;
    std::shared_ptr<platform::Image> popUpImage_;
    float progress_ = 0.0f;
    bool orientation_ = false;
    std::shared_ptr<AsyncAdData> fetcher_;
};

} // namespace promo
