#pragma once
// A view that shows a web page: it loads HTML (a string with a base URL, a request over the
// network, a file: URL from disk, about:blank), builds the page's document with a real HTML
// parser and runs the page's scripts in a fresh JavaScript context per page. The context has
// the browser objects that ad pages use: window (the global object), document (elements by
// id and tag, attributes, style, innerHTML, createElement, appendChild, removeChild,
// textContent), location (href read and write), navigator (userAgent), Image, timers
// (setTimeout, setInterval and their clear functions, on the run loop) and console.log (to
// the platform log). Inline and src scripts run in document order, then the body's onload.
// The whole page is parsed before its first script runs, so a script also sees the elements
// that follow it. A src script is fetched when its turn comes: from disk for a file: URL, and
// asynchronously over the network otherwise, the page's scripts and its did-finish waiting
// for it while the main run loop goes on. A page fetches at most kMaximumScriptSources
// sources from the network, within kScriptSourcesTimeBudgetSeconds of the run loop's clock in
// all (each also fails after kScriptFetchTimeoutSeconds without a reply); the sources past
// either bound are skipped and logged, and the rest of the page runs.
//
// Local files: the view reads files only inside the one folder its owner granted it with
// setReadableFolder (see ReadableFolder.h), and none at all by default. Every file: load is
// held to it, whatever chose the URL (the app, a page, a reply field, a delegate's answer):
// loadRequest, history moves and reloads, and each page's navigations, scripts and images. A
// file outside it fails with -1102 (kURLErrorNoPermissionsToReadFile) after did-start, so the
// caller's failure path (an alert, a closed browser) runs. Redirects never lead to a file: the
// connection refuses them (URLConnection.h).
// Within that folder, a page loaded from the network (or from a string without a file: base
// URL) never loads a file: URL, and a page loaded from disk (or from a string with a file:
// base URL) loads only files inside the folder of its URL. The rule holds for the page's
// navigations (links, location changes, forms, window.open), its src scripts, its images and
// new Image(): a refused navigation is logged and never offered to the delegate, a refused
// script is skipped, a refused image reports an error. A load the app makes with a URL a page
// chose (a bridge command's, a click-through's) names that page: loadRequest(request,
// forPage) also follows the page's rule, and a file: URL outside that page's folder fails
// with -1102 after did-start.
//
// Navigation: every navigation (an API load, a link click, a script's change of location,
// a form submission, window.open, back, forward, reload), custom schemes such as message
// URLs included, is first offered to the delegate's should-start-load question with its
// navigation type; a refused one leaves the current page as it is. A script's navigation is
// queued and handled on a later run-loop turn, never inside the script's own evaluation.
// An allowed navigation to a scheme the view cannot load fails with -1002.
//
// Threads and callbacks: main thread only. Every delegate callback arrives on the main run
// loop on a turn later than the call that caused it: should-start, then did-start, then one
// of did-finish or did-fail. An HTTP status outside 200-299 fails the load (-1011), a page
// over kMaximumPageBytes fails (-1103), a missing file fails (-1100).
//
// A page's own navigations are offered after that page's did-finish; an API call (a load,
// stopLoading, back, forward, reload) drops the page navigations still waiting.
//
// Replacing and stopping: a new load replaces the current one once the delegate has allowed
// it; the replaced load, when it had started, then fails with -999 just before the new one's
// did-start (a load ended by stopLoading fails so on a later turn), and nothing else of it
// (network replies, its page's timers and image loads) reaches the view or the delegate.
// Loading a new page destroys the old page's script context with its timers.
//
// Bounds: every script evaluation (page scripts, timers, handlers, evaluated strings) runs
// under kScriptTimeBudgetSeconds; a script that runs longer, such as an endless loop, is
// stopped and reported in the log, and the page goes on. A page's script memory is capped at
// kMaximumScriptHeapBytes.
//
// Requests: every request the view offers to should-start and then loads, and every script
// and image it fetches for a page, carries the view's one user-agent text (kUserAgent) as
// "User-Agent", unless the request given to loadRequest already names its own.
//
// Page behaviour flags (inline media playback, media playback needing a user action, data
// detectors) are stored and readable; the pages shown here play no media and detect
// nothing, so they change nothing else. The first subview is the view's scroll view, whose
// scrolling, bouncing and scroll-to-top settings callers switch; it covers the view, takes
// no touches of its own (they reach the web view) and draws nothing.
//
// Look: like the platform's web view, a new view is opaque with a white background (a plain
// view's background is clear); see drawPicture.
//
// Ownership: the view owns its page; the delegate is held weakly. Create with make_shared.
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Error.h"
#include "platform/foundation/ReadableFolder.h"
#include "platform/foundation/URL.h"
#include "platform/net/URLRequest.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/View.h"
#include "platform/web/Dom.h"

namespace platform {

class WebView;

// How a navigation came about (the platform's numbers).
enum class WebViewNavigationType {
    LinkClicked = 0,
    FormSubmitted = 1,
    BackForward = 2,
    Reload = 3,
    FormResubmitted = 4,
    Other = 5,
};

// The web view's delegate: one method per event, each optional (should-start answers true
// unless overridden). Held weakly by the view; every call arrives on the main run loop on a
// turn later than the call that caused it, and none arrives for a load after it was replaced
// or stopped (beyond its own -999 failure). An exception thrown here is caught and logged
// (from should-start it counts as a refusal).
class WebViewDelegate {
public:
    virtual ~WebViewDelegate() = default;
    // Asked before every navigation; false refuses it.
    virtual bool webViewShouldStartLoadWithRequestNavigationType(WebView&, const URLRequest&,
                                                                 WebViewNavigationType) {
        return true;
    }
    virtual void webViewDidStartLoad(WebView&) {}
    virtual void webViewDidFinishLoad(WebView&) {}
    virtual void webViewDidFailLoadWithError(WebView&, const Error&) {}
};

// What the view would turn into links (the platform's bits).
enum DataDetectorTypes : unsigned {
    kDataDetectorTypeNone = 0,
    kDataDetectorTypePhoneNumber = 1 << 0,
    kDataDetectorTypeLink = 1 << 1,
    kDataDetectorTypeAddress = 1 << 2,
    kDataDetectorTypeCalendarEvent = 1 << 3,
    kDataDetectorTypeAll = ~0u,
};

class WebView : public View {
public:
    static constexpr std::size_t kMaximumPageBytes = 4 * 1024 * 1024;
    static constexpr std::size_t kMaximumScriptBytes = 2 * 1024 * 1024;
    static constexpr double kScriptTimeBudgetSeconds = 1.0;
    static constexpr std::size_t kMaximumScriptHeapBytes = 64 * 1024 * 1024;
    static constexpr std::size_t kMaximumScriptSources = 32;
    static constexpr double kScriptSourcesTimeBudgetSeconds = 20.0;
    static constexpr double kScriptFetchTimeoutSeconds = 10.0;
    // Pictures of a page: its margin and the size of its text, in points.
    static constexpr double kPageMargin = 8;
    static constexpr double kPageFontSize = 16;
    static constexpr std::string_view kUserAgent = "Mozilla/5.0 (Linux; FerroWick) Mobile";

    explicit WebView(const Rect& frame = {});
    ~WebView() override;

    void setDelegate(std::weak_ptr<WebViewDelegate> delegate);
    std::shared_ptr<WebViewDelegate> delegate() const;

    // ---- Local files (see the class comment) ----
    // The folder this view and its pages may read files from; loads already shown keep the
    // folder they were loaded under.
    void setReadableFolder(ReadableFolder folder);
    const ReadableFolder& readableFolder() const;

    // ---- Loading ----
    void loadRequest(const URLRequest& request);
    // Loads `request`, whose URL the page at `forPage` chose, under that page's local-file
    // rule (see the class comment).
    void loadRequest(const URLRequest& request, const URL& forPage);
    // Shows `html`; relative URLs in it resolve against `baseURL` (about:blank when absent).
    void loadHTMLString(std::string html, const std::optional<URL>& baseURL);
    void stopLoading();
    void reload();
    void goBack();
    void goForward();
    bool canGoBack() const;
    bool canGoForward() const;
    bool isLoading() const;
    // The request of the page being loaded or shown (nullopt before the first load).
    std::optional<URLRequest> request() const;
    bool scalesPageToFit() const { return scalesPageToFit_; }
    void setScalesPageToFit(bool scales) { scalesPageToFit_ = scales; }

    // ---- Page behaviour flags (see the class comment) ----
    bool allowsInlineMediaPlayback() const { return allowsInlineMediaPlayback_; }
    void setAllowsInlineMediaPlayback(bool allows) { allowsInlineMediaPlayback_ = allows; }
    bool mediaPlaybackRequiresUserAction() const { return mediaPlaybackRequiresUserAction_; }
    void setMediaPlaybackRequiresUserAction(bool required) { mediaPlaybackRequiresUserAction_ = required; }
    unsigned dataDetectorTypes() const { return dataDetectorTypes_; }
    void setDataDetectorTypes(unsigned types) { dataDetectorTypes_ = types; }
    // The scroll view that is the view's first subview (unless a caller moved it away).
    const std::shared_ptr<ScrollView>& scrollView() const { return scrollView_; }

    // ---- The local-file rule (see the class comment) ----
    // The folder a page at `pageURL` may load files from (canonical): the URL's own folder
    // when its path ends in "/", else the folder of the file it names; nullopt for a page
    // that is not a file: page, which loads no file at all.
    static std::optional<std::filesystem::path> fileFolderOfPage(const URL& pageURL);
    // Whether the page at `pageURL` may load `url`: any URL but a file: one, which must name
    // something inside that page's folder.
    static bool pageMayLoad(const URL& pageURL, const URL& url);

    // ---- Scripts ----
    // Evaluates `script` in the current page and answers its result as text: "" for
    // undefined, null, any error or when there is no page.
    std::string stringByEvaluatingJavaScriptFromString(std::string_view script);

    // ---- Reading and driving the page (tests, text rendering) ----
    std::shared_ptr<DomNode> document() const;
    std::shared_ptr<DomNode> elementById(std::string_view id) const;
    std::string title() const;
    // Clicks an element: runs its click handlers, then (unless a handler returned false or
    // prevented the default) follows the href of the link it is in, or submits the form a
    // submit button belongs to. False when there is no such element on the current page.
    bool clickElement(const std::shared_ptr<DomNode>& element);
    bool clickLinkWithId(std::string_view id);
    // A touch on the page follows its first link: the stand-in lays out no page, and an ad
    // page is one link wide.
    void touchesEnded(const TouchSet& touches, const Event& event) override;

    void drawText(TextCanvas& canvas, const Rect& rect) const override;
    // The page as a picture: its canvas (see PageLook.h: the page's background, else white when
    // the view is opaque, else nothing) and its text block by block down the view, each block
    // in the colour its text takes (PageLook.h), set as a browser sets a page that gives no
    // sizes of its own (headings larger and bold, paragraphs and headings spaced by their
    // margins), wrapped to the view's width inside the page's margin.
    void drawPicture(GraphicsContext& context) const override;

    struct Impl;

private:
    std::shared_ptr<Impl> impl_;
    std::shared_ptr<ScrollView> scrollView_;
    bool scalesPageToFit_ = false;
    bool allowsInlineMediaPlayback_ = false;
    bool mediaPlaybackRequiresUserAction_ = true;
    unsigned dataDetectorTypes_ = kDataDetectorTypePhoneNumber;
};

} // namespace platform
