#include "cobalt/CBClientManager.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <utility>

#include "cobalt/CBAdManager.h"
#include "cobalt/CBAsyncCommand.h"
#include "cobalt/CBCodecs.h"
#include "cobalt/CBController.h"
#include "cobalt/CBDatabase.h"
#include "cobalt/CBJavascriptBridge.h"
#include "cobalt/CBLibraryHandlers.h"
#include "cobalt/CBPaths.h"
#include "platform/foundation/DeviceHome.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/Log.h"
#include "platform/net/URLConnection.h"

namespace cobalt {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSyncPath = "/v2/req_js.json";
constexpr const char* kStatusOkay = "AllOkay";
constexpr const char* kPartialPrefix = "partial-";
constexpr double kPingTimeout = 30.0;
constexpr std::int64_t kPingMaximumBodyBytes = 64 * 1024;

std::shared_ptr<CBAsyncCommandManager> ioManager() {
    auto controller = CBController::existing();
    return controller ? controller->ioRequestManager() : nullptr;
}

// Runs a file command on the IO thread, or at once when there is no engine (tests of parts).
void sendIO(std::shared_ptr<CBAsyncCommand> command) {
    if (auto manager = ioManager())
        manager->sendAsyncCommand(std::move(command));
    else
        command->execute();
}

// The leading signed integer of a text, as the scripts' numbers are read; 0 when none.
std::int64_t longLongValue(const std::string& text) { return std::strtoll(text.c_str(), nullptr, 10); }

bool isWebURL(const platform::URL& url) {
    const auto scheme = url.scheme();
    return scheme == "http" || scheme == "https";
}

std::optional<platform::URL> driverBaseURL() {
    if (auto parsed = platform::URL::parse(CBAdManager::adBaseURL()))
        return parsed;
    return platform::URL::fileURL(CBAdManager::adRootDir() + "/");
}

} // namespace

// ---- Driver ----

std::shared_ptr<CBClientDriver> CBClientDriver::create() {
    std::shared_ptr<CBClientDriver> driver(new CBClientDriver());
    driver->webView_ = std::make_shared<platform::WebView>();
    // The client scripts' pages read the engine's store folder only.
    driver->webView_->setReadableFolder(platform::ReadableFolder(CBPaths::cbBaseDir()));
    driver->webView_->setDelegate(driver);
    driver->standardHandler_ = std::make_shared<CBStandardCommandHandler>();
    driver->cocoaHandler_ = std::make_shared<CBCocoaCommandHandler>();
    driver->applicationHandler_ = std::make_shared<CBApplicationCommandHandler>();
    driver->driverHandler_ = std::make_shared<CBDriverCommandHandler>(driver);
    driver->bridge_ = CBJavascriptBridge::bridgeInMode(CBJavascriptBridge::kBG, driver->webView_, nullptr);
    driver->bridge_->addCommandHandler(driver->standardHandler_);
    driver->bridge_->addCommandHandler(driver->cocoaHandler_);
    driver->bridge_->addCommandHandler(driver->applicationHandler_);
    driver->bridge_->addCommandHandler(driver->driverHandler_);
    return driver;
}

CBClientDriver::~CBClientDriver() {
    if (bridge_)
        bridge_->halt();
}

std::string CBClientDriver::slotListText() {
    std::string text = "[";
    auto controller = CBController::existing();
    const auto* manager = controller ? controller->adManager().get() : nullptr;
    if (manager) {
        const auto& slots = manager->slots();
        for (std::size_t i = 0; i < slots.size(); ++i) {
            const auto& description = *slots[i]->slotDescription();
            text += "{name:\\&quot;" + description.name() + "\\&quot;,size:" + std::to_string(description.size()) +
                    "}" + (i + 1 < slots.size() ? "," : "");
        }
    }
    return text + "]";
}

void CBClientDriver::startup() {
    auto controller = CBController::existing();
    if (!controller || !controller->clientManager() || !controller->clientManager()->hasClient())
        return;
    // A new page replaces one that may have a fetch under way (a client installed afresh after
    // the store was made again): that fetch is never reported, so its slot is queued again and
    // fetched once the new page is ready.
    const std::string lost = state_ == kFetching ? std::exchange(fetchingSlot_, std::string()) : std::string();
    state_ = kNotInitialized;
    if (!lost.empty() && controller->adManager())
        controller->adManager()->queueFetchForSlotNamed(lost);
    const std::string onload = "try {driverInit(&quot;" + slotListText() +
                               "&quot;);} catch(e){BridgeLib.log('failed: ' + e);}";
    readDriverAndLoad(onload, driverBaseURL());
}

void CBClientDriver::readDriverAndLoad(const std::string& onload, const std::optional<platform::URL>& baseURL) {
    auto controller = CBController::existing();
    if (!controller || !controller->clientManager())
        return;
    auto path = controller->clientManager()->pathForComponent(kCBClientDriverComponent);
    if (!path)
        return;
    std::weak_ptr<CBClientDriver> weak = weak_from_this();
    auto context = CBCallbackContext::contextWithCallbackInvocation(
        [weak, onload, baseURL](const platform::Value& result) {
            auto self = weak.lock();
            if (self && result.data())
                self->executeScript(onload, baseURL, *result.data());
        },
        true);
    sendIO(CBIOReadRequest::requestWithPathToRead(*path, std::move(context)));
}

void CBClientDriver::executeScript(const std::string& onload, const std::optional<platform::URL>& baseURL,
                                   const platform::Data& data) {
    std::string text(data.begin(), data.end());
    if (auto zero = text.find('\0'); zero != std::string::npos)
        text.resize(zero);
    bridge_->loadJavascriptString(text, onload, baseURL);
}

void CBClientDriver::shutdown() {
    bridge_->sendJavascriptCommand("shutdown();");
    // A page that keeps queueing commands cannot hold the shutdown forever.
    constexpr int kMaximumDrainPolls = 1000;
    for (int i = 0; i < kMaximumDrainPolls && bridge_->poll() > 0; ++i) {
    }
    bridge_->halt();
}

bool CBClientDriver::fetchAdForSlotNamed(const std::string& name) {
    if (state_ != kReady || !bridge_->isCBJSLoaded())
        return false;
    state_ = kFetching;
    fetchingSlot_ = name;
    bridge_->sendJavascriptCommand("try {fetchAdForSlotNamed(" + scriptStringLiteral(name) +
                                   ");} catch(e){BridgeLib.log('failed: ' + e);}");
    return true;
}

void CBClientDriver::executeCommand(const std::string& script) { bridge_->sendJavascriptCommand(script); }

void CBClientDriver::setBridgePollingIntervalOverride(double seconds) { bridge_->setPollingIntervalOverride(seconds); }

void CBClientDriver::reloadAndExecute(const std::string& onload, const std::optional<platform::URL>& baseURL) {
    if (!bridge_->isCBJSLoaded())
        return;
    readDriverAndLoad(onload, baseURL ? baseURL : driverBaseURL());
}

void CBClientDriver::pingURL(const platform::URL& url) {
    if (!isWebURL(url))
        return;
    platform::URLRequest request(url);
    request.setTimeoutInterval(kPingTimeout);
    auto connection = platform::URLConnection::create(std::move(request), nullptr, false);
    connection->setMaximumBodyLength(kPingMaximumBodyBytes);
    connection->start();
}

void CBClientDriver::initSucceeded() {
    if (auto controller = CBController::existing())
        if (controller->adManager())
            controller->adManager()->clientDriverDidInitialize();
}

void CBClientDriver::adFetchSucceededForSlotNamed(const std::string& name, std::int64_t dlTime,
                                                  std::int64_t expiration) {
    if (auto controller = CBController::existing())
        if (controller->adManager())
            controller->adManager()->adDownloadedForSlotNamed(name, dlTime, expiration);
}

void CBClientDriver::adFetchFailedForSlotNamed(const std::string& name) {
    if (auto controller = CBController::existing())
        if (controller->adManager())
            controller->adManager()->adDownloadFailedForSlotNamed(name);
}

bool CBClientDriver::webViewShouldStartLoadWithRequestNavigationType(platform::WebView&,
                                                                     const platform::URLRequest& request,
                                                                     platform::WebViewNavigationType) {
    const auto scheme = request.url().scheme();
    if (scheme == "file")
        return true;
    if (scheme == "about")
        return false;
    if (!bridge_->isCBJSLoaded())
        return true;
    const std::string answer = webView_->stringByEvaluatingJavaScriptFromString(
        "shouldStartLoadWithRequest(" + scriptStringLiteral(request.url().absoluteString()) + ");");
    return answer == "true";
}

// ---- Driver handler ----

CBDriverCommandHandler::CBDriverCommandHandler(std::weak_ptr<CBClientDriver> driver)
    : CBCommandHandler(kName), driver_(std::move(driver)) {
    auto withDriver = [this](auto&& f) {
        if (auto driver = driver_.lock())
            f(*driver);
    };
    addMethod("bridge_notifyInitSucceeded", [withDriver](const Arguments&) {
        withDriver([](CBClientDriver& d) { d.initSucceeded(); });
    });
    addMethod("bridge_notifyInitFailed", [withDriver](const Arguments&) {
        withDriver([](CBClientDriver& d) { d.initFailed(); });
    });
    addMethod("bridge_notifyAdFetchSucceededForSlotNamed:dlTime:expiration:", [withDriver](const Arguments& a) {
        withDriver([&](CBClientDriver& d) {
            d.adFetchSucceededForSlotNamed(text(a[0]), longLongValue(text(a[1])), longLongValue(text(a[2])));
        });
    });
    addMethod("bridge_notifyAdFetchFailedForSlotNamed:", [withDriver](const Arguments& a) {
        withDriver([&](CBClientDriver& d) { d.adFetchFailedForSlotNamed(text(a[0])); });
    });
    addMethod("bridge_pingURL:", [](const Arguments& a) {
        if (auto url = platform::URL::parse(text(a[0])))
            CBClientDriver::pingURL(*url);
    });
    addMethod("bridge_reloadAndExecute:", [withDriver](const Arguments& a) {
        withDriver([&](CBClientDriver& d) { d.reloadAndExecute(text(a[0]), std::nullopt); });
    });
    addMethod("bridge_reloadAndExecute:baseURL:", [withDriver](const Arguments& a) {
        // A base URL on disk gives the page the folder it names (the URL itself when it ends
        // in "/", else its parent): that folder must be the store folder or lie inside it.
        // Other schemes than http and https are refused.
        auto base = platform::URL::parse(text(a[1]));
        if (!base)
            return;
        if (base->isFileURL()) {
            const auto folder = platform::WebView::fileFolderOfPage(*base);
            std::error_code ec;
            const auto store = fs::weakly_canonical(CBPaths::cbBaseDir(), ec);
            const auto inside = folder ? folder->lexically_relative(store) : fs::path();
            if (ec || inside.empty() || *inside.begin() == "..")
                return;
        } else if (!isWebURL(*base)) {
            return;
        }
        withDriver([&](CBClientDriver& d) { d.reloadAndExecute(text(a[0]), base); });
    });
    addMethod("bridge_setState:", [withDriver](const Arguments& a) {
        const auto state = longLongValue(text(a[0]));
        if (state == CBClientDriver::kReady || state == CBClientDriver::kFetching)
            withDriver([&](CBClientDriver& d) { d.setState(static_cast<int>(state)); });
    });
    addMethod("bridge_getAdManagerProperty:callback:", [this](const Arguments& a) {
        auto controller = CBController::existing();
        auto manager = controller ? controller->adManager() : nullptr;
        if (!manager)
            return;
        const std::string key = text(a[0]);
        std::string value;
        if (key == "fetchReenqueueDelay")
            value = text(platform::Value(manager->fetchReenqueueDelay()));
        else if (key == "slotDict")
            value = CBJSON::stringWithObject(manager->slotDict());
        else {
            platform::logLine("BridgeDriver: refused property " + key);
            return;
        }
        answerText(text(a[1]), value);
    });
    addMethod("bridge_setAdManagerProperty:value:", [](const Arguments& a) {
        auto controller = CBController::existing();
        auto manager = controller ? controller->adManager() : nullptr;
        if (!manager)
            return;
        if (text(a[0]) != "fetchReenqueueDelay") {
            platform::logLine("BridgeDriver: refused property " + text(a[0]));
            return;
        }
        const auto* s = a[1].string();
        const double value = s ? std::strtod(s->c_str(), nullptr) : a[1].doubleOr(0);
        if (std::isfinite(value))
            manager->setFetchReenqueueDelay(value);
    });
}

// ---- Manager ----

std::shared_ptr<CBClientManager> CBClientManager::create() {
    std::shared_ptr<CBClientManager> manager(new CBClientManager());
    manager->clientDriver_ = CBClientDriver::create();
    manager->synchronizeWithFileSystem();
    return manager;
}

std::string CBClientManager::clientRootDir() { return (CBPaths::cbBaseDir() / "Config").string(); }

std::optional<std::string> CBClientManager::pathForComponent(const std::string& name) const {
    for (const auto& component : clientComponents_)
        if (component == name)
            return (fs::path(clientRootDir()) / (name + ".js")).string();
    return std::nullopt;
}

std::int64_t CBClientManager::timestampFromClientDirName(const std::string& name) {
    const auto underscore = name.find('_');
    if (underscore == std::string::npos || name.find('_', underscore + 1) != std::string::npos)
        return -1;
    const std::int64_t stamp = longLongValue(name.substr(0, underscore));
    return stamp > 0 ? stamp : -1;
}

std::optional<std::string> CBClientManager::clientVersionFromClientDirName(const std::string& name) {
    const auto underscore = name.find('_');
    if (underscore == std::string::npos)
        return std::nullopt;
    return name.substr(underscore + 1);
}

void CBClientManager::synchronizeWithFileSystem() {
    const fs::path root = clientRootDir();
    std::error_code ec;
    // The client folder is the engine's only when it and the store folder are real folders: a
    // link or a file at either name is left alone, and the engine runs with no client.
    if (!platform::DeviceHome::isOwnFolder(root)) {
        clientVersion_ = kNoClientVersion;
        return;
    }
    // A client whose writing was cut short (the process ended mid-update) is never taken.
    for (const auto& entry : fs::directory_iterator(root, ec))
        if (entry.is_directory(ec) && !entry.is_symlink(ec) &&
            entry.path().filename().string().rfind(kPartialPrefix, 0) == 0)
            fs::remove_all(entry.path(), ec);
    std::optional<std::string> current;
    std::int64_t currentStamp = 0;
    bool anyLink = false;
    for (const auto& component : clientComponents_) {
        const fs::path link = root / (component + ".js");
        if (!fs::is_symlink(link, ec))
            continue;
        anyLink = true;
        const fs::path destination = fs::read_symlink(link, ec);
        if (ec)
            continue;
        const std::string folder = destination.parent_path().filename().string();
        const std::int64_t stamp = timestampFromClientDirName(folder);
        if (stamp != -1 && (currentStamp <= 0 || stamp == currentStamp) && !current) {
            current = folder;
            currentStamp = stamp;
        }
    }
    if (!anyLink) {
        clientVersion_ = kNoClientVersion;
        return;
    }
    // Only folders holding every component count, and none written during this launch.
    auto complete = [&](const fs::path& folder) {
        for (const auto& component : clientComponents_)
            if (!fs::is_regular_file(folder / (component + ".js"), ec))
                return false;
        return true;
    };
    auto linked = [&](const std::string& folder) {
        for (const auto& component : clientComponents_) {
            const fs::path link = root / (component + ".js");
            if (!fs::is_symlink(link, ec) ||
                fs::read_symlink(link, ec) != fs::path(folder) / (component + ".js"))
                return false;
        }
        return true;
    };
    auto relink = [&](const std::optional<std::string>& folder) {
        for (const auto& component : clientComponents_) {
            const fs::path link = root / (component + ".js");
            fs::remove(link, ec);
            if (folder)
                fs::create_symlink(fs::path(*folder) / (component + ".js"), link, ec);
        }
    };
    // A current folder that lost a script cannot run; a newer or older whole one may stand in.
    if (current && !complete(root / *current)) {
        current.reset();
        currentStamp = 0;
    }
    std::optional<std::string> newest = current;
    std::int64_t newestStamp = current ? currentStamp : 0;
    for (const auto& entry : fs::directory_iterator(root, ec)) {
        if (!entry.is_directory(ec) || entry.is_symlink(ec))
            continue;
        const std::string name = entry.path().filename().string();
        const std::int64_t stamp = timestampFromClientDirName(name);
        if (stamp > newestStamp && stamp < CBPaths::sessionStart() && complete(entry.path())) {
            newest = name;
            newestStamp = stamp;
        }
    }
    if (!newest) {
        // Nothing whole is installed: the next sync installs a client afresh.
        relink(std::nullopt);
        clientVersion_ = kNoClientVersion;
        return;
    }
    if (newest != current) {
        relink(newest);
        for (const auto& entry : fs::directory_iterator(root, ec))
            if (entry.is_directory(ec) && !entry.is_symlink(ec) && entry.path().filename() != *newest)
                fs::remove_all(entry.path(), ec);
    } else if (!linked(*newest)) {
        // A first install cut short between its links: the missing ones are made again.
        relink(newest);
    }
    clientVersion_ = clientVersionFromClientDirName(*newest).value_or(kNoClientVersion);
}

void CBClientManager::startup() {
    clientDriver_->startup();
    synchronizeWithServer();
}

void CBClientManager::shutdown() { clientDriver_->shutdown(); }

void CBClientManager::synchronizeWithServer() {
    auto controller = CBController::existing();
    if (!controller)
        return;
    auto enc = [](std::string_view v) { return platform::percentEncodeQueryValue(v); };
    const std::string text = controller->serverURL() + kSyncPath + "?appguid=" + enc(controller->applicationID()) +
                             "&deviceid=" + enc(CBPaths::deviceName()) + "&userid=" + enc(CBPaths::deviceUID()) +
                             "&hostversion=" + enc(kCBSDKVersion) + "&clientversion=" + enc(clientVersion_);
    auto url = platform::URL::parse(text);
    if (!url || !isWebURL(*url)) {
        platform::logLine("CBAdEngine: cannot sync with the server at " + controller->serverURL());
        return;
    }
    platform::URLRequest request(*url);
    // The platform's loading undoes the compression before the body reaches the download.
    request.setValue("gzip", "Accept-Encoding");
    syncConnection_ = CBDownloadConnection::timedConnectionWithURLRequest(
        std::move(request), weak_from_this(), platform::Value(), hasClient() ? kUpdateTimeout : kFirstInstallTimeout,
        kSyncAttempts);
}

void CBClientManager::downloadFailed(CBDownloadConnection&) { syncConnection_.reset(); }

void CBClientManager::downloadTimedOut(CBDownloadConnection&) { syncConnection_.reset(); }

void CBClientManager::downloadSucceeded(CBDownloadConnection& download) {
    const auto& bytes = download.receivedData();
    std::string text(bytes.begin(), bytes.end());
    std::weak_ptr<CBClientManager> weak = weak_from_this();
    auto context = CBCallbackContext::contextWithCallbackTarget(
        [weak](const platform::Value& reply) {
            if (auto self = weak.lock())
                self->synchronizeWithServerCallback(reply);
        },
        true);
    sendIO(CBJSONCommand::jsonCommandWithType(CBJSONCommand::kParse, platform::Value(std::move(text)),
                                              std::move(context)));
    syncConnection_.reset();
}

void CBClientManager::synchronizeWithServerCallback(const platform::Value& reply) {
    const auto* status = reply.find("status");
    if (!status || !status->string() || *status->string() != kStatusOkay)
        return;
    const auto* content = reply.find("content");
    const auto* clientResponse = content ? content->find("clientResponse") : nullptr;
    if (!clientResponse || !clientResponse->dictionary())
        return;
    auto controller = CBController::existing();
    if (const auto* isDisabled = clientResponse->find("isDisabled"); isDisabled && controller) {
        const bool disabled = isDisabled->boolOr(false);
        if (disabled != controller->disabled() && controller->database())
            controller->database()->sendQuery("INSERT OR REPLACE INTO settings (id, data) VALUES(?, ?)",
                                              {kSettingDisabled, platform::Value(disabled ? 1 : 0)}, nullptr);
    }
    const auto* source = clientResponse->find("source");
    const auto* version = clientResponse->find("clientVersion");
    if (!source || !source->dictionary() || source->dictionary()->empty() || !version || !version->string())
        return;
    if (*version->string() == clientVersion_ || updateInProgress_)
        return;
    for (const auto& component : clientComponents_) {
        const auto* script = source->find(component);
        if (!script || !script->string())
            return;
    }
    flushUpdateUsingResponse(*clientResponse->dictionary());
}

void CBClientManager::flushUpdateUsingResponse(const platform::Dictionary& clientResponse) {
    const std::string version = *clientResponse.at("clientVersion").string();
    const std::string name = std::to_string(CBPaths::sessionStart()) + "_" + version;
    if (!platform::FileManager::safePathComponent(name) || name.find('/') != std::string::npos) {
        platform::logLine("CBAdEngine: refused client version " + version);
        return;
    }
    const fs::path folder = fs::path(clientRootDir()) / name;
    const fs::path temporary = fs::path(clientRootDir()) / (kPartialPrefix + name);
    if (!platform::DeviceHome::makeOwnFolder(clientRootDir())) {
        platform::logLine("CBAdEngine: no client folder of the engine's own; the client is not installed");
        return;
    }
    std::error_code ec;
    fs::remove_all(temporary, ec);
    if (!platform::DeviceHome::makeOwnFolder(temporary)) {
        platform::logLine("CBAdEngine: cannot create " + temporary.string());
        return;
    }
    updateInProgress_ = true;
    flushUpdateUsingResponseCallback(std::make_shared<const platform::Dictionary>(clientResponse), temporary.string(),
                                     folder.string(), 0, true);
}

void CBClientManager::flushUpdateUsingResponseCallback(std::shared_ptr<const platform::Dictionary> clientResponse,
                                                       std::string temporaryDir, std::string newClientDir,
                                                       std::size_t componentIndex, bool written) {
    std::error_code ec;
    if (!written) {
        // A client that could not be written whole is never installed.
        fs::remove_all(temporaryDir, ec);
        updateInProgress_ = false;
        return;
    }
    if (componentIndex == clientComponents_.size()) {
        if (!platform::DeviceHome::isOwnFolder(temporaryDir)) {
            updateInProgress_ = false; // the folder became a link meanwhile: nothing is touched
            return;
        }
        fs::remove_all(newClientDir, ec);
        fs::rename(temporaryDir, newClientDir, ec);
        if (ec) {
            fs::remove_all(temporaryDir, ec);
            updateInProgress_ = false;
            return;
        }
        didUpdateUsingResponse(*clientResponse, newClientDir);
        return;
    }
    const std::string& component = clientComponents_[componentIndex];
    const std::string& script = *clientResponse->at("source").find(component)->string();
    std::weak_ptr<CBClientManager> weak = weak_from_this();
    auto context = CBCallbackContext::contextWithCallbackInvocation(
        [weak, clientResponse, temporaryDir, newClientDir, componentIndex](const platform::Value& result) {
            if (auto self = weak.lock())
                self->flushUpdateUsingResponseCallback(clientResponse, temporaryDir, newClientDir, componentIndex + 1,
                                                       result.boolOr(false));
        },
        true);
    sendIO(CBIOWriteRequest::requestWithPath((fs::path(temporaryDir) / (component + ".js")).string(),
                                             platform::Data(script.begin(), script.end()), false, std::move(context)));
}

void CBClientManager::didUpdateUsingResponse(const platform::Dictionary& clientResponse,
                                             const std::string& newClientDir) {
    updateInProgress_ = false;
    if (hasClient())
        return; // taken at the next launch's reconciliation
    std::error_code ec;
    const fs::path root = clientRootDir();
    if (!platform::DeviceHome::isOwnFolder(root))
        return;
    const std::string folder = fs::path(newClientDir).filename().string();
    for (const auto& component : clientComponents_) {
        const fs::path link = root / (component + ".js");
        fs::remove(link, ec);
        fs::create_symlink(fs::path(folder) / (component + ".js"), link, ec);
    }
    setClientVersion(*clientResponse.at("clientVersion").string());
    clientDriver_->startup();
}

} // namespace cobalt
