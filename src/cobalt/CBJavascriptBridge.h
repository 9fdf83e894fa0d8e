#pragma once
// Connects one page (the engine's hidden driver page, or an ad view's display page) with
// native command handlers.
//
// Script-to-native traffic is pulled: the page queues command texts ("bridge_setState:\"1\";"),
// and a repeating timer on the main run loop evaluates "commandList(mode);" in the page,
// splits the answer at ";\n" and runs each command on the bridge (only its own
// setPollingInterval:) or on the first handler whose method table has it. Native-to-page
// traffic is script text evaluated in the page, queued while the page loads.
//
// Command texts: keyword pieces and arguments separated by blanks ("setPollingInterval:0.5",
// "bridge_setState:\"1\""), an optional final ";". A quoted argument arrives as a string, with
// backslash escapes undone (the page escapes every argument it quotes, so quotes, blanks, ";"
// and line breaks arrive whole); an unquoted one as a number (true/yes 1, false/no 0). A
// command whose selector no table has, whose argument count does not match, or with a number
// that is not finite, is dropped; the other commands of the batch still run.
//
// Poll interval: 1/30 s on tablets; on phones 0.5 s in background mode and 1/15 s in
// foreground mode; an override (1/30 s to 1 s) replaces both. Polling halts while a page
// loads and restarts when the load ends. While the page's queue holds commands and polling
// runs, the bridge tells platform::WaitingMessages so (a program waiting for rest lets the
// poll come).
//
// Ownership: the creator and the poll timer hold the bridge (the timer until halt()); the
// bridge holds its web view and handlers and becomes the web view's delegate, passing every
// callback on to the delegate the web view had before. Main thread only.
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Value.h"
#include "platform/runloop/WaitingMessages.h"
#include "platform/web/WebView.h"

namespace platform {
class Timer;
} // namespace platform

namespace cobalt {

class CBCommandHandler;

// One parsed command: the selector and its arguments.
struct CBParsedCommand {
    std::string selector;
    std::vector<platform::Value> arguments;
};

class CBJavascriptBridge : public platform::WebViewDelegate, public std::enable_shared_from_this<CBJavascriptBridge> {
public:
    enum ExecMode { kBG = 0, kFG = 1 };
    static constexpr double kMinimumPollingInterval = 1.0 / 30.0;
    static constexpr double kMaximumPollingIntervalOverride = 1.0;

    static std::shared_ptr<CBJavascriptBridge> bridgeInMode(int mode, std::shared_ptr<platform::WebView> webView,
                                                            std::shared_ptr<CBCommandHandler> firstHandler);
    ~CBJavascriptBridge() override;

    const std::shared_ptr<platform::WebView>& webView() const { return webView_; }
    int execMode() const { return execMode_; }
    void setExecMode(int mode) { execMode_ = mode; }

    void addCommandHandler(std::shared_ptr<CBCommandHandler> handler);
    void removeCommandHandler(const std::shared_ptr<CBCommandHandler>& handler);
    void removeAllCommandHandlers();
    const std::vector<std::shared_ptr<CBCommandHandler>>& commandHandlers() const { return commandHandlers_; }

    // Builds the page from the bridge and globals scripts and `script`, with `onload` as the
    // body's onload attribute text, and loads it with `baseURL`.
    void loadJavascriptString(std::string_view script, std::string_view onload,
                              const std::optional<platform::URL>& baseURL);
    void sendJavascriptCommand(const std::string& script);
    std::string executeJavascriptCommand(std::string_view script);
    void postJavascriptCommand(std::string script);
    void executePendingJavascriptCommands();
    void flushJavascriptCommands();
    std::size_t pendingJavascriptCommandCount() const { return pendingJavascriptCommands_.size(); }
    bool isLoading() const { return webViewLoading_; }

    // One poll; answers the number of commands executed.
    int poll();
    // Whether the page has queued commands that the next poll will take.
    bool holdsPageCommands();
    void halt();
    void restartPolling();
    bool isPolling() const;
    void setPollingInterval(double seconds);
    // The interval of the running timer; 0 while halted.
    double pollingInterval() const;
    void setPollingIntervalOverride(double seconds);
    std::optional<double> pollingIntervalOverride() const { return pollingIntervalOverride_; }
    void handleExecModeUpdate(int mode);
    static double pollingIntervalForMode(int mode);

    bool isCBJSLoaded();
    static std::string capabilities();
    std::string globalsScript() const;
    std::string bridgeScript() const;
    static const std::string& baseScript();

    bool executeCocoaCommand(std::string_view command);
    static std::optional<CBParsedCommand> parseCommand(std::string_view text);
    // The handler (or null for the bridge itself) that runs `selector`; nullopt when none does.
    std::optional<std::shared_ptr<CBCommandHandler>> commandHandlerForSelector(std::string_view selector) const;
    bool respondsToSelector(std::string_view selector) const { return commandHandlerForSelector(selector).has_value(); }

    static std::string generateBridgeScript(const std::string& objectName, const CBCommandHandler& handler);

    // WebViewDelegate
    bool webViewShouldStartLoadWithRequestNavigationType(platform::WebView&, const platform::URLRequest&,
                                                         platform::WebViewNavigationType) override;
    void webViewDidStartLoad(platform::WebView&) override;
    void webViewDidFinishLoad(platform::WebView&) override;
    void webViewDidFailLoadWithError(platform::WebView&, const platform::Error&) override;

private:
    CBJavascriptBridge() = default;
    bool invokeParsed(const CBParsedCommand& command);

    std::shared_ptr<platform::Timer> pollingTimer_;
    std::shared_ptr<platform::WebView> webView_;
    std::weak_ptr<platform::WebViewDelegate> webViewDelegate_;
    std::vector<std::string> pendingJavascriptCommands_;
    bool webViewLoading_ = false;
    int execMode_ = kBG;
    std::vector<std::shared_ptr<CBCommandHandler>> commandHandlers_;
    std::optional<double> pollingIntervalOverride_;
    // Tells those who wait for rest that the page's queue holds commands (holdsPageCommands).
    std::unique_ptr<platform::WaitingMessages::Registration> waitingCommands_;
};

} // namespace cobalt
