#pragma once
// The push-news panel: the publisher's news channel inside the application, a toolbar
// button (`newsButton`) and a 320 by 300 panel that the root screen slides in over the list.
// Its delegate, the root screen, slides it in and out (PushNewsDelegate).
//
// The root screen drives it: init, the delegate (held weakly), the application's own store
// identifier, getNewsData, newsButtonFrame:, newsButton, showNews, isViewAdded. getNewsData
// asks the promotion service for the news item when the network is up; the reply's item
// badges and shakes the button unless its "index" is in the seen list (Documents/
// "savedData.plist", a property-list array of strings, written whole through a temporary file
// and a rename), and its image is downloaded on a background thread. The panel shows the image
// with a tap area (click report, then the store page of "promoAppLink" 0.5 s later) and a
// close button; opened before the image has arrived it shows "Pushed news loading..." and
// shows the image by itself when it arrives, unless it was closed meanwhile.
//
// Main thread only; the image download hands its result back to the main thread. Delayed work
// holds the panel weakly.
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Value.h"
#include "platform/ui/Button.h"
#include "platform/ui/Image.h"
#include "platform/ui/View.h"

namespace promo {

class AsyncAdData;

// Launch-by-push flag: YES when the application was launched by a push notification (set by
// the application delegate), or when the panel was opened before its image had arrived.
extern bool isPush;

class PushNewsView;

// The panel's host; every method is required.
class PushNewsDelegate {
public:
    virtual ~PushNewsDelegate() = default;
    // showNews: — slide the panel in.
    virtual void showNews(PushNewsView& panel) = 0;
    // hideNews: — slide it out.
    virtual void hideNews(PushNewsView& panel) = 0;
    // Remove the news button from the toolbar.
    virtual void hideNewsButton() = 0;
};

class PushNewsView : public platform::View {
public:
    static constexpr double kShakeInterval = 0.1;
    static constexpr double kShakeOffset = 0.4;
    static constexpr double kClickOpenDelay = 0.5;
    static constexpr const char* kSeenListFile = "savedData.plist";
    static constexpr const char* kLoadingText = "Pushed news loading...";

    PushNewsView(); // init: the view initialiser with an empty frame
    ~PushNewsView() override;

    std::shared_ptr<PushNewsDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(std::weak_ptr<PushNewsDelegate> delegate) { delegate_ = std::move(delegate); }
    // The application's own store identifier, sent with the news request.
    void setAppStoreIdentifier(std::string identifier) { appStoreIdentifier_ = std::move(identifier); }

    // Requests the news item (when the network is up).
    void getNewsData();
    // newsButtonFrame: — makes the toolbar's news button with `frame`; a tap opens the panel.
    void newsButtonFrame(const platform::Rect& frame);
    // Opens the panel (the button's action, and the root screen's on a push).
    void showNews();
    // The panel's close button: asks the delegate to slide it out.
    void closePush();

    // The reply.
    void jsonDataReturn(const std::optional<platform::Value>& json);
    void imageLoad(const std::string& url);
    // YES when the defaults' "seenLink" is not in the seen list.
    bool checkItforPreviousSeen() const;
    static std::filesystem::path dataFilePath();
    void shakeEffect();
    // The tap area's touch-down.
    void getItNow();
    void gotoItune();

    const std::shared_ptr<platform::Button>& newsButton() const { return newsButton_; }
    const std::shared_ptr<platform::Image>& newsImage() const { return newsImage_; }
    const platform::Rect& newsRect() const { return newsRect_; }
    void setNewsRect(const platform::Rect& rect) { newsRect_ = rect; }
    bool isViewAdded() const { return isViewAdded_; }
    void setIsViewAdded(bool added) { isViewAdded_ = added; }
    bool isClosed() const { return isClosed_; }
    bool isBadge() const { return isBadge_; }

private:
    std::weak_ptr<PushNewsView> weakSelf();
    // Appends the defaults' "seenLink" to the seen list; answers whether it was written.
    bool appendSeenLink() const;
    void setButtonImage(bool badge);

    platform::Rect newsRect_;
    std::shared_ptr<platform::Button> newsButton_;
    std::shared_ptr<platform::Image> newsImage_;
    std::weak_ptr<PushNewsDelegate> delegate_;
    bool isBadge_ = false;
    bool isClosed_ = false;
    bool isViewAdded_ = false;
    int counter_ = 0;
    std::string appStoreIdentifier_;
    std::shared_ptr<AsyncAdData> fetcher_;
};

} // namespace promo
