#pragma once
// The more-apps page: a full-screen page that presents four of the publisher's other
// applications as large image buttons, preferring those that are not installed. The root
// screen presents it modally.
//
// On load it shows four "Loading..." rows and asks the promotion service for the list with the
// short-time-out fetcher (AsynchronousParser); 8 s later, unless four real entries have
// arrived, the rows turn to "Unable to Load" (a tap on one starts over). Each row loads its
// image with an AsyncImageView; after four image results one impression report carries the
// four serials (0 for a failed image); a tap reports a click and opens the entry's "appLink"
// 0.5 s later. A row whose picture failed, and an "Unable to Load" row, keep a button that
// loads again. `back` (the close button, on phones and tablets) sets `isBack`, which cancels
// every list and image request still running, and dismisses the page.
//
// Main thread only: connections and timers run on the main run loop and hold the page weakly;
// after `back` no reply changes the page.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Value.h"
#include "platform/net/URLConnection.h"
#include "platform/ui/Image.h"
#include "platform/ui/TableView.h"
#include "platform/ui/ViewController.h"

namespace platform {
class Timer;
}

namespace promo {

class AsynchronousParser;

// Process-wide state of the page (main thread).
extern bool isBack;    // the page was closed: running list and image requests stop
extern bool isTimeOut; // the 8 s fallback has fired
extern bool isInitial; // four real entries have not yet arrived
extern int appId1, appId2, appId3, appId4; // serial shown in rows 0 to 3; 0: image failed
extern int counter;                        // image results received

// Told when a row's image has loaded or failed.
class AsyncImageViewDelegate {
public:
    virtual ~AsyncImageViewDelegate() = default;
    // loadImage:withIndexPath:withError:
    virtual void loadImage(const std::shared_ptr<platform::Image>& image, const platform::IndexPath& path,
                           bool error) = 0;
};

// One row's image loader: shows a placeholder, the title and a spinner while its image loads
// over a main-run-loop connection (10 s time-out, cache ignored), then tells its delegate
// (held weakly). Owned by its cell; after cancel() or `isBack` nothing more is reported.
class AsyncImageView : public platform::View, public platform::URLConnectionDelegate {
public:
    static constexpr double kTimeout = 10.0;
    static constexpr const char* kNoImage = "no";
    // The link of a "Loading..." placeholder row: shown with its spinner, nothing fetched.
    static constexpr const char* kLoadingLink = "Loading...";
    static constexpr const char* kUnloadImage = "unload.png";

    explicit AsyncImageView(const platform::Rect& frame);
    ~AsyncImageView() override;

    std::shared_ptr<AsyncImageViewDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(std::weak_ptr<AsyncImageViewDelegate> delegate) { delegate_ = std::move(delegate); }
    const platform::IndexPath& path() const { return path_; }

    // loadImageFromURL:withTitle:forIndexPath:
    void loadImageFromURL(const std::string& url, const std::string& title, const platform::IndexPath& path);
    // Reports "unload.png" with the error flag.
    void myImage();
    void cancel();

    void connectionDidReceiveResponse(platform::URLConnection&, const platform::URLResponse& response) override;
    void connectionDidReceiveData(platform::URLConnection&, const platform::Data& data) override;
    void connectionDidFinishLoading(platform::URLConnection&) override;
    void connectionDidFailWithError(platform::URLConnection&, const platform::Error&) override;

private:
    void report(std::shared_ptr<platform::Image> image, bool error);

    std::shared_ptr<platform::URLConnection> connection_;
    platform::Data data_;
    bool statusOK_ = true;
    std::weak_ptr<AsyncImageViewDelegate> delegate_;
    platform::IndexPath path_{0, 0};
};

class MoreApps : public platform::ViewController,
                 public platform::TableViewDataSource,
                 public platform::TableViewDelegate,
                 public AsyncImageViewDelegate {
public:
    static constexpr int kRowCount = 4;
    static constexpr double kRowHeight = 108;
    static constexpr double kFallbackDelay = 8.0;
    static constexpr double kClickOpenDelay = 0.5;
    static constexpr const char* kLoadingTitle = "Loading...";
    static constexpr const char* kUnableTitle = "Unable to Load";
    static constexpr const char* kClosedNotification = "removemoreAppsView";

    MoreApps() = default;
    ~MoreApps() override;

    void viewDidLoad() override;
    // Requests the list and arms the 8 s fallback.
    void dataRetreive();
    void jsonDataReturn(const std::optional<platform::Value>& json);
    void loadCancelData();
    // The image button's action.
    void go2iTunes(platform::Button& button);
    void gotoItune(int index);
    void impressionUpdate();
    // Closes the page: the close callback when one is set and its delegate still lives, else
    // the page dismisses itself.
    void back();
    // callbackSelector:delegate: — what `back` calls instead of dismissing the page; the
    // delegate is held weakly and only guards the call.
    using CloseCallback = std::function<void(MoreApps& page)>;
    void callbackSelector(CloseCallback selector, std::weak_ptr<void> delegate);
    void loadTable();

    const std::shared_ptr<platform::TableView>& myTable() const { return myTable_; }
    const platform::Array& listOfGameName() const { return listOfGameName_; }

    bool shouldAutorotateToInterfaceOrientation(platform::InterfaceOrientation orientation) const override;

    // ---- Table ----
    int tableViewNumberOfRowsInSection(platform::TableView&, int section) override;
    std::shared_ptr<platform::TableViewCell> tableViewCellForRowAtIndexPath(platform::TableView&,
                                                                           const platform::IndexPath&) override;
    std::optional<double> tableViewHeightForRowAtIndexPath(platform::TableView&, const platform::IndexPath&) override {
        return kRowHeight;
    }
    void tableViewDidSelectRowAtIndexPath(platform::TableView&, const platform::IndexPath&) override {}

    // ---- AsyncImageViewDelegate ----
    void loadImage(const std::shared_ptr<platform::Image>& image, const platform::IndexPath& path,
                   bool error) override;

private:
    std::weak_ptr<MoreApps> weakSelf();
    void fillWithPlaceholders(const char* title, const char* imageLink);
    void cancelRequests();

    std::shared_ptr<platform::TableView> myTable_;
    platform::Array listOfGameName_;
    std::shared_ptr<AsynchronousParser> fetcher_;
    std::shared_ptr<platform::Timer> fallbackTimer_;
    std::vector<std::weak_ptr<AsyncImageView>> imageViews_;
    bool closed_ = false;
    CloseCallback selector_;
    std::weak_ptr<void> delegate_;
};

} // namespace promo
