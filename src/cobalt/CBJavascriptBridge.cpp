#include "cobalt/CBJavascriptBridge.h"

#include <cmath>
#include <cstdlib>

#include "cobalt/CBCodecs.h"
#include "cobalt/CBCommandHandler.h"
#include "cobalt/CBController.h"
#include "cobalt/CBPaths.h"
#include "platform/foundation/Log.h"
#include "platform/runloop/RunLoop.h"
#include "platform/ui/Device.h"

namespace cobalt {
namespace {

constexpr double kPhoneBackgroundInterval = 0.5;
constexpr double kPhoneForegroundInterval = 1.0 / 15.0;
constexpr double kTabletInterval = 1.0 / 30.0;
constexpr std::string_view kCommandSeparator = ";\n";
constexpr const char* kHostVersion = "3.1.2";
constexpr const char* kBridgeSelectorSetPollingInterval = "setPollingInterval:";

constexpr std::string_view kPageHead = "<html><head><title>Advertisement</title>";
constexpr std::string_view kScriptOpen = "<script type = \"text/javascript\">\n/*<![CDATA[*/\n";
constexpr std::string_view kScriptClose = "\n/*]]>*/\n</script>";

bool isTablet() {
    return platform::Device::current().userInterfaceIdiom() == platform::UserInterfaceIdiom::Tablet;
}

// The value of one unquoted argument: true/yes 1, false/no 0, else the number its text
// starts with (0 when none); nullopt for a number that is not finite.
std::optional<platform::Value> numberArgument(std::string_view token) {
    std::string lower;
    for (char c : token)
        lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (lower == "true" || lower == "yes")
        return platform::Value(1.0);
    if (lower == "false" || lower == "no")
        return platform::Value(0.0);
    const std::string text(token);
    const double value = std::strtod(text.c_str(), nullptr);
    if (!std::isfinite(value))
        return std::nullopt;
    return platform::Value(value);
}

// Undoes the escapes the page puts into quoted arguments.
std::string unescapeArgument(std::string_view body) {
    std::string out;
    out.reserve(body.size());
    for (std::size_t i = 0; i < body.size(); ++i) {
        if (body[i] != '\\' || i + 1 == body.size()) {
            out += body[i];
            continue;
        }
        const char next = body[++i];
        switch (next) {
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        default: out += next;
        }
    }
    return out;
}

} // namespace

std::shared_ptr<CBJavascriptBridge> CBJavascriptBridge::bridgeInMode(int mode,
                                                                     std::shared_ptr<platform::WebView> webView,
                                                                     std::shared_ptr<CBCommandHandler> firstHandler) {
    std::shared_ptr<CBJavascriptBridge> bridge(new CBJavascriptBridge());
    bridge->execMode_ = mode == kFG ? kFG : kBG;
    bridge->setPollingInterval(pollingIntervalForMode(bridge->execMode_));
    bridge->webView_ = std::move(webView);
    if (bridge->webView_) {
        bridge->webViewDelegate_ = bridge->webView_->delegate();
        bridge->webView_->setDelegate(bridge);
    }
    if (firstHandler)
        bridge->addCommandHandler(std::move(firstHandler));
    std::weak_ptr<CBJavascriptBridge> weak = bridge;
    bridge->waitingCommands_ = platform::WaitingMessages::add([weak] {
        auto alive = weak.lock();
        return alive && alive->holdsPageCommands();
    });
    return bridge;
}

CBJavascriptBridge::~CBJavascriptBridge() {
    if (pollingTimer_)
        pollingTimer_->invalidate();
    if (webView_)
        webView_->setDelegate(std::weak_ptr<platform::WebViewDelegate>());
}

void CBJavascriptBridge::addCommandHandler(std::shared_ptr<CBCommandHandler> handler) {
    if (!handler)
        return;
    commandHandlers_.push_back(handler);
    if (handler->respondsToSetBridge())
        handler->setBridge(weak_from_this());
}

void CBJavascriptBridge::removeCommandHandler(const std::shared_ptr<CBCommandHandler>& handler) {
    std::erase(commandHandlers_, handler);
}

void CBJavascriptBridge::removeAllCommandHandlers() { commandHandlers_.clear(); }

// ---- Page ----

const std::string& CBJavascriptBridge::baseScript() {
    // The page's command queue, and the escaping of every argument the page quotes into a
    // command text (undone by the parser).
    static const std::string script =
        R"(var ExecMode={BG:0,FG:1};var g_commandQueue=[];function commandList(_1){if(_1===ExecMode.BG){return g_commandQueue.shift();}else{if(_1===ExecMode.FG){var _2=g_commandQueue.join("\n");g_commandQueue=[];return _2;}}};function sendCommand(_3){g_commandQueue.push(_3);};function cbEscapeArgument(_7){return String(_7).replace(/\\/g,"\\\\").replace(/"/g,"\\\"").replace(/\n/g,"\\n").replace(/\r/g,"\\r");};var Bridge=function(){var _4={};function _5(_6){sendCommand("setPollingInterval:"+_6+";");};_4.setPollingInterval=_5;return _4;}();)";
    return script;
}

std::string CBJavascriptBridge::capabilities() { return "accel\",\"audio"; }

std::string CBJavascriptBridge::globalsScript() const {
    std::string clientVersion = "0.0", appID, serverURL;
    if (auto controller = CBController::existing()) {
        clientVersion = controller->installedClientVersion();
        appID = controller->applicationID();
        serverURL = controller->serverURL();
    }
    auto q = [](std::string_view text) { return scriptStringLiteral(text); };
    std::string s = "var UserInfo=function(){var _1=" + q(clientVersion) + ";var _2={};function _3(){return " + q(appID) +
                    ";};_2.getAppId=_3;function _4(){return _1;};_2.getClientVersion=_4;function _5(v){_1=v;};_2."
                    "setClientVersion=_5;function _6(){return " +
                    q(CBPaths::deviceName()) + ";};_2.getDeviceName=_6;function _7(){return " + q(CBPaths::deviceUID()) +
                    ";};_2.getDeviceUid=_7;function _8(){return " + q(kHostVersion) +
                    ";};_2.getHostVersion=_8;function _9(){return " + std::to_string(CBPaths::sessionStart()) +
                    ";};_2.getSessionStart=_9;function _a(){return " + q(serverURL) +
                    ";};_2.getServerURL=_a;return _2;}();var g_capabilities=[\"" + capabilities() + "\"];";
    return s;
}

std::string CBJavascriptBridge::bridgeScript() const {
    std::string script = baseScript();
    for (const auto& handler : commandHandlers_)
        script += "\n" + handler->bridgeScript();
    return script;
}

std::string CBJavascriptBridge::generateBridgeScript(const std::string& objectName, const CBCommandHandler& handler) {
    constexpr std::string_view kPrefix = "bridge_";
    std::string text = "var " + objectName + " = function()\n{\n\tvar self = {};\n";
    for (const auto& entry : handler.methods()) {
        const std::string& name = entry.selector;
        if (name.rfind(kPrefix, 0) != 0)
            continue;
        std::string function, parameters, command;
        if (name.find(':') == std::string::npos) {
            function = name.substr(kPrefix.size());
            command = name;
        } else {
            std::vector<std::string> pieces;
            std::size_t start = 0;
            for (std::size_t colon; (colon = name.find(':', start)) != std::string::npos; start = colon + 1)
                pieces.push_back(name.substr(start, colon - start));
            for (std::size_t i = 0; i < pieces.size(); ++i) {
                std::string piece = pieces[i];
                std::string parameter;
                if (i == 0) {
                    const std::string bare = piece.substr(kPrefix.size());
                    parameter = "a_" + bare;
                    function = bare;
                } else {
                    parameter = "a_" + piece;
                    std::string upper = piece;
                    if (!upper.empty() && upper[0] >= 'a' && upper[0] <= 'z')
                        upper[0] = static_cast<char>(upper[0] - 'a' + 'A');
                    function += upper;
                    parameters += ", ";
                    command += " ";
                }
                parameters += parameter;
                command += piece + ":\\\"\"+cbEscapeArgument(" + parameter + ")+\"\\\"";
            }
        }
        text += "\tself." + function + " = function(" + parameters + ")\n\t{\n\t\tsendCommand(\"" + command +
                ";\");\n\t}\n\n";
    }
    text += "\treturn self;\n}();";
    return text;
}

void CBJavascriptBridge::loadJavascriptString(std::string_view script, std::string_view onload,
                                              const std::optional<platform::URL>& baseURL) {
    std::string page(kPageHead);
    page += kScriptOpen;
    page += bridgeScript();
    page += kScriptClose;
    page += kScriptOpen;
    page += globalsScript();
    page += script;
    page += kScriptClose;
    page += kScriptOpen;
    page += "function isCBJSLoaded(){return true;}";
    page += kScriptClose;
    page += "</head><body style=\"margin:0px;\" onload=\"";
    page += onload;
    page += "\"></body></html>";
    flushJavascriptCommands();
    webViewLoading_ = true;
    if (webView_)
        webView_->loadHTMLString(std::move(page), baseURL);
}

// ---- Native-to-page commands ----

void CBJavascriptBridge::sendJavascriptCommand(const std::string& script) {
    if (webViewLoading_)
        postJavascriptCommand(script);
    else
        executeJavascriptCommand(script);
}

std::string CBJavascriptBridge::executeJavascriptCommand(std::string_view script) {
    if (!webView_)
        return {};
    return webView_->stringByEvaluatingJavaScriptFromString("try { " + std::string(script) + "; } catch(e) {}");
}

void CBJavascriptBridge::postJavascriptCommand(std::string script) {
    pendingJavascriptCommands_.push_back(std::move(script));
}

void CBJavascriptBridge::executePendingJavascriptCommands() {
    auto pending = std::move(pendingJavascriptCommands_);
    pendingJavascriptCommands_.clear();
    for (const auto& command : pending)
        executeJavascriptCommand(command);
}

void CBJavascriptBridge::flushJavascriptCommands() { pendingJavascriptCommands_.clear(); }

bool CBJavascriptBridge::isCBJSLoaded() {
    if (!webView_)
        return false;
    // A page without the bridge (a landing page) answers false rather than a script error.
    const std::string answer = webView_->stringByEvaluatingJavaScriptFromString(
        "typeof isCBJSLoaded == 'function' && isCBJSLoaded();");
    return answer == "true" || answer == "1";
}

// ---- Polling ----

double CBJavascriptBridge::pollingIntervalForMode(int mode) {
    if (isTablet())
        return kTabletInterval;
    return mode == kFG ? kPhoneForegroundInterval : kPhoneBackgroundInterval;
}

void CBJavascriptBridge::setPollingInterval(double seconds) {
    halt();
    if (!std::isfinite(seconds) || seconds < kMinimumPollingInterval)
        seconds = kMinimumPollingInterval;
    auto self = shared_from_this();
    pollingTimer_ = platform::Timer::scheduled(seconds, true, [self](platform::Timer&) { self->poll(); });
}

double CBJavascriptBridge::pollingInterval() const { return pollingTimer_ ? pollingTimer_->interval() : 0.0; }

bool CBJavascriptBridge::isPolling() const { return pollingTimer_ && pollingTimer_->isValid(); }

void CBJavascriptBridge::halt() {
    if (pollingTimer_) {
        auto timer = std::move(pollingTimer_);
        pollingTimer_.reset();
        timer->invalidate();
    }
}

void CBJavascriptBridge::restartPolling() {
    if (pollingIntervalOverride_)
        setPollingInterval(*pollingIntervalOverride_);
    else
        setPollingInterval(pollingIntervalForMode(execMode_ == kFG ? kFG : kBG));
}

void CBJavascriptBridge::setPollingIntervalOverride(double seconds) {
    if (!(seconds >= kMinimumPollingInterval && seconds <= kMaximumPollingIntervalOverride))
        return;
    pollingIntervalOverride_ = seconds;
    setPollingInterval(seconds);
}

void CBJavascriptBridge::handleExecModeUpdate(int mode) {
    if (pollingIntervalOverride_) {
        setPollingInterval(*pollingIntervalOverride_);
        execMode_ = mode;
        return;
    }
    if (mode != kBG && mode != kFG)
        return;
    setPollingInterval(pollingIntervalForMode(mode));
    execMode_ = mode;
}

bool CBJavascriptBridge::holdsPageCommands() {
    if (!webView_ || webViewLoading_ || !isPolling())
        return false;
    return webView_->stringByEvaluatingJavaScriptFromString(
               "typeof g_commandQueue == 'object' && g_commandQueue !== null && g_commandQueue.length > 0") ==
           "true";
}

int CBJavascriptBridge::poll() {
    if (!webView_)
        return 0;
    auto keepAlive = shared_from_this();
    const std::string answer =
        webView_->stringByEvaluatingJavaScriptFromString("commandList(" + std::to_string(CBController::currentExecMode()) + ");");
    if (answer.empty())
        return 0;
    int executed = 0;
    std::size_t start = 0;
    while (start <= answer.size()) {
        const std::size_t end = answer.find(kCommandSeparator, start);
        const std::string_view piece = std::string_view(answer).substr(
            start, end == std::string::npos ? std::string::npos : end - start);
        // One failing command does not cost the rest of the batch.
        bool done = false;
        platform::callGuarded("CBJavascriptBridge: command", [&] { done = executeCocoaCommand(piece); });
        executed += done;
        if (end == std::string::npos)
            break;
        start = end + kCommandSeparator.size();
    }
    return executed;
}

// ---- Commands ----

std::optional<CBParsedCommand> CBJavascriptBridge::parseCommand(std::string_view text) {
    if (!text.empty() && text.back() == ';')
        text.remove_suffix(1);
    if (text.empty())
        return std::nullopt;
    CBParsedCommand command;
    std::vector<std::string_view> tokens;
    bool inArgument = false;
    bool quoted = false;
    std::size_t start = 0;
    std::size_t length = 0;
    auto addArgument = [&](std::string_view token) -> bool {
        if (!token.empty() && token.front() == '"') {
            const std::string_view body = token.size() >= 2 ? token.substr(1, token.size() - 2) : std::string_view();
            command.arguments.emplace_back(unescapeArgument(body));
            return true;
        }
        auto number = numberArgument(token);
        if (!number)
            return false;
        command.arguments.push_back(std::move(*number));
        return true;
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '\\' && i + 1 < text.size()) {
                ++i;
                length = i + 1 - start;
                continue;
            }
            if (c == '"')
                quoted = false;
            length = i + 1 - start;
            continue;
        }
        if (c == '"') {
            if (length == 0)
                start = i;
            quoted = true;
            length = i + 1 - start;
            continue;
        }
        if (!inArgument) {
            if (c == ':' && length > 0) {
                std::string name;
                for (char n : text.substr(start, length))
                    if (n != ' ')
                        name += n;
                command.selector += name + ":";
                inArgument = true;
                length = 0;
                start = i + 1;
            } else if (c == ' ') {
                if (length == 0)
                    start = i + 1;
            } else {
                if (length == 0)
                    start = i;
                length = i + 1 - start;
            }
        } else {
            if (c == ' ') {
                if (length > 0) {
                    if (!addArgument(text.substr(start, length)))
                        return std::nullopt;
                    inArgument = false;
                    length = 0;
                }
                start = i + 1;
            } else {
                if (length == 0)
                    start = i;
                length = i + 1 - start;
            }
        }
    }
    if (quoted)
        return std::nullopt; // an argument whose closing quote is missing
    if (!inArgument) {
        std::string rest;
        for (char n : text.substr(start < text.size() ? start : text.size()))
            if (n != ' ')
                rest += n;
        command.selector += rest;
    } else if (length > 0) {
        if (!addArgument(text.substr(start, length)))
            return std::nullopt;
    } else {
        return std::nullopt; // a keyword without its argument
    }
    if (command.selector.empty())
        return std::nullopt;
    return command;
}

std::optional<std::shared_ptr<CBCommandHandler>>
CBJavascriptBridge::commandHandlerForSelector(std::string_view selector) const {
    if (selector == kBridgeSelectorSetPollingInterval)
        return std::shared_ptr<CBCommandHandler>();
    for (const auto& handler : commandHandlers_)
        if (handler->respondsToSelector(selector))
            return handler;
    return std::nullopt;
}

bool CBJavascriptBridge::invokeParsed(const CBParsedCommand& command) {
    auto target = commandHandlerForSelector(command.selector);
    if (!target)
        return false;
    if (!*target) {
        if (command.arguments.size() != 1 || !command.arguments[0].number())
            return false;
        setPollingInterval(*command.arguments[0].number());
        return true;
    }
    return (*target)->invoke(command.selector, command.arguments);
}

bool CBJavascriptBridge::executeCocoaCommand(std::string_view text) {
    auto command = parseCommand(text);
    if (!command)
        return false;
    return invokeParsed(*command);
}

// ---- Web view ----

bool CBJavascriptBridge::webViewShouldStartLoadWithRequestNavigationType(platform::WebView& view,
                                                                         const platform::URLRequest& request,
                                                                         platform::WebViewNavigationType type) {
    if (auto forward = webViewDelegate_.lock())
        return forward->webViewShouldStartLoadWithRequestNavigationType(view, request, type);
    return true;
}

void CBJavascriptBridge::webViewDidStartLoad(platform::WebView& view) {
    halt();
    webViewLoading_ = true;
    if (auto forward = webViewDelegate_.lock())
        forward->webViewDidStartLoad(view);
}

void CBJavascriptBridge::webViewDidFinishLoad(platform::WebView& view) {
    auto keepAlive = shared_from_this();
    webViewLoading_ = false;
    executePendingJavascriptCommands();
    restartPolling();
    if (auto forward = webViewDelegate_.lock())
        forward->webViewDidFinishLoad(view);
}

void CBJavascriptBridge::webViewDidFailLoadWithError(platform::WebView& view, const platform::Error& error) {
    if (error.code == platform::kURLErrorCancelled)
        return;
    auto keepAlive = shared_from_this();
    executePendingJavascriptCommands();
    webViewLoading_ = false;
    restartPolling();
    if (auto forward = webViewDelegate_.lock())
        forward->webViewDidFailLoadWithError(view, error);
}

} // namespace cobalt
