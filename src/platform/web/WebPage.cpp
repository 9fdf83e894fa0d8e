#include "platform/web/WebPage.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <exception>
#include <fstream>

#include <duktape.h>

#include "platform/foundation/Log.h"
#include "platform/foundation/ReadableFolder.h"
#include "platform/net/URLConnection.h"
#include "platform/runloop/RunLoop.h"
#include "platform/web/WebFiles.h"

namespace platform {

extern const char* const kPagePrelude;

namespace {

constexpr std::int64_t kMaximumImageBytes = 2 * 1024 * 1024;
// Repeating page timers fire at most this often, so an interval of 0 cannot spin the run loop.
constexpr double kMinimumRepeatSeconds = 0.004;
constexpr const char* kDispatcherKey = "dispatch";
constexpr std::string_view kScriptTypes[] = {
    "",          "text/javascript", "application/javascript", "application/x-javascript", "text/ecmascript",
    "javascript"};

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool isSuccessStatus(int status) {
    return status >= 200 && status <= 299;
}

bool isFileURL(const URL& url) {
    return lower(url.scheme()) == "file";
}

// The folder a file: page may reach: the URL's own folder when it names one (ends in "/"),
// else the folder of the file it names. Canonical, so containment is a prefix test.
std::optional<std::filesystem::path> folderOfFileURL(const URL& url) {
    if (!isFileURL(url))
        return std::nullopt;
    std::filesystem::path path = url.filePath();
    if (path.empty() || !path.is_absolute())
        return std::nullopt;
    if (!url.percentEncodedPath().ends_with('/'))
        path = path.parent_path();
    std::error_code ec;
    auto canonical = std::filesystem::weakly_canonical(path, ec);
    if (ec)
        return std::nullopt;
    return canonical;
}

// Whether a page whose file folder is `fileFolder` (none for a page that is not a file: page)
// may load `url`: any URL but file: ones, which must name something inside that folder.
bool mayLoadFrom(const std::optional<std::filesystem::path>& fileFolder, const URL& url) {
    if (!isFileURL(url))
        return true;
    if (!fileFolder)
        return false;
    const std::filesystem::path path = url.filePath();
    if (path.empty() || !path.is_absolute())
        return false;
    std::error_code ec;
    const auto canonical = std::filesystem::weakly_canonical(path, ec);
    return !ec && ReadableFolder::isInside(canonical, *fileFolder);
}

// ---- Native functions: arguments arrive as primitives (the prelude converts them) ----

WebPage& pageOf(duk_context* ctx) {
    duk_memory_functions functions;
    duk_get_memory_functions(ctx, &functions);
    return *static_cast<WebPage*>(functions.udata);
}

// Text leaving the engine, as UTF-8. The engine keeps a character beyond U+FFFF as its two
// surrogate halves, three bytes each (ED A0..AF xx, ED B0..BF xx); such a pair becomes the
// character's own four bytes. Everything else, a lone half included, is kept as it is.
std::string fromEngineText(const char* text, std::size_t length) {
    std::string out;
    out.reserve(length);
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const auto continuation = [](unsigned char b) { return (b & 0xC0) == 0x80; };
    for (std::size_t i = 0; i < length; ++i) {
        if (byte(i) == 0xED && i + 5 < length && byte(i + 1) >= 0xA0 && byte(i + 1) <= 0xAF &&
            continuation(byte(i + 2)) && byte(i + 3) == 0xED && byte(i + 4) >= 0xB0 && byte(i + 4) <= 0xBF &&
            continuation(byte(i + 5))) {
            const unsigned high = ((byte(i + 1) & 0x0Fu) << 6) | (byte(i + 2) & 0x3Fu);
            const unsigned low = ((byte(i + 4) & 0x0Fu) << 6) | (byte(i + 5) & 0x3Fu);
            const unsigned code = 0x10000u + (high << 10) + low;
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
            i += 5;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string argString(duk_context* ctx, duk_idx_t index) {
    duk_size_t length = 0;
    const char* text = duk_get_lstring(ctx, index, &length);
    return text ? fromEngineText(text, length) : std::string();
}

std::shared_ptr<DomNode> argNode(duk_context* ctx, WebPage& page, duk_idx_t index) {
    auto node = page.node(duk_get_number(ctx, index));
    if (!node)
        throw std::runtime_error("no such node");
    return node;
}

void pushNode(duk_context* ctx, WebPage& page, const std::shared_ptr<DomNode>& node) {
    if (node)
        duk_push_int(ctx, page.handleFor(node));
    else
        duk_push_null(ctx);
}

void pushString(duk_context* ctx, std::string_view text) {
    duk_push_lstring(ctx, text.data(), text.size());
}

using NativeBody = duk_ret_t (*)(duk_context*, WebPage&);

// Runs a native body; a C++ exception becomes an error object on the stack (false), so the
// caller can throw it into the engine with no C++ object left to unwind.
bool runNative(duk_context* ctx, NativeBody body, duk_ret_t& result) {
    try {
        result = body(ctx, pageOf(ctx));
        return true;
    } catch (const std::exception& e) {
        duk_push_error_object(ctx, DUK_ERR_ERROR, "%s", e.what());
    } catch (...) {
        duk_push_error_object(ctx, DUK_ERR_ERROR, "native failure");
    }
    return false;
}

template <NativeBody Body> duk_ret_t native(duk_context* ctx) {
    duk_ret_t result = 0;
    if (!runNative(ctx, Body, result))
        return duk_throw(ctx);
    return result;
}

duk_ret_t nDocument(duk_context* ctx, WebPage& page) {
    pushNode(ctx, page, page.document());
    return 1;
}

duk_ret_t nNodeType(duk_context* ctx, WebPage& page) {
    constexpr int kElement = 1, kText = 3, kComment = 8, kDocument = 9;
    switch (argNode(ctx, page, 0)->type()) {
    case DomNode::Type::Element:
        duk_push_int(ctx, kElement);
        break;
    case DomNode::Type::Text:
        duk_push_int(ctx, kText);
        break;
    case DomNode::Type::Comment:
        duk_push_int(ctx, kComment);
        break;
    case DomNode::Type::Document:
        duk_push_int(ctx, kDocument);
        break;
    }
    return 1;
}

duk_ret_t nNodeName(duk_context* ctx, WebPage& page) {
    auto node = argNode(ctx, page, 0);
    std::string name;
    switch (node->type()) {
    case DomNode::Type::Element:
        name = node->tag();
        for (char& c : name)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        break;
    case DomNode::Type::Text:
        name = "#text";
        break;
    case DomNode::Type::Comment:
        name = "#comment";
        break;
    case DomNode::Type::Document:
        name = "#document";
        break;
    }
    pushString(ctx, name);
    return 1;
}

duk_ret_t nParent(duk_context* ctx, WebPage& page) {
    DomNode* parent = argNode(ctx, page, 0)->parent();
    pushNode(ctx, page, parent ? parent->shared_from_this() : nullptr);
    return 1;
}

void pushNodeList(duk_context* ctx, WebPage& page, const std::vector<std::shared_ptr<DomNode>>& nodes) {
    duk_idx_t array = duk_push_array(ctx);
    duk_uarridx_t index = 0;
    for (const auto& node : nodes) {
        pushNode(ctx, page, node);
        duk_put_prop_index(ctx, array, index++);
    }
}

duk_ret_t nChildren(duk_context* ctx, WebPage& page) {
    pushNodeList(ctx, page, argNode(ctx, page, 0)->children());
    return 1;
}

duk_ret_t nByTag(duk_context* ctx, WebPage& page) {
    pushNodeList(ctx, page, argNode(ctx, page, 0)->elementsByTagName(argString(ctx, 1)));
    return 1;
}

duk_ret_t nById(duk_context* ctx, WebPage& page) {
    pushNode(ctx, page, page.document()->elementById(argString(ctx, 0)));
    return 1;
}

duk_ret_t nGetText(duk_context* ctx, WebPage& page) {
    pushString(ctx, argNode(ctx, page, 0)->textContent());
    return 1;
}

duk_ret_t nSetText(duk_context* ctx, WebPage& page) {
    argNode(ctx, page, 0)->setTextContent(argString(ctx, 1));
    return 0;
}

duk_ret_t nGetHTML(duk_context* ctx, WebPage& page) {
    auto node = argNode(ctx, page, 0);
    pushString(ctx, duk_get_boolean(ctx, 1) ? node->outerHTML() : node->innerHTML());
    return 1;
}

duk_ret_t nSetHTML(duk_context* ctx, WebPage& page) {
    argNode(ctx, page, 0)->setInnerHTML(argString(ctx, 1));
    return 0;
}

// The element's attributes as [name, value, name, value, ...] in document order.
duk_ret_t nAttributes(duk_context* ctx, WebPage& page) {
    duk_idx_t array = duk_push_array(ctx);
    duk_uarridx_t index = 0;
    for (const auto& [name, value] : argNode(ctx, page, 0)->attributes()) {
        pushString(ctx, name);
        duk_put_prop_index(ctx, array, index++);
        pushString(ctx, value);
        duk_put_prop_index(ctx, array, index++);
    }
    return 1;
}

duk_ret_t nGetAttribute(duk_context* ctx, WebPage& page) {
    auto value = argNode(ctx, page, 0)->attribute(argString(ctx, 1));
    if (value)
        pushString(ctx, *value);
    else
        duk_push_null(ctx);
    return 1;
}

duk_ret_t nSetAttribute(duk_context* ctx, WebPage& page) {
    auto node = argNode(ctx, page, 0);
    if (node->isElement())
        node->setAttribute(argString(ctx, 1), argString(ctx, 2));
    return 0;
}

duk_ret_t nRemoveAttribute(duk_context* ctx, WebPage& page) {
    argNode(ctx, page, 0)->removeAttribute(argString(ctx, 1));
    return 0;
}

duk_ret_t nInsertBefore(duk_context* ctx, WebPage& page) {
    auto parent = argNode(ctx, page, 0);
    auto child = argNode(ctx, page, 1);
    std::shared_ptr<DomNode> reference = duk_is_null_or_undefined(ctx, 2) ? nullptr : argNode(ctx, page, 2);
    duk_push_boolean(ctx, parent->insertBefore(child, reference.get()));
    return 1;
}

duk_ret_t nRemoveChild(duk_context* ctx, WebPage& page) {
    auto parent = argNode(ctx, page, 0);
    auto child = argNode(ctx, page, 1);
    duk_push_boolean(ctx, parent->removeChild(child.get()));
    return 1;
}

duk_ret_t nCreateElement(duk_context* ctx, WebPage& page) {
    pushNode(ctx, page, DomNode::createElement(argString(ctx, 0)));
    return 1;
}

duk_ret_t nCreateText(duk_context* ctx, WebPage& page) {
    pushNode(ctx, page, DomNode::createText(argString(ctx, 0)));
    return 1;
}

duk_ret_t nNavigate(duk_context* ctx, WebPage& page) {
    page.navigate(argString(ctx, 0), static_cast<WebViewNavigationType>(duk_get_int(ctx, 1)));
    return 0;
}

duk_ret_t nClickDefault(duk_context* ctx, WebPage& page) {
    page.performDefaultClickAction(argNode(ctx, page, 0));
    return 0;
}

duk_ret_t nSubmit(duk_context* ctx, WebPage& page) {
    auto form = argNode(ctx, page, 0);
    if (form->isElement() && form->tag() == "form")
        page.submitForm(form);
    return 0;
}

duk_ret_t nPageURL(duk_context* ctx, WebPage& page) {
    const URL& url = page.url();
    const std::string part = argString(ctx, 0);
    std::string text;
    if (part.empty()) {
        text = url.absoluteString();
    } else if (part == "protocol") {
        text = url.scheme() + ":";
    } else if (part == "hostname") {
        text = url.host().value_or("");
    } else if (part == "host") {
        text = url.host().value_or("");
        if (auto port = url.port())
            text += ":" + std::to_string(*port);
    } else if (part == "port") {
        if (auto port = url.port())
            text = std::to_string(*port);
    } else if (part == "pathname") {
        text = url.percentEncodedPath();
    } else if (part == "search") {
        if (auto query = url.query(); query && !query->empty())
            text = "?" + *query;
    } else if (part == "hash") {
        if (auto fragment = url.fragment(); fragment && !fragment->empty())
            text = "#" + *fragment;
    }
    pushString(ctx, text);
    return 1;
}

duk_ret_t nReferrer(duk_context* ctx, WebPage& page) {
    pushString(ctx, page.referrer());
    return 1;
}

duk_ret_t nReadyState(duk_context* ctx, WebPage& page) {
    pushString(ctx, page.readyState());
    return 1;
}

duk_ret_t nLog(duk_context* ctx, WebPage&) {
    logLine("WebView console: " + argString(ctx, 0));
    return 0;
}

duk_ret_t nSetTimer(duk_context* ctx, WebPage& page) {
    page.scheduleTimer(duk_get_int(ctx, 0), duk_get_number(ctx, 1), duk_get_boolean(ctx, 2));
    return 0;
}

duk_ret_t nClearTimer(duk_context* ctx, WebPage& page) {
    page.cancelTimer(duk_get_int(ctx, 0));
    return 0;
}

duk_ret_t nLoadImage(duk_context* ctx, WebPage& page) {
    page.loadImage(duk_get_int(ctx, 0), argString(ctx, 1));
    return 0;
}

struct NativeEntry {
    const char* name;
    duk_c_function function;
    duk_idx_t arguments;
};

constexpr NativeEntry kNatives[] = {
    {"document", native<nDocument>, 0},
    {"nodeType", native<nNodeType>, 1},
    {"nodeName", native<nNodeName>, 1},
    {"parent", native<nParent>, 1},
    {"children", native<nChildren>, 1},
    {"byTag", native<nByTag>, 2},
    {"byId", native<nById>, 1},
    {"getText", native<nGetText>, 1},
    {"setText", native<nSetText>, 2},
    {"getHTML", native<nGetHTML>, 2},
    {"setHTML", native<nSetHTML>, 2},
    {"getAttribute", native<nGetAttribute>, 2},
    {"attributes", native<nAttributes>, 1},
    {"setAttribute", native<nSetAttribute>, 3},
    {"removeAttribute", native<nRemoveAttribute>, 2},
    {"insertBefore", native<nInsertBefore>, 3},
    {"removeChild", native<nRemoveChild>, 2},
    {"createElement", native<nCreateElement>, 1},
    {"createText", native<nCreateText>, 1},
    {"navigate", native<nNavigate>, 2},
    {"clickDefault", native<nClickDefault>, 1},
    {"submit", native<nSubmit>, 1},
    {"pageURL", native<nPageURL>, 1},
    {"readyState", native<nReadyState>, 0},
    {"referrer", native<nReferrer>, 0},
    {"log", native<nLog>, 1},
    {"setTimer", native<nSetTimer>, 3},
    {"clearTimer", native<nClearTimer>, 1},
    {"loadImage", native<nLoadImage>, 2},
};

// The engine's memory goes through these, so a page's heap stays under
// WebView::kMaximumScriptHeapBytes: each block carries its size in front of it.
struct alignas(std::max_align_t) BlockHeader {
    std::size_t size;
};

void* engineAlloc(void* udata, duk_size_t size) {
    auto& page = *static_cast<WebPage*>(udata);
    if (!page.reserveHeapBytes(size))
        return nullptr;
    auto* header = static_cast<BlockHeader*>(std::malloc(sizeof(BlockHeader) + size));
    if (!header) {
        page.releaseHeapBytes(size);
        return nullptr;
    }
    header->size = size;
    return header + 1;
}

void engineFree(void* udata, void* pointer) {
    if (!pointer)
        return;
    auto* header = static_cast<BlockHeader*>(pointer) - 1;
    static_cast<WebPage*>(udata)->releaseHeapBytes(header->size);
    std::free(header);
}

void* engineRealloc(void* udata, void* pointer, duk_size_t size) {
    if (!pointer)
        return engineAlloc(udata, size);
    if (size == 0) {
        engineFree(udata, pointer);
        return nullptr;
    }
    auto& page = *static_cast<WebPage*>(udata);
    auto* header = static_cast<BlockHeader*>(pointer) - 1;
    const std::size_t old = header->size;
    if (size > old && !page.reserveHeapBytes(size - old))
        return nullptr;
    auto* moved = static_cast<BlockHeader*>(std::realloc(header, sizeof(BlockHeader) + size));
    if (!moved) {
        if (size > old)
            page.releaseHeapBytes(size - old);
        return nullptr;
    }
    if (size < old)
        page.releaseHeapBytes(old - size);
    moved->size = size;
    return moved + 1;
}

void fatalEngineError(void*, const char* message) {
    // Only reached for an error outside every protected call, which this file never makes.
    logLine(std::string("WebView: fatal script engine error: ") + (message ? message : ""));
    std::abort();
}

} // namespace

} // namespace platform

// The engine's interrupt check (built in with the engine's interrupt counter): true stops the
// running script with an error. `udata` is the page that owns the context.
extern "C" int fw_duktape_exec_timeout_check(void* udata) {
    return udata && static_cast<platform::WebPage*>(udata)->budgetExpired() ? 1 : 0;
}

namespace platform {

std::shared_ptr<WebPage> WebPage::create(URL url, std::string_view html, NavigationHandler onNavigate,
                                         std::string referrer, ReadableFolder readable) {
    std::shared_ptr<WebPage> page(new WebPage(std::move(url), html, std::move(onNavigate)));
    page->referrer_ = std::move(referrer);
    page->readable_ = std::move(readable);
    page->setUpContext();
    return page;
}

WebPage::WebPage(URL url, std::string_view html, NavigationHandler onNavigate)
    : url_(std::move(url)), fileFolder_(folderOfFileURL(url_)), document_(DomNode::parseDocument(html)),
      onNavigate_(std::move(onNavigate)) {}

WebPage::~WebPage() {
    if (scriptFetch_)
        scriptFetch_->cancel();
    if (scriptSourcesDeadline_)
        scriptSourcesDeadline_->invalidate();
    for (auto& [id, timer] : timers_)
        timer->invalidate();
    for (auto& connection : imageLoads_)
        connection->cancel();
    RunLoop::main().cancelPerforms(this);
    if (context_)
        duk_destroy_heap(context_);
}

void WebPage::setUpContext() {
    context_ = duk_create_heap(engineAlloc, engineRealloc, engineFree, this, fatalEngineError);
    if (!context_) {
        logLine("WebView: could not create a script context");
        return;
    }
    duk_context* ctx = context_;
    const duk_idx_t base = duk_get_top(ctx);
    pushString(ctx, "prelude");
    if (duk_pcompile_string_filename(ctx, DUK_COMPILE_EVAL, kPagePrelude) != 0 ||
        !protectedCall(0, "prelude")) {
        logLine(std::string("WebView: page prelude failed: ") + duk_safe_to_string(ctx, -1));
        duk_set_top(ctx, base);
        return;
    }
    // The prelude is a function of (natives, global, user agent) answering the dispatcher.
    duk_idx_t natives = duk_push_object(ctx);
    for (const auto& entry : kNatives) {
        duk_push_c_function(ctx, entry.function, entry.arguments);
        duk_put_prop_string(ctx, natives, entry.name);
    }
    duk_push_global_object(ctx);
    pushString(ctx, WebView::kUserAgent);
    if (!protectedCall(3, "prelude")) {
        duk_set_top(ctx, base);
        return;
    }
    duk_push_global_stash(ctx);
    duk_dup(ctx, -2);
    duk_put_prop_string(ctx, -2, kDispatcherKey);
    duk_set_top(ctx, base);
}

bool WebPage::reserveHeapBytes(std::size_t bytes) {
    if (bytes > WebView::kMaximumScriptHeapBytes - heapBytes_)
        return false;
    heapBytes_ += bytes;
    return true;
}

void WebPage::releaseHeapBytes(std::size_t bytes) {
    heapBytes_ -= std::min(bytes, heapBytes_);
}

bool WebPage::budgetExpired() {
    if (!deadline_)
        return false;
    if (std::chrono::steady_clock::now() >= *deadline_)
        overBudget_ = true;
    return overBudget_;
}

bool WebPage::protectedCall(int arguments, std::string_view origin) {
    duk_context* ctx = context_;
    const bool outermost = !deadline_;
    if (outermost) {
        overBudget_ = false;
        deadline_ = std::chrono::steady_clock::now() +
                    std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                        std::chrono::duration<double>(WebView::kScriptTimeBudgetSeconds));
    }
    const bool succeeded = duk_pcall(ctx, arguments) == DUK_EXEC_SUCCESS;
    const bool stopped = overBudget_;
    if (outermost)
        deadline_.reset();
    if (succeeded)
        return true;
    if (stopped)
        logLine("WebView: script stopped after running over its time budget of " +
                std::to_string(WebView::kScriptTimeBudgetSeconds) + " s (" + std::string(origin) + ", " +
                url_.absoluteString() + ")");
    else
        logLine("WebView: script error (" + std::string(origin) + "): " + duk_safe_to_string(ctx, -1));
    return false;
}

std::optional<std::string> WebPage::evaluate(std::string_view script, std::string_view origin) {
    if (!context_)
        return std::nullopt;
    if (script.size() > WebView::kMaximumScriptBytes) {
        logLine("WebView: script too long (" + std::string(origin) + ")");
        return std::nullopt;
    }
    duk_context* ctx = context_;
    const duk_idx_t base = duk_get_top(ctx);
    pushString(ctx, origin);
    std::optional<std::string> result;
    if (duk_pcompile_lstring_filename(ctx, DUK_COMPILE_EVAL, script.data(), script.size()) != 0) {
        logLine("WebView: script error (" + std::string(origin) + "): " + duk_safe_to_string(ctx, -1));
    } else if (protectedCall(0, origin)) {
        if (!duk_is_null_or_undefined(ctx, -1)) {
            duk_size_t length = 0;
            const char* text = duk_safe_to_lstring(ctx, -1, &length);
            result = fromEngineText(text, length);
        } else {
            result = std::string();
        }
    }
    duk_set_top(ctx, base);
    return result;
}

bool WebPage::dispatch(const char* kind, int id, bool flag) {
    if (!context_)
        return true;
    duk_context* ctx = context_;
    const duk_idx_t base = duk_get_top(ctx);
    duk_push_global_stash(ctx);
    duk_get_prop_string(ctx, -1, kDispatcherKey);
    bool answer = true;
    if (duk_is_function(ctx, -1)) {
        duk_push_string(ctx, kind);
        duk_push_int(ctx, id);
        duk_push_boolean(ctx, flag);
        if (protectedCall(3, kind))
            answer = !(duk_is_boolean(ctx, -1) && !duk_get_boolean(ctx, -1));
    }
    duk_set_top(ctx, base);
    return answer;
}

std::optional<std::filesystem::path> WebView::fileFolderOfPage(const URL& pageURL) {
    return folderOfFileURL(pageURL);
}

bool WebView::pageMayLoad(const URL& pageURL, const URL& url) {
    return mayLoadFrom(folderOfFileURL(pageURL), url);
}

bool WebPage::mayLoad(const URL& url) const {
    return mayLoadFrom(fileFolder_, url) && (!isFileURL(url) || readable_.allows(url));
}

void WebPage::run(std::function<void()> onLoaded) {
    readyState_ = "loading";
    onLoaded_ = std::move(onLoaded);
    // The scripts of the parsed page, in document order; each src script is fetched when its
    // turn comes, so it sees what the scripts before it made.
    scripts_ = document_->elementsByTagName("script");
    nextScript_ = 0;
    continueRun();
}

void WebPage::continueRun() {
    while (nextScript_ < scripts_.size()) {
        const auto script = scripts_[nextScript_++];
        const std::string type = lower(script->attribute("type").value_or(""));
        if (std::find(std::begin(kScriptTypes), std::end(kScriptTypes), type) == std::end(kScriptTypes))
            continue;
        auto source = script->attribute("src");
        if (!source) {
            evaluate(script->textContent(), "inline script " + std::to_string(nextScript_));
            continue;
        }
        auto url = URL::parse(*source, url_);
        if (!url || !url->isAbsolute()) {
            logLine("WebView: bad script URL " + *source);
            continue;
        }
        if (isFileURL(*url)) {
            if (auto code = readFileScript(*url))
                evaluate(*code, *source);
            continue;
        }
        if (startScriptFetch(*url))
            return; // scriptArrived goes on
    }
    scripts_.clear();
    if (scriptSourcesDeadline_) {
        scriptSourcesDeadline_->invalidate();
        scriptSourcesDeadline_.reset();
    }
    fetchDocumentImages();
    readyState_ = "complete";
    dispatch("load", 0, true);
    if (auto done = std::move(onLoaded_)) {
        onLoaded_ = nullptr;
        done();
    }
}

std::optional<std::string> WebPage::readFileScript(const URL& url) {
    // Read through the resolved path the check answered, never the one the page wrote.
    const auto path = mayLoad(url) ? readable_.resolve(url) : std::nullopt;
    if (!path) {
        logLine("WebView: refused script " + url.absoluteString() + " outside the page's folder (" +
                url_.absoluteString() + ") or the view's readable folder");
        return std::nullopt;
    }
    auto read = readFileWithLimit(*path, WebView::kMaximumScriptBytes);
    if (read.status != FileRead::Status::Ok) {
        logLine("WebView: could not read script " + url.absoluteString());
        return std::nullopt;
    }
    return std::move(read.bytes);
}

bool WebPage::startScriptFetch(const URL& url) {
    const std::string scheme = lower(url.scheme());
    if (scheme != "http" && scheme != "https") {
        logLine("WebView: cannot load script " + url.absoluteString());
        return false;
    }
    if (scriptSourcesExpired_) {
        logLine("WebView: skipped script " + url.absoluteString() + ": the page's script sources ran over " +
                std::to_string(WebView::kScriptSourcesTimeBudgetSeconds) + " s");
        return false;
    }
    if (scriptSourcesFetched_ >= WebView::kMaximumScriptSources) {
        logLine("WebView: skipped script " + url.absoluteString() + ": the page already fetched " +
                std::to_string(WebView::kMaximumScriptSources) + " script sources");
        return false;
    }
    ++scriptSourcesFetched_;
    std::weak_ptr<WebPage> weak = weak_from_this();
    if (!scriptSourcesDeadline_)
        scriptSourcesDeadline_ =
            Timer::scheduled(WebView::kScriptSourcesTimeBudgetSeconds, false, [weak](Timer&) {
                if (auto page = weak.lock())
                    callGuarded("WebView script sources", [&] { page->scriptSourcesExpired(); });
            });
    URLRequest request(url);
    setUserAgent(request);
    request.setTimeoutInterval(WebView::kScriptFetchTimeoutSeconds);
    const std::string origin = url.absoluteString();
    scriptFetch_ = URLConnection::sendAsynchronousRequest(
        request,
        [weak, origin](const std::optional<URLResponse>& response, const Data& data,
                       const std::optional<Error>& error) {
            auto page = weak.lock();
            if (!page)
                return;
            std::optional<std::string> code;
            if (error || !response || !isSuccessStatus(response->statusCode()))
                logLine("WebView: script " + origin + " failed: " +
                        (error ? error->description()
                               : "status " + std::to_string(response ? response->statusCode() : 0)));
            else
                code.emplace(data.begin(), data.end());
            callGuarded("WebView script source", [&] { page->scriptArrived(std::move(code), origin); });
        },
        static_cast<std::int64_t>(WebView::kMaximumScriptBytes));
    return true;
}

void WebPage::scriptArrived(std::optional<std::string> code, const std::string& origin) {
    if (!scriptFetch_)
        return; // cut short by the time budget
    scriptFetch_.reset();
    if (code)
        evaluate(*code, origin);
    continueRun();
}

void WebPage::scriptSourcesExpired() {
    scriptSourcesExpired_ = true;
    scriptSourcesDeadline_.reset();
    if (!scriptFetch_)
        return;
    logLine("WebView: script sources of " + url_.absoluteString() + " ran over " +
            std::to_string(WebView::kScriptSourcesTimeBudgetSeconds) + " s; the rest are skipped");
    scriptFetch_->cancel();
    scriptFetch_.reset();
    continueRun();
}

int WebPage::handleFor(const std::shared_ptr<DomNode>& node) {
    if (auto found = handleOf_.find(node.get()); found != handleOf_.end())
        return found->second;
    const int handle = static_cast<int>(handles_.size());
    handles_.push_back(node);
    handleOf_.emplace(node.get(), handle);
    return handle;
}

std::shared_ptr<DomNode> WebPage::node(double handle) const {
    if (!std::isfinite(handle) || handle < 0 || handle >= static_cast<double>(handles_.size()) ||
        handle != std::floor(handle))
        return nullptr;
    return handles_[static_cast<std::size_t>(handle)];
}

void WebPage::navigate(std::string_view target, WebViewNavigationType type) {
    constexpr std::string_view kScriptScheme = "javascript:";
    if (target.size() >= kScriptScheme.size() &&
        lower(target.substr(0, kScriptScheme.size())) == kScriptScheme) {
        // A script URL runs in this page, on a later turn like any navigation.
        std::string code = percentDecode(target.substr(kScriptScheme.size()), false).value_or("");
        std::weak_ptr<WebPage> weak = weak_from_this();
        RunLoop::main().perform([weak, code] {
            if (auto page = weak.lock())
                callGuarded("WebView javascript: URL", [&] { page->evaluate(code, "javascript: URL"); });
        });
        return;
    }
    // A relative reference needs a base it can resolve against (not about:blank).
    auto url = URL::parse(target);
    if ((!url || !url->isAbsolute()) && lower(url_.scheme()) != "about")
        url = URL::parse(target, url_);
    if (!url || !url->isAbsolute()) {
        logLine("WebView: cannot navigate to " + std::string(target));
        return;
    }
    requestNavigation(URLRequest(*url), type);
}

void WebPage::requestNavigation(URLRequest request, WebViewNavigationType type) {
    if (!mayLoad(request.url())) {
        logLine("WebView: refused navigation to " + request.url().absoluteString() + " from " +
                url_.absoluteString());
        return;
    }
    // A link or form names its page (one with a network address) to the page it leads to, as a
    // browser does: the request carries it, and the next page's document.referrer reads it.
    const std::string scheme = url_.scheme();
    if ((type == WebViewNavigationType::LinkClicked || type == WebViewNavigationType::FormSubmitted) &&
        (scheme == "http" || scheme == "https") && !request.valueForHTTPHeaderField(kReferrerHeader))
        request.setValue(url_.withoutFragment().absoluteString(), kReferrerHeader);
    if (onNavigate_)
        onNavigate_(std::move(request), type);
}

bool WebPage::click(const std::shared_ptr<DomNode>& element) {
    if (!element || !element->isElement() || !document_->isAncestorOf(element.get()))
        return false;
    if (dispatch("click", handleFor(element), true))
        performDefaultClickAction(element);
    return true;
}

void WebPage::performDefaultClickAction(const std::shared_ptr<DomNode>& element) {
    for (DomNode* node = element.get(); node; node = node->parent()) {
        if (node->isElement() && node->tag() == "a") {
            if (auto href = node->attribute("href"))
                navigate(*href, WebViewNavigationType::LinkClicked);
            return;
        }
    }
    const std::string type =
        lower(element->attribute("type").value_or(element->tag() == "button" ? "submit" : ""));
    const bool submits = (element->tag() == "input" && (type == "submit" || type == "image")) ||
                         (element->tag() == "button" && type == "submit");
    if (!submits)
        return;
    for (DomNode* node = element->parent(); node; node = node->parent()) {
        if (node->isElement() && node->tag() == "form") {
            auto form = node->shared_from_this();
            if (dispatch("submit", handleFor(form), true))
                submitForm(form);
            return;
        }
    }
}

void WebPage::submitForm(const std::shared_ptr<DomNode>& form) {
    std::vector<std::pair<std::string, std::string>> fields;
    for (const auto& field : form->elementsByTagName("*")) {
        auto name = field->attribute("name");
        if (!name || name->empty() || field->attribute("disabled"))
            continue;
        const std::string type = lower(field->attribute("type").value_or("text"));
        if (field->tag() == "input") {
            if (type == "submit" || type == "button" || type == "image" || type == "reset" || type == "file")
                continue;
            if ((type == "checkbox" || type == "radio") && !field->attribute("checked"))
                continue;
            fields.emplace_back(*name, field->attribute("value").value_or(type == "checkbox" ? "on" : ""));
        } else if (field->tag() == "textarea") {
            fields.emplace_back(*name, field->textContent());
        } else if (field->tag() == "select") {
            auto options = field->elementsByTagName("option");
            std::shared_ptr<DomNode> chosen = options.empty() ? nullptr : options.front();
            for (const auto& option : options)
                if (option->attribute("selected"))
                    chosen = option;
            if (chosen)
                fields.emplace_back(*name, chosen->attribute("value").value_or(chosen->textContent()));
        }
    }
    auto action = URL::parse(form->attribute("action").value_or(""), url_);
    if (!action || !action->isAbsolute())
        action = url_;
    const bool post = lower(form->attribute("method").value_or("get")) == "post";
    if (!post) {
        requestNavigation(URLRequest(action->appendingQueryItems(fields)),
                          WebViewNavigationType::FormSubmitted);
        return;
    }
    std::string body;
    for (const auto& [name, value] : fields) {
        if (!body.empty())
            body += '&';
        body += percentEncodeQueryValue(name) + '=' + percentEncodeQueryValue(value);
    }
    URLRequest request(*action);
    request.setHTTPMethod("POST");
    request.setValue("application/x-www-form-urlencoded", "Content-Type");
    request.setHTTPBody(std::string_view(body));
    requestNavigation(std::move(request), WebViewNavigationType::FormSubmitted);
}

void WebPage::scheduleTimer(int id, double milliseconds, bool repeats) {
    double seconds = std::isfinite(milliseconds) && milliseconds > 0 ? milliseconds / 1000.0 : 0.0;
    if (repeats)
        seconds = std::max(seconds, kMinimumRepeatSeconds);
    std::weak_ptr<WebPage> weak = weak_from_this();
    cancelTimer(id);
    timers_[id] = Timer::scheduled(seconds, repeats, [weak, id, repeats](Timer&) {
        auto page = weak.lock();
        if (!page)
            return;
        if (!repeats)
            page->timers_.erase(id);
        callGuarded("WebView timer", [&] { page->dispatch("timer", id, true); });
    });
}

void WebPage::cancelTimer(int id) {
    if (auto found = timers_.find(id); found != timers_.end()) {
        found->second->invalidate();
        timers_.erase(found);
    }
}

void WebPage::loadImage(int handle, std::string_view source) {
    std::weak_ptr<WebPage> weak = weak_from_this();
    auto report = [weak, handle](bool loaded) {
        if (auto page = weak.lock())
            callGuarded("WebView image", [&] { page->dispatch("image", handle, loaded); });
    };
    std::erase_if(imageLoads_, [](const auto& connection) { return !connection->isRunning(); });
    auto url = URL::parse(source, url_);
    const std::string scheme = url ? lower(url->scheme()) : std::string();
    if (scheme == "http" || scheme == "https") {
        URLRequest request(*url);
        setUserAgent(request);
        imageLoads_.push_back(URLConnection::sendAsynchronousRequest(
            request,
            [report](const std::optional<URLResponse>& response, const Data&,
                     const std::optional<Error>& error) {
                report(!error && response && isSuccessStatus(response->statusCode()));
            },
            kMaximumImageBytes));
        return;
    }
    // A file the page may not reach reports an error, as a missing one does, so its
    // existence stays unknown to the page.
    std::error_code ec;
    const auto resolved = scheme == "file" && mayLoad(*url) ? readable_.resolve(*url) : std::nullopt;
    const bool loaded = resolved && std::filesystem::is_regular_file(*resolved, ec);
    RunLoop::main().performAfter(
        0, [report, loaded] { report(loaded); }, this, "image");
}

void WebPage::fetchDocumentImages() {
    for (const auto& image : document_->elementsByTagName("img"))
        if (auto source = image->attribute("src"); source && !source->empty())
            loadImage(handleFor(image), *source);
}

} // namespace platform
