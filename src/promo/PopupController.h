#pragma once
// The launch pop-up: the view that covers the first screen on a normal launch while the
// promotion service is asked whether to show a full-screen house promotion and whether the
// application shows network ads at all. It ends by telling its delegate, the application
// delegate, removeSplashPage:appIsAdEnabled:.
//
// This is its interface as the application drives it (init, initPopUp, the delegate held
// weakly, then popUpId:fromAccount:launchImage:orientationIsLandscape:). Until the promotion
// request is built into it, it shows nothing and behaves as a pop-up whose reply brought no
// promotion with network ads off: on the next turn of the main run loop after popUpId it
// calls back removeSplashPage with NO, so the launch goes on (the pass-key prompt waits for
// that call) and no banner host is made. Main thread only.
#include <memory>
#include <string>

#include "platform/ui/View.h"

namespace promo {

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

    PopupController();

    // popStatus = idle.
    void initPopUp();
    std::shared_ptr<PopupControllerDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(std::weak_ptr<PopupControllerDelegate> delegate) { delegate_ = std::move(delegate); }

    // popUpId:fromAccount:launchImage:orientationIsLandscape: — starts the pop-up for the
    // application number `appId` of the publisher `companyName`.
    void popUpId(int appId, const std::string& companyName, const std::string& launchImage,
                 bool orientationIsLandscape);

    int popStatus() const { return popStatus_; }
    int appId() const { return appId_; }
    const std::string& companyName() const { return companyName_; }
    bool orientation() const { return orientation_; }

private:
    std::weak_ptr<PopupControllerDelegate> delegate_;
    int appId_ = 0;
    int popStatus_ = kIdle;
    std::string companyName_;
    std::string launchImage_;
    bool orientation_ = false;
};

} // namespace promo
