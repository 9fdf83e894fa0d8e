#include "platform/web/WebView.h"

#include <algorithm>
#include <cctype>
#include <functional>
#include <utility>
#include <vector>

#include "platform/foundation/Log.h"
#include "platform/net/URLConnection.h"
#include "platform/net/URLError.h"
#include "platform/runloop/RunLoop.h"
#include "platform/ui/GraphicsContext.h"
#include "platform/ui/Label.h"
#include "platform/ui/ScreenPicture.h"
#include "platform/ui/TextRenderer.h"
#include "platform/web/PageLook.h"
#include "platform/web/WebFiles.h"
#include "platform/web/WebPage.h"

namespace platform {

namespace {

constexpr std::string_view kBlankPage = "about:blank";

// How a browser sets a block of a page when the page says nothing of it: the size of its text
// (a share of the page's), its weight and the space above and below it (in its text's size).
struct BlockStyle {
    std::string_view tag;
    double fontScale;
    bool bold;
    double marginEm;
};
constexpr BlockStyle kBlockStyles[] = {
    {"h1", 2.0, true, 0.67}, {"h2", 1.5, true, 0.83},  {"h3", 1.17, true, 1.0},
    {"h4", 1.0, true, 1.33}, {"h5", 0.83, true, 1.67}, {"h6", 0.67, true, 2.33},
    {"p", 1.0, false, 1.0},  {"ul", 1.0, false, 1.0},  {"ol", 1.0, false, 1.0},
    {"dl", 1.0, false, 1.0}, {"pre", 1.0, false, 1.0}, {"blockquote", 1.0, false, 1.0},
};
constexpr BlockStyle kPlainBlock = {"", 1.0, false, 0.0};

const BlockStyle& blockStyle(std::string_view tag) {
    for (const auto& style : kBlockStyles)
        if (style.tag == tag)
            return style;
    return kPlainBlock;
}
std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// A URL error with the code's usual description, or `description` when one is given.
Error urlError(std::int64_t code, const URL& url, std::string description = {}) {
    Error error = makeURLError(code, url.absoluteString());
    if (!description.empty())
        error.localizedDescription = std::move(description);
    return error;
}

URL blankURL() {
    return *URL::parse(kBlankPage);
}

// Where a load leaves the history when it shows its page.
enum class HistoryStep { Push, MoveTo, Stay };

struct HistoryEntry {
    URLRequest request;
    std::optional<std::string> html; // pages loaded from a string keep it, to come back to
    std::optional<URL> forPage;      // the page whose chosen URL it was, loaded again under its rule
};

struct PendingLoad {
    URLRequest request;
    std::optional<std::string> html;
    WebViewNavigationType type = WebViewNavigationType::Other;
    HistoryStep step = HistoryStep::Push;
    int historyTarget = -1;
    // The page whose chosen URL this load is; its local-file rule then holds for the load.
    std::optional<URL> forPage;
};

} // namespace

struct WebView::Impl : std::enable_shared_from_this<Impl> {
    WebView* view = nullptr; // cleared when the view goes
    std::weak_ptr<WebViewDelegate> delegate;

    // API calls (loads, stop, back, forward, reload) supersede every navigation queued
    // before them; a queued navigation carries the sequence number it was queued under.
    std::uint64_t apiSequence = 0;
    std::size_t queuedNavigations = 0;

    // The load in flight: between did-start and its page (or its failure).
    struct Active {
        std::uint64_t generation = 0;
        PendingLoad load;
        std::shared_ptr<URLConnection> connection;
    };
    std::optional<Active> active;
    std::uint64_t generation = 0;
    // Pages shown whose did-finish has not been told yet, and the page navigations waiting for
    // it (re-posted once none is due).
    std::size_t finishesDue = 0;
    std::vector<std::function<void()>> waitingForFinish;

    void finishTold() {
        if (finishesDue > 0)
            --finishesDue;
        if (finishesDue > 0)
            return;
        auto waiting = std::move(waitingForFinish);
        waitingForFinish.clear();
        for (auto& repost : waiting)
            repost();
    }

    // The one folder this view and its pages may read files from (none by default).
    ReadableFolder readable;
    std::shared_ptr<WebPage> page;
    std::optional<URLRequest> shownRequest;
    std::vector<HistoryEntry> history;
    int historyIndex = -1;

    // ---- Delegate calls: on the view's own terms (guarded, the view kept alive) ----
    template <typename F> void tell(const char* what, F&& call) {
        auto target = delegate.lock();
        if (!target || !view)
            return;
        auto holdView = view->sharedView();
        auto holdSelf = shared_from_this();
        callGuarded(what, [&] { call(*target, static_cast<WebView&>(*view)); });
    }

    bool shouldStart(const URLRequest& request, WebViewNavigationType type) {
        auto target = delegate.lock();
        if (!target || !view)
            return static_cast<bool>(view);
        auto holdView = view->sharedView();
        auto holdSelf = shared_from_this();
        bool allowed = false; // a delegate that throws refuses
        callGuarded("WebView should-start", [&] {
            allowed = target->webViewShouldStartLoadWithRequestNavigationType(static_cast<WebView&>(*view),
                                                                              request, type);
        });
        return allowed;
    }

    // ---- Navigation ----
    void queue(PendingLoad load, bool fromAPI) {
        setUserAgent(load.request);
        if (fromAPI)
            ++apiSequence;
        ++queuedNavigations;
        post(std::move(load), apiSequence, fromAPI);
    }

    void post(PendingLoad load, std::uint64_t sequence, bool fromAPI) {
        std::weak_ptr<Impl> weak = weak_from_this();
        RunLoop::main().perform([weak, sequence, fromAPI, load = std::move(load)]() mutable {
            auto self = weak.lock();
            if (!self)
                return;
            if (!fromAPI && self->finishesDue > 0) {
                // A page's own navigation waits until that page's did-finish has been told.
                self->waitingForFinish.push_back([weak, sequence, load = std::move(load)]() mutable {
                    if (auto again = weak.lock())
                        again->post(std::move(load), sequence, false);
                });
                return;
            }
            --self->queuedNavigations;
            if (sequence != self->apiSequence)
                return; // superseded
            callGuarded("WebView navigation", [&] { self->offer(std::move(load), sequence); });
        });
    }

    void offer(PendingLoad load, std::uint64_t sequence) {
        if (!view || !shouldStart(load.request, load.type))
            return;
        if (sequence != apiSequence || !view)
            return; // the delegate started something else meanwhile
        start(std::move(load));
    }

    // Ends the load in flight, which fails with -999: at once when a newer load replaces it
    // (already a later turn), on a later turn when an API call (stopLoading) ends it.
    void replaceActive(bool deferred) {
        if (!active)
            return;
        if (active->connection)
            active->connection->cancel();
        const URL url = active->load.request.url();
        active.reset();
        auto report = [url](Impl& self) {
            self.tell("WebView did-fail", [&](WebViewDelegate& d, WebView& v) {
                d.webViewDidFailLoadWithError(v, urlError(kURLErrorCancelled, url));
            });
        };
        if (!deferred) {
            report(*this);
            return;
        }
        std::weak_ptr<Impl> weak = weak_from_this();
        RunLoop::main().perform([weak, report] {
            if (auto self = weak.lock())
                report(*self);
        });
    }

    bool isActive(std::uint64_t g) const { return active && active->generation == g; }

    void start(PendingLoad load) {
        replaceActive(false);
        if (!view)
            return; // the delegate let the view go
        const std::uint64_t g = ++generation;
        active = Active{g, std::move(load), nullptr};
        tell("WebView did-start", [](WebViewDelegate& d, WebView& v) { d.webViewDidStartLoad(v); });
        if (!isActive(g))
            return; // stopped or replaced from inside did-start
        const PendingLoad& current = active->load;
        const URL url = current.request.url(); // a copy: commit() consumes the load
        const std::string scheme = lower(url.scheme());
        if (current.html) {
            std::string html = *current.html;
            commit(html, url);
        } else if (scheme == "about") {
            commit("", url);
        } else if (scheme == "file" && current.forPage && !WebView::pageMayLoad(*current.forPage, url)) {
            logLine("WebView: a page at " + current.forPage->absoluteString() + " may not load " +
                    url.absoluteString());
            fail(g, urlError(kURLErrorNoPermissionsToReadFile, url));
        } else if (scheme == "file") {
            // Every file the view reads lies inside the folder its owner granted it, whoever
            // chose the URL; it reads the resolved path, never the one it was given.
            const auto path = readable.resolve(url);
            if (!path) {
                logLine("WebView: " + url.absoluteString() + " lies outside the folder this view may read");
                fail(g, urlError(kURLErrorNoPermissionsToReadFile, url));
                return;
            }
            auto read = readFileWithLimit(*path, kMaximumPageBytes);
            if (read.status == FileRead::Status::Ok)
                commit(read.bytes, url);
            else if (read.status == FileRead::Status::TooLarge)
                fail(g, urlError(kURLErrorDataLengthExceedsMaximum, url));
            else
                fail(g, urlError(kURLErrorFileDoesNotExist, url));
        } else if (scheme == "http" || scheme == "https") {
            std::weak_ptr<Impl> weak = weak_from_this();
            active->connection = URLConnection::sendAsynchronousRequest(
                current.request,
                [weak, g](const std::optional<URLResponse>& response, const Data& data,
                          const std::optional<Error>& error) {
                    auto self = weak.lock();
                    if (!self || !self->isActive(g))
                        return;
                    callGuarded("WebView page reply", [&] { self->received(g, response, data, error); });
                },
                static_cast<std::int64_t>(kMaximumPageBytes));
        } else {
            fail(g, urlError(kURLErrorUnsupportedURL, url));
        }
    }

    void received(std::uint64_t g, const std::optional<URLResponse>& response, const Data& data,
                  const std::optional<Error>& error) {
        const URL url = active->load.request.url();
        if (error) {
            fail(g, *error);
        } else if (!response || response->statusCode() < 200 || response->statusCode() > 299) {
            const int status = response ? response->statusCode() : 0;
            fail(g, urlError(kURLErrorBadServerResponse, url, "HTTP status " + std::to_string(status)));
        } else {
            commit(std::string(data.begin(), data.end()), response->url());
        }
    }

    void fail(std::uint64_t g, const Error& error) {
        if (!isActive(g))
            return;
        active.reset();
        tell("WebView did-fail",
             [&](WebViewDelegate& d, WebView& v) { d.webViewDidFailLoadWithError(v, error); });
    }

    // Shows the loaded page: history, a fresh page with its scripts, then did-finish on a
    // later turn (unless another page has replaced this one by then).
    void commit(std::string_view html, const URL& url) {
        PendingLoad load = std::move(active->load);
        active.reset();
        switch (load.step) {
        case HistoryStep::Push:
            history.resize(static_cast<std::size_t>(historyIndex + 1),
                           HistoryEntry{load.request, std::nullopt, std::nullopt});
            history.push_back(HistoryEntry{load.request, load.html, load.forPage});
            historyIndex = static_cast<int>(history.size()) - 1;
            break;
        case HistoryStep::MoveTo:
            if (load.historyTarget >= 0 && load.historyTarget < static_cast<int>(history.size()))
                historyIndex = load.historyTarget;
            break;
        case HistoryStep::Stay:
            break;
        }
        shownRequest = load.request;
        dropPage(); // the old page's timers and loads end here
        std::weak_ptr<Impl> weak = weak_from_this();
        auto shown = WebPage::create(
            url, html,
            [weak](URLRequest request, WebViewNavigationType type) {
                if (auto self = weak.lock())
                    self->pageNavigation(std::move(request), type);
            },
            load.request.valueForHTTPHeaderField(WebPage::kReferrerHeader).value_or(""), readable);
        page = shown;
        ++finishesDue;
        std::weak_ptr<WebPage> weakPage = shown;
        // The page may wait for its script sources; did-finish follows on a later turn once it
        // has loaded.
        shown->run([weak, weakPage] {
            RunLoop::main().perform([weak, weakPage] {
                auto self = weak.lock();
                if (!self)
                    return;
                self->finishTold();
                auto finished = weakPage.lock();
                if (!finished || finished != self->page)
                    return;
                self->tell("WebView did-finish",
                           [](WebViewDelegate& d, WebView& v) { d.webViewDidFinishLoad(v); });
            });
        });
    }

    // Drops the shown page; one still loading will never finish, so its did-finish is no
    // longer due.
    void dropPage() {
        if (!page)
            return;
        const bool unfinished = !page->loaded();
        page.reset();
        if (unfinished)
            finishTold();
    }

    void pageNavigation(URLRequest request, WebViewNavigationType type) {
        PendingLoad load{std::move(request), std::nullopt, type, HistoryStep::Push, -1, std::nullopt};
        if (type == WebViewNavigationType::Reload)
            load.step = HistoryStep::Stay;
        queue(std::move(load), false);
    }

    void goTo(int index) {
        if (index < 0 || index >= static_cast<int>(history.size()))
            return;
        const HistoryEntry& entry = history[static_cast<std::size_t>(index)];
        queue(PendingLoad{entry.request, entry.html, WebViewNavigationType::BackForward, HistoryStep::MoveTo,
                          index, entry.forPage},
              true);
    }

    void stop() {
        ++apiSequence; // drops queued navigations
        replaceActive(true);
    }
};

WebView::WebView(const Rect& frame)
    : View(frame), impl_(std::make_shared<Impl>()), scrollView_(std::make_shared<ScrollView>(bounds())) {
    impl_->view = this;
    // A web view's own default: an opaque white canvas (a plain view's is clear).
    setBackgroundColor(Color::whiteColor());
    scrollView_->setAutoresizingMask(Autoresizing::FlexibleWidth | Autoresizing::FlexibleHeight);
    scrollView_->setUserInteractionEnabled(false);
    addSubview(scrollView_);
}

WebView::~WebView() {
    impl_->view = nullptr;
    if (impl_->active && impl_->active->connection)
        impl_->active->connection->cancel();
    impl_->active.reset();
    impl_->page.reset();
}

void WebView::setDelegate(std::weak_ptr<WebViewDelegate> delegate) {
    impl_->delegate = std::move(delegate);
}
std::shared_ptr<WebViewDelegate> WebView::delegate() const {
    return impl_->delegate.lock();
}

void WebView::setReadableFolder(ReadableFolder folder) {
    impl_->readable = std::move(folder);
}
const ReadableFolder& WebView::readableFolder() const {
    return impl_->readable;
}

void WebView::loadRequest(const URLRequest& request) {
    impl_->queue(
        PendingLoad{request, std::nullopt, WebViewNavigationType::Other, HistoryStep::Push, -1, std::nullopt},
        true);
}

void WebView::loadRequest(const URLRequest& request, const URL& forPage) {
    impl_->queue(
        PendingLoad{request, std::nullopt, WebViewNavigationType::Other, HistoryStep::Push, -1, forPage},
        true);
}

void WebView::loadHTMLString(std::string html, const std::optional<URL>& baseURL) {
    impl_->queue(PendingLoad{URLRequest(baseURL.value_or(blankURL())), std::move(html),
                             WebViewNavigationType::Other, HistoryStep::Push, -1, std::nullopt},
                 true);
}

void WebView::stopLoading() {
    impl_->stop();
}

void WebView::reload() {
    if (impl_->historyIndex < 0 || impl_->historyIndex >= static_cast<int>(impl_->history.size()))
        return;
    const HistoryEntry& entry = impl_->history[static_cast<std::size_t>(impl_->historyIndex)];
    const bool resubmits = entry.request.httpMethod() == "POST";
    impl_->queue(
        PendingLoad{entry.request, entry.html,
                    resubmits ? WebViewNavigationType::FormResubmitted : WebViewNavigationType::Reload,
                    HistoryStep::Stay, -1, entry.forPage},
        true);
}

void WebView::goBack() {
    if (canGoBack())
        impl_->goTo(impl_->historyIndex - 1);
}

void WebView::goForward() {
    if (canGoForward())
        impl_->goTo(impl_->historyIndex + 1);
}

bool WebView::canGoBack() const {
    return impl_->historyIndex > 0;
}
bool WebView::canGoForward() const {
    return impl_->historyIndex + 1 < static_cast<int>(impl_->history.size());
}

bool WebView::isLoading() const {
    return impl_->queuedNavigations > 0 || impl_->active.has_value() || impl_->finishesDue > 0;
}

std::optional<URLRequest> WebView::request() const {
    if (impl_->active)
        return impl_->active->load.request;
    return impl_->shownRequest;
}

std::string WebView::stringByEvaluatingJavaScriptFromString(std::string_view script) {
    auto page = impl_->page;
    if (!page)
        return {};
    std::string result;
    callGuarded("WebView evaluate", [&] { result = page->evaluate(script).value_or(""); });
    return result;
}

std::shared_ptr<DomNode> WebView::document() const {
    return impl_->page ? impl_->page->document() : nullptr;
}

std::shared_ptr<DomNode> WebView::elementById(std::string_view id) const {
    auto doc = document();
    return doc ? doc->elementById(id) : nullptr;
}

std::string WebView::title() const {
    auto doc = document();
    return doc ? doc->title() : std::string();
}

bool WebView::clickElement(const std::shared_ptr<DomNode>& element) {
    auto page = impl_->page;
    bool clicked = false;
    if (page)
        callGuarded("WebView click", [&] { clicked = page->click(element); });
    return clicked;
}

bool WebView::clickLinkWithId(std::string_view id) {
    return clickElement(elementById(id));
}

void WebView::touchesEnded(const TouchSet& touches, const Event& event) {
    View::touchesEnded(touches, event);
    auto doc = document();
    if (!doc)
        return;
    for (const auto& link : doc->elementsByTagName("a"))
        if (link->attribute("href")) {
            clickElement(link);
            return;
        }
}

void WebView::drawText(TextCanvas& canvas, const Rect& rect) const {
    if (auto doc = document())
        canvas.writeWrapped(rect, visiblePageText(*doc, " "), 0);
}

void WebView::drawPicture(GraphicsContext& context) const {
    auto doc = document();
    if (!doc)
        return;
    PageLook look = pageLook(*doc);
    Rect b = bounds();
    context.saveGState();
    // The page's canvas: its own background, else white on an opaque view; a view that is not
    // opaque shows what lies behind it where the page gives no background.
    if (look.background || isOpaque()) {
        context.setFillColor(look.background.value_or(Color::whiteColor()));
        context.fillRect(b);
    }
    // Block after block down the view, each in its own size and weight, the space between two
    // being the larger of their margins (the body's margin and the first block's likewise), as
    // a browser sets a page; what falls below the view is cut.
    const double width = std::max(b.width() - 2 * kPageMargin, 0.0);
    double y = 0, margin = kPageMargin;
    for (const auto& block : visiblePageBlocks(*doc)) {
        const BlockStyle& style = blockStyle(block.tag);
        const double size = kPageFontSize * style.fontScale;
        const Font font = style.bold ? Font::boldSystemFont(size) : Font::systemFont(size);
        const double blockMargin = style.marginEm * size;
        y += std::max(margin, blockMargin);
        if (y >= b.height())
            break;
        const double height = std::min(ScreenPicture::textHeight(block.text, font, width), b.height() - y);
        context.setFillColor(block.color);
        context.drawText(block.text, Rect(b.minX() + kPageMargin, b.minY() + y, width, height), font,
                         TextAlignment::Left, 0);
        y += height;
        margin = blockMargin;
    }
    context.restoreGState();
}

} // namespace platform
