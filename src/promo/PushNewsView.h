#pragma once
// The push-news panel: the publisher's news channel inside the application, a toolbar
// button (`newsButton`) and a 320 by 300 panel that the root screen slides in over the list.
// Its delegate, the root screen, slides it in and out (PushNewsDelegate).
//
// This is its interface as the root screen drives it: init, the delegate (held weakly),
// getNewsData, newsButtonFrame:, newsButton, showNews, isViewAdded. Until the news request
// is built into it, there is never a news image: getNewsData asks for nothing, the news
// button exists with its frame but stays hidden (as when the device is offline), and
// showNews only notes, as the panel does while its image has not arrived, that it is waiting
// for one (`isPush` = YES). Main thread only.
#include <memory>

#include "platform/ui/Button.h"
#include "platform/ui/Image.h"
#include "platform/ui/View.h"

namespace promo {

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
    PushNewsView(); // init: the view initialiser with an empty frame

    std::shared_ptr<PushNewsDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(std::weak_ptr<PushNewsDelegate> delegate) { delegate_ = std::move(delegate); }

    // Requests the news item.
    void getNewsData();
    // newsButtonFrame: — makes the toolbar's news button with `frame`; a tap opens the panel.
    void newsButtonFrame(const platform::Rect& frame);
    // Opens the panel (the button's action, and the root screen's on a push).
    void showNews();
    // The panel's close button: asks the delegate to slide it out.
    void closePush();

    const std::shared_ptr<platform::Button>& newsButton() const { return newsButton_; }
    const std::shared_ptr<platform::Image>& newsImage() const { return newsImage_; }
    const platform::Rect& newsRect() const { return newsRect_; }
    void setNewsRect(const platform::Rect& rect) { newsRect_ = rect; }
    bool isViewAdded() const { return isViewAdded_; }
    void setIsViewAdded(bool added) { isViewAdded_ = added; }
    bool isClosed() const { return isClosed_; }

private:
    platform::Rect newsRect_;
    std::shared_ptr<platform::Button> newsButton_;
    std::shared_ptr<platform::Image> newsImage_;
    std::weak_ptr<PushNewsDelegate> delegate_;
    bool isBadge_ = false;
    bool isClosed_ = false;
    bool isViewAdded_ = false;
    int counter_ = 0;
};

} // namespace promo
