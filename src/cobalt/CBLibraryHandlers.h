#pragma once
// The three command handlers that give the downloaded scripts their native services, on the
// driver page and on every display page:
//   CBStandardCommandHandler ("BridgeLib"): the ads' files under the store folder, downloads and
//     unpacking, the engine's SQL store and its settings, reachability, the controller's
//     settings, the bridge's exec mode. Its script object is fixed text.
//   CBApplicationCommandHandler ("BridgeApp"): values of the application's information
//     dictionary.
//   CBCocoaCommandHandler ("BridgeCocoa"): calls by name, limited to an allow-list of classes
//     and methods that take and return objects; results stay native and are referred to by
//     handle texts "obj@<address>".
//
// Every path a script names is relative to the Documents folder and must resolve inside
// Documents/CB/Content (or be Documents/temp.zip); other paths, the store file and the client
// scripts among them, are refused (logged, and answered 0 where the command answers a number,
// "(null)" where it answers a file's content). Downloads take http and https only, with a size cap
// and a time-out. Main thread; file and store work runs on the worker threads and answers
// through the main thread.
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cobalt/CBCommandHandler.h"
#include "cobalt/CBDownloadConnection.h"

namespace cobalt {

class CBStandardCommandHandler : public CBCommandHandler, public CBDownloadConnectionDelegate {
public:
    static constexpr const char* kName = "BridgeLib";
    static constexpr double kDownloadTimeout = 60.0;

    CBStandardCommandHandler();
    std::string bridgeScript() const override;

    void downloadSucceeded(CBDownloadConnection& download) override;
    void downloadFailed(CBDownloadConnection& download) override;
    void downloadTimedOut(CBDownloadConnection& download) override;
    std::size_t downloadsInProgress() const { return downloads_.size(); }

private:
    void startDownload(const std::string& url, platform::Dictionary userData, const std::string& callback);
    void finishDownload(CBDownloadConnection& download);
    std::vector<std::shared_ptr<CBDownloadConnection>> downloads_;
};

class CBApplicationCommandHandler : public CBCommandHandler {
public:
    static constexpr const char* kName = "BridgeApp";
    CBApplicationCommandHandler();
};

// A native object that a script refers to by handle: a text, a number, the device or a date.
struct CBBridgedObject {
    std::string className;
    platform::Value value;
};

class CBCocoaCommandHandler : public CBCommandHandler {
public:
    static constexpr const char* kName = "BridgeCocoa";
    static constexpr const char* kHandlePrefix = "obj@";
    static constexpr const char* kDoesNotRespond = "DoesNotRespondToSelector";
    static constexpr const char* kTooManyArguments = "TooManyArguments";
    // What one page's script may hold natively: the bytes of one text, and the count and
    // total bytes of its live handles. A call past a bound is refused with the handle of
    // "DoesNotRespondToSelector".
    static constexpr std::size_t kMaxObjectBytes = 64 * 1024;
    static constexpr std::size_t kMaxBridgedObjects = 1024;
    static constexpr std::size_t kMaxBridgedBytes = 4 * 1024 * 1024;

    using Object = std::shared_ptr<CBBridgedObject>;

    CBCocoaCommandHandler();

    static std::string keyForObject(const Object& object);
    static bool isObjectHandle(std::string_view text);

    // Object handles; a null object is stored too (a method that answered nothing).
    std::string addBridgedObject(const Object& object);
    std::optional<Object> bridgedObjectForKey(const std::string& key) const;
    void retainBridgedObjectForKey(const std::string& key);
    void releaseBridgedObjectForKey(const std::string& key);
    void removeBridgedObject(const Object& object);
    void removeAllBridgedObjects() {
        bridgedObjects_.clear();
        bridgedBytes_ = 0;
    }
    std::size_t bridgedObjectCount() const { return bridgedObjects_.size(); }
    std::size_t bridgedBytes() const { return bridgedBytes_; }
    std::optional<unsigned> retainCountForKey(const std::string& key) const;

    // A command argument as an object: handles resolve to their object, texts and numbers
    // become text and number objects.
    Object valueObjectForObject(const platform::Value& argument) const;
    // Calls `selector` on the target (a class when `onClass`); the result, or the text
    // "DoesNotRespondToSelector" / "TooManyArguments", is stored and its handle answered.
    void performSelector(const std::string& selector, const std::string& target, bool onClass,
                         const std::vector<platform::Value>& arguments, const std::optional<std::string>& callback);
    static std::string description(const Object& object);
    static bool classRespondsToSelector(const std::string& className, const std::string& selector);
    static std::vector<std::string> instanceMethodsOfClass(const std::string& className);

private:
    struct Entry {
        Object object;
        unsigned retainCount = 0;
    };
    static std::size_t objectBytes(const Object& object);
    void eraseEntry(std::map<std::string, Entry>::iterator it);
    // The one object every refusal past a bound is stored as, so refusals never fill the table.
    Object refusal_;
    std::map<std::string, Entry> bridgedObjects_;
    std::size_t bridgedBytes_ = 0;
};

} // namespace cobalt
