#pragma once
// One loaded page of a WebView: its document and the JavaScript context its scripts run in.
// Internal to the web view; nothing outside platform/web includes it.
//
// Ownership: the web view owns its current page and drops it when another page replaces it;
// dropping it destroys the script context, invalidates its timers and cancels its image
// loads, so nothing of an old page runs after it is gone (their callbacks hold the page
// weakly). Main thread only; timers and image completions arrive on the main run loop.
//
// Every evaluation is bounded by WebView::kScriptTimeBudgetSeconds of real time; a script
// that runs over is stopped by the engine's interrupt check and reported in the log. The
// context's memory is capped at WebView::kMaximumScriptHeapBytes (allocation past it fails,
// which the script sees as an error). No
// exception leaves a native function into the engine, and no engine error leaves the page.
//
// Local files: a page whose URL is a file: URL (a file read from disk, or a string shown with
// a file: base URL) may load files inside the folder of that URL, and nothing else on disk;
// any other page (from the network, about:blank) loads no file: URL at all. On top of that,
// every file it loads lies inside the folder its web view may read (see ReadableFolder.h),
// none when the view was granted none. This holds for its navigations, form submissions,
// script sources and images alike.
//
// Script sources from the network are fetched asynchronously: run() returns at the first one
// and the page goes on when it arrives (or fails), so the main thread never waits on it. A
// page fetches at most WebView::kMaximumScriptSources of them, all within
// WebView::kScriptSourcesTimeBudgetSeconds of the run loop's clock; past either bound the
// remaining sources are skipped (and logged) and the rest of the page still runs.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/foundation/ReadableFolder.h"
#include "platform/foundation/URL.h"
#include "platform/net/URLRequest.h"
#include "platform/web/Dom.h"
#include "platform/web/WebView.h"

struct duk_hthread;

namespace platform {

class Timer;
class URLConnection;

class WebPage : public std::enable_shared_from_this<WebPage> {
public:
    // Called (on the page's own turn, synchronously) when the page asks to navigate; the web
    // view queues the navigation for a later turn.
    using NavigationHandler = std::function<void(URLRequest, WebViewNavigationType)>;
    // The request header that names the page a link or form was followed from.
    static constexpr std::string_view kReferrerHeader = "Referer";

    // `referrer`: the page whose link or form led here (document.referrer), empty for none.
    // `readable`: the folder the web view may read files from (none: no file at all).
    static std::shared_ptr<WebPage> create(URL url, std::string_view html, NavigationHandler onNavigate,
                                           std::string referrer = {}, ReadableFolder readable = {});
    ~WebPage();
    WebPage(const WebPage&) = delete;
    WebPage& operator=(const WebPage&) = delete;

    // Runs the scripts in document order, then the load event, then `onLoaded`. Answers at
    // once; `onLoaded` is called (perhaps before run() returns) when the page has loaded,
    // and never when the page is dropped first.
    void run(std::function<void()> onLoaded);
    // True once the load event has been dispatched.
    bool loaded() const { return readyState_ == "complete"; }
    // Whether this page may load `url`: any URL but file: ones, which must name something
    // inside the page's own folder and inside its view's readable folder (see the class comment).
    bool mayLoad(const URL& url) const;
    // The result of `script` as text; nullopt when it throws, fails to compile or runs over
    // its budget. Undefined and null answer "".
    std::optional<std::string> evaluate(std::string_view script, std::string_view origin = "evaluate");
    // Clicks `element` (see WebView::clickElement); false when it is not in this page.
    bool click(const std::shared_ptr<DomNode>& element);

    const std::shared_ptr<DomNode>& document() const { return document_; }
    const URL& url() const { return url_; }
    const std::string& referrer() const { return referrer_; }

    // ---- For the engine's native functions (WebPage.cpp) ----
    duk_hthread* context() const { return context_; }
    int handleFor(const std::shared_ptr<DomNode>& node);
    std::shared_ptr<DomNode> node(double handle) const;
    void navigate(std::string_view target, WebViewNavigationType type);
    void submitForm(const std::shared_ptr<DomNode>& form);
    // Follows the link `element` is in, or submits the form of a submit button.
    void performDefaultClickAction(const std::shared_ptr<DomNode>& element);
    const std::string& readyState() const { return readyState_; }
    void scheduleTimer(int id, double milliseconds, bool repeats);
    void cancelTimer(int id);
    void loadImage(int handle, std::string_view source);
    bool budgetExpired();
    // The engine's heap accounting: false when `bytes` more would pass the page's cap.
    bool reserveHeapBytes(std::size_t bytes);
    void releaseHeapBytes(std::size_t bytes);

private:
    WebPage(URL url, std::string_view html, NavigationHandler onNavigate);
    void setUpContext();
    // Calls the prelude's dispatcher with (kind, id, flag); answers its result as a boolean
    // (true when it threw or answered anything but false).
    bool dispatch(const char* kind, int id, bool flag);
    // Runs scripts from index `nextScript_` on, until one must wait for the network; then the
    // load event.
    void continueRun();
    // Starts fetching a network script source; false when it cannot be fetched.
    bool startScriptFetch(const URL& url);
    void scriptArrived(std::optional<std::string> code, const std::string& origin);
    void scriptSourcesExpired();
    std::optional<std::string> readFileScript(const URL& url);
    // Hands a navigation to the web view, unless it names a file this page may not load.
    void requestNavigation(URLRequest request, WebViewNavigationType type);
    // Runs the function on top of the stack (with `arguments` more values above it) under the
    // budget; leaves its result or error in place and answers whether it succeeded.
    bool protectedCall(int arguments, std::string_view origin);
    void fetchDocumentImages();

    URL url_;
    std::string referrer_;
    // The folder a file: page may load files from (canonical), none for other pages.
    std::optional<std::filesystem::path> fileFolder_;
    // The folder the web view may read files from.
    ReadableFolder readable_;
    std::shared_ptr<DomNode> document_;
    NavigationHandler onNavigate_;
    duk_hthread* context_ = nullptr;
    std::vector<std::shared_ptr<DomNode>> handles_;
    std::unordered_map<const DomNode*, int> handleOf_;
    std::map<int, std::shared_ptr<Timer>> timers_;
    std::vector<std::shared_ptr<URLConnection>> imageLoads_;
    std::optional<std::chrono::steady_clock::time_point> deadline_;
    bool overBudget_ = false;
    std::size_t heapBytes_ = 0;
    std::string readyState_ = "loading";

    // The page's loading: its scripts, the next to run, the source being fetched.
    std::vector<std::shared_ptr<DomNode>> scripts_;
    std::size_t nextScript_ = 0;
    std::function<void()> onLoaded_;
    std::shared_ptr<URLConnection> scriptFetch_;
    std::shared_ptr<Timer> scriptSourcesDeadline_;
    std::size_t scriptSourcesFetched_ = 0;
    bool scriptSourcesExpired_ = false;
};

} // namespace platform
