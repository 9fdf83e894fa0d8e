#pragma once
// The client scripts of the Cobalt engine: "display" and "driver", downloaded from the ad
// server, installed under Documents/CB/Config and run.
//
// CBClientManager keeps the installed client: one folder per downloaded client, named
// <session start>_<version>, holding display.js and driver.js, and the links Config/display.js
// and Config/driver.js to the current one. At creation it reconciles the links with the
// folders (a newer complete folder written by an earlier launch becomes current, the others
// go); at start-up it starts the driver and syncs once with the server ("req_js.json"). A new
// client is written into a temporary folder and renamed when every component is written; on
// a first install it is linked and started at once, otherwise taken at the next launch.
//
// CBClientDriver runs the driver script in a hidden page behind a CBJavascriptBridge with the
// handlers BridgeLib, BridgeCocoa, BridgeApp and BridgeDriver; CBDriverCommandHandler
// ("BridgeDriver") is how the driver script reports to the engine.
//
// Ownership: the controller owns the manager, the manager its driver, the driver its page and
// bridge. Main thread only; file work runs on the IO thread and answers on the main thread.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cobalt/CBCommandHandler.h"
#include "cobalt/CBDownloadConnection.h"
#include "platform/foundation/URL.h"
#include "platform/web/WebView.h"

namespace cobalt {

class CBJavascriptBridge;
class CBStandardCommandHandler;
class CBCocoaCommandHandler;
class CBApplicationCommandHandler;
class CBDriverCommandHandler;

inline constexpr const char* kCBClientDisplayComponent = "display";
inline constexpr const char* kCBClientDriverComponent = "driver";

class CBClientDriver : public platform::WebViewDelegate, public std::enable_shared_from_this<CBClientDriver> {
public:
    enum State { kNotInitialized = 0, kReady = 1, kFetching = 2 };

    static std::shared_ptr<CBClientDriver> create();
    ~CBClientDriver() override;

    int state() const { return state_; }
    void setState(int state) { state_ = state; }
    int execMode() const { return execMode_; }
    void setExecMode(int mode) { execMode_ = mode; }
    const std::shared_ptr<CBJavascriptBridge>& bridge() const { return bridge_; }
    const std::shared_ptr<platform::WebView>& webView() const { return webView_; }

    void startup();
    // Asks the page to stop, then polls until a poll runs no command.
    void shutdown();
    bool fetchAdForSlotNamed(const std::string& name);
    void executeCommand(const std::string& script);
    void setBridgePollingIntervalOverride(double seconds);
    void reloadAndExecute(const std::string& onload, const std::optional<platform::URL>& baseURL);
    void executeScript(const std::string& onload, const std::optional<platform::URL>& baseURL,
                       const platform::Data& data);
    // A fire-and-forget GET (http and https only).
    static void pingURL(const platform::URL& url);
    void initSucceeded();
    void initFailed() {}
    void adFetchSucceededForSlotNamed(const std::string& name, std::int64_t dlTime, std::int64_t expiration);
    void adFetchFailedForSlotNamed(const std::string& name);

    // The slot list given to driverInit: [{name:"cbBanner",size:1}], attribute-escaped.
    static std::string slotListText();

    bool webViewShouldStartLoadWithRequestNavigationType(platform::WebView&, const platform::URLRequest&,
                                                         platform::WebViewNavigationType) override;

private:
    CBClientDriver() = default;
    void readDriverAndLoad(const std::string& onload, const std::optional<platform::URL>& baseURL);

    std::shared_ptr<platform::WebView> webView_;
    int state_ = kNotInitialized;
    std::string fetchingSlot_; // the slot of the last fetch handed to the page
    int execMode_ = 0;
    std::shared_ptr<CBJavascriptBridge> bridge_;
    std::shared_ptr<CBStandardCommandHandler> standardHandler_;
    std::shared_ptr<CBCocoaCommandHandler> cocoaHandler_;
    std::shared_ptr<CBApplicationCommandHandler> applicationHandler_;
    std::shared_ptr<CBDriverCommandHandler> driverHandler_;
};

class CBDriverCommandHandler : public CBCommandHandler {
public:
    static constexpr const char* kName = "BridgeDriver";
    explicit CBDriverCommandHandler(std::weak_ptr<CBClientDriver> driver);

private:
    std::weak_ptr<CBClientDriver> driver_;
};

class CBClientManager : public CBDownloadConnectionDelegate, public std::enable_shared_from_this<CBClientManager> {
public:
    static constexpr double kFirstInstallTimeout = 80.0;
    static constexpr double kUpdateTimeout = 40.0;
    static constexpr int kSyncAttempts = 3;
    static constexpr const char* kNoClientVersion = "0.0";

    static std::shared_ptr<CBClientManager> create();

    void startup();
    void shutdown();
    void synchronizeWithServer();
    void synchronizeWithFileSystem();
    bool hasClient() const { return clientVersion_ != kNoClientVersion; }
    const std::string& clientVersion() const { return clientVersion_; }
    void setClientVersion(std::optional<std::string> version) { clientVersion_ = version.value_or(kNoClientVersion); }
    const std::vector<std::string>& clientComponents() const { return clientComponents_; }
    // Config/<name>.js for a component name, nullopt for any other name.
    std::optional<std::string> pathForComponent(const std::string& name) const;
    const std::shared_ptr<CBClientDriver>& clientDriver() const { return clientDriver_; }
    static std::string clientRootDir();
    static std::int64_t timestampFromClientDirName(const std::string& name);
    static std::optional<std::string> clientVersionFromClientDirName(const std::string& name);

    void downloadSucceeded(CBDownloadConnection& download) override;
    void downloadFailed(CBDownloadConnection& download) override;
    void downloadTimedOut(CBDownloadConnection& download) override;

    void synchronizeWithServerCallback(const platform::Value& reply);

private:
    CBClientManager() = default;
    void flushUpdateUsingResponse(const platform::Dictionary& clientResponse);
    void flushUpdateUsingResponseCallback(std::shared_ptr<const platform::Dictionary> clientResponse,
                                          std::string temporaryDir, std::string newClientDir,
                                          std::size_t componentIndex, bool written);
    void didUpdateUsingResponse(const platform::Dictionary& clientResponse, const std::string& newClientDir);

    std::string clientVersion_ = kNoClientVersion;
    std::vector<std::string> clientComponents_{kCBClientDisplayComponent, kCBClientDriverComponent};
    std::shared_ptr<CBClientDriver> clientDriver_;
    std::shared_ptr<CBDownloadConnection> syncConnection_;
    bool updateInProgress_ = false;
};

} // namespace cobalt
