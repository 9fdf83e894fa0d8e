#include "cobalt/CBLibraryHandlers.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>

#include "cobalt/CBAsyncCommand.h"
#include "cobalt/CBCodecs.h"
#include "cobalt/CBController.h"
#include "cobalt/CBDatabase.h"
#include "cobalt/CBJavascriptBridge.h"
#include "cobalt/CBPaths.h"
#include "cobalt/CBReachability.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/DeviceHome.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Numbers.h"
#include "platform/foundation/URL.h"
#include "platform/runloop/Clock.h"
#include "platform/ui/Device.h"

namespace cobalt {
namespace {

namespace fs = std::filesystem;

constexpr const char* kNullDescription = "(null)";

// The BridgeLib page object. Every argument it quotes into a command is escaped; the mode of
// setExecMode goes as a number.
constexpr const char* kStandardScript = R"(var BridgeLib=function(){var self={};function q(v){return "\""+cbEscapeArgument(v)+"\"";}
self.getLocalFileBaseURL=function(){return "%@";};
self.log=function(t){sendCommand("log:"+q(t)+";");};
self.sqlExecute=function(s){sendCommand("sqlExecute:"+q(s)+";");};
self.sqlExecuteWithCallback=function(s,cb){sendCommand("sqlExecute:"+q(s)+" callback:"+q(cb)+";");};
self.setSettingBase64String=function(i,b){sendCommand("setSetting:"+q(i)+" base64Data:"+q(b)+";");};
self.setSettingString=function(i,s){sendCommand("setSetting:"+q(i)+" string:"+q(s)+";");};
self.setSettingNumber=function(i,n){sendCommand("setSetting:"+q(i)+" number:"+q(n)+";");};
self.getSettingWithCallback=function(i,cb){sendCommand("getSetting:"+q(i)+" callback:"+q(cb)+";");};
self.setControllerProperty=function(n,v){sendCommand("setControllerProperty:"+q(n)+" value:"+q(v)+";");};
self.getControllerPropertyWithCallback=function(n,cb){sendCommand("getControllerProperty:"+q(n)+" callback:"+q(cb)+";");};
self.getNetworkReachabilityWithCallback=function(u,cb){sendCommand("getNetworkReachabilityForURL:"+q(u)+" callback:"+q(cb)+";");};
self.getExecModeWithCallback=function(cb){sendCommand("getExecModeWithCallback:"+q(cb)+";");};
self.setExecMode=function(m){sendCommand("setExecMode:"+Number(m)+";");};
self.writeFileWithContentsOfURLWithCallback=function(p,u,cb){sendCommand("writeFile:"+q(p)+" withContentsOfURL:"+q(u)+" callback:"+q(cb)+";");};
self.unzipContentsOfURLToFolderWithCallback=function(u,f,cb){sendCommand("unzipContentsOfURL:"+q(u)+" toFolder:"+q(f)+" callback:"+q(cb)+";");};
self.fileWriteString=function(p,s){sendCommand("fileWrite:"+q(p)+" string:"+q(s)+";");};
self.fileWriteBase64String=function(p,b){sendCommand("fileWrite:"+q(p)+" base64String:"+q(b)+";");};
self.unzipFileToFolderWithCallback=function(z,f,cb){sendCommand("unzipFile:"+q(z)+" toFolder:"+q(f)+" callback:"+q(cb)+";");};
self.loadStringFromFileWithCallback=function(p,cb){sendCommand("loadStringFromFile:"+q(p)+" callback:"+q(cb)+";");};
self.loadBase64StringFromFileWithCallback=function(p,cb){sendCommand("loadBase64StringFromFile:"+q(p)+" callback:"+q(cb)+";");};
self.deleteFile=function(p){sendCommand("deleteFile:"+q(p)+";");};
self.getLogContentsWithCallback=function(cb){sendCommand("getLogContentsWithCallback:"+q(cb)+";");};
self.resetLogContents=function(){sendCommand("resetLogContents;");};
self.callback=function(t){sendCommand("callback:"+q(t)+";");};
return self;}();)";

std::shared_ptr<CBController> controller() { return CBController::existing(); }

std::shared_ptr<CBDatabase> database() {
    auto c = controller();
    return c ? c->database() : nullptr;
}

void sendIO(std::shared_ptr<CBAsyncCommand> command) {
    auto c = controller();
    if (c && c->ioRequestManager())
        c->ioRequestManager()->sendAsyncCommand(std::move(command));
    else
        command->execute();
}

// A write that replaces a file: the transient zip file is always made afresh (see
// CBIOWriteRequest::requestWithNewFilePath).
std::shared_ptr<CBIOWriteRequest> writeRequest(const fs::path& path, platform::Data bytes,
                                               std::shared_ptr<CBCallbackContext> context = nullptr) {
    if (path == CBPaths::transientZipPath())
        return CBIOWriteRequest::requestWithNewFilePath(path.string(), std::move(bytes), std::move(context));
    return CBIOWriteRequest::requestWithPath(path.string(), std::move(bytes), false, std::move(context));
}

std::optional<fs::path> confined(const std::string& relative) {
    auto path = CBPaths::confinedScriptPath(relative);
    if (!path)
        platform::logLine("BridgeLib: refused path outside the ads' content: " + relative);
    return path;
}

std::optional<fs::path> confinedFolder(const std::string& relative) {
    auto path = CBPaths::confinedScriptFolder(relative);
    if (!path)
        platform::logLine("BridgeLib: refused folder outside the ads' content: " + relative);
    return path;
}

std::string valueDescription(const platform::Value& value) {
    using Type = platform::Value::Type;
    switch (value.type()) {
    case Type::Null: return kNullDescription;
    case Type::String: return *value.string();
    case Type::Data: return CBBase64::base64StringWithData(*value.data());
    case Type::Array:
    case Type::Dictionary: return CBJSON::stringWithObject(value);
    default: {
        CBJSON writer;
        writer.addNumber(value);
        return writer.string();
    }
    }
}

// ---- The allow-list of calls by name ----

using Object = CBCocoaCommandHandler::Object;
using ObjectMethod = std::function<Object(const Object& self, const std::vector<Object>& arguments)>;

Object makeObject(std::string className, platform::Value value) {
    return std::make_shared<CBBridgedObject>(CBBridgedObject{std::move(className), std::move(value)});
}

Object textObject(std::string text) { return makeObject("NSString", platform::Value(std::move(text))); }

std::string objectText(const Object& object) {
    return object && object->value.string() ? *object->value.string() : std::string();
}

struct ClassEntry {
    std::vector<std::pair<std::string, ObjectMethod>> classMethods;
    std::vector<std::pair<std::string, ObjectMethod>> instanceMethods;
};

const std::map<std::string, ClassEntry>& classTable() {
    static const std::map<std::string, ClassEntry> table = [] {
        std::map<std::string, ClassEntry> t;
        t["NSString"] = ClassEntry{
            {{"stringWithString:", [](const Object&, const std::vector<Object>& a) {
                  return a[0] && a[0]->value.string() ? textObject(*a[0]->value.string()) : nullptr;
              }}},
            {{"length",
              [](const Object& self, const std::vector<Object>&) {
                  return makeObject("NSNumber", platform::Value(static_cast<long long>(objectText(self).size())));
              }},
             {"uppercaseString",
              [](const Object& self, const std::vector<Object>&) {
                  std::string s = objectText(self);
                  for (auto& c : s)
                      c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
                  return textObject(s);
              }},
             {"lowercaseString",
              [](const Object& self, const std::vector<Object>&) {
                  std::string s = objectText(self);
                  for (auto& c : s)
                      c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
                  return textObject(s);
              }},
             {"stringByAppendingString:", [](const Object& self, const std::vector<Object>& a) {
                  return textObject(objectText(self) + objectText(a[0]));
              }}}};
        t["UIDevice"] = ClassEntry{
            {{"currentDevice", [](const Object&, const std::vector<Object>&) { return makeObject("UIDevice", {}); }}},
            {{"model", [](const Object&, const std::vector<Object>&) { return textObject(platform::Device::current().model()); }},
             {"name", [](const Object&, const std::vector<Object>&) { return textObject(platform::Device::current().name()); }},
             {"systemName",
              [](const Object&, const std::vector<Object>&) { return textObject(platform::Device::current().systemName()); }},
             {"systemVersion", [](const Object&, const std::vector<Object>&) {
                  return textObject(platform::Device::current().systemVersion());
              }}}};
        t["NSDate"] = ClassEntry{
            {{"date",
              [](const Object&, const std::vector<Object>&) {
                  return makeObject("NSDate", platform::Value(platform::Clock::current().now()));
              }}},
            {{"timeIntervalSince1970", [](const Object& self, const std::vector<Object>&) {
                  return makeObject("NSNumber", self ? self->value : platform::Value());
              }}}};
        return t;
    }();
    return table;
}

const ObjectMethod* findMethod(const std::vector<std::pair<std::string, ObjectMethod>>& methods, const std::string& selector) {
    for (const auto& [name, method] : methods)
        if (name == selector)
            return &method;
    return nullptr;
}

std::size_t argumentCount(const std::string& selector) {
    std::size_t n = 0;
    for (char c : selector)
        n += c == ':';
    return n;
}

} // namespace

// ---- BridgeLib ----

CBStandardCommandHandler::CBStandardCommandHandler() : CBCommandHandler(kName) {
    addMethod("log:", [](const Arguments&) {});
    addMethod("sqlExecute:", [](const Arguments& a) {
        if (auto db = database())
            db->sendQuery(text(a[0]), {}, nullptr, true);
    });
    addMethod("sqlExecute:callback:", [this](const Arguments& a) {
        auto db = database();
        if (!db)
            return;
        std::weak_ptr<CBCommandHandler> weak = weak_from_this();
        const std::string callback = text(a[1]);
        db->sendQuery(text(a[0]), {},
                      CBCallbackContext::contextWithCallbackInvocation(
                          [weak, callback](const platform::Value& rows) {
                              if (auto self = std::static_pointer_cast<CBStandardCommandHandler>(weak.lock()))
                                  self->answerText(callback, CBJSON::stringWithObject(rows));
                          },
                          true),
                      true);
    });
    auto setSetting = [this](const Arguments& a, int kind, std::optional<std::string> callback) {
        auto db = database();
        if (!db)
            return;
        std::shared_ptr<CBCallbackContext> context;
        if (callback) {
            std::weak_ptr<CBCommandHandler> weak = weak_from_this();
            context = CBCallbackContext::contextWithCallbackInvocation(
                [weak, cb = *callback](const platform::Value&) {
                    if (auto self = std::static_pointer_cast<CBStandardCommandHandler>(weak.lock()))
                        self->answerPlain(cb);
                },
                false);
        }
        const std::string id = text(a[0]);
        if (kind == 0)
            db->setRecordData(id, kSettingsTableName, CBBase64::dataWithBase64String(text(a[1])), std::move(context));
        else if (kind == 1)
            db->setRecordString(id, kSettingsTableName, text(a[1]), std::move(context));
        else
            db->setRecordNumber(id, kSettingsTableName, std::strtoll(text(a[1]).c_str(), nullptr, 10),
                                std::move(context));
    };
    addMethod("setSetting:base64Data:", [setSetting](const Arguments& a) { setSetting(a, 0, std::nullopt); });
    addMethod("setSetting:string:", [setSetting](const Arguments& a) { setSetting(a, 1, std::nullopt); });
    addMethod("setSetting:number:", [setSetting](const Arguments& a) { setSetting(a, 2, std::nullopt); });
    addMethod("setSetting:base64Data:callback:", [setSetting](const Arguments& a) { setSetting(a, 0, text(a[2])); });
    addMethod("setSetting:string:callback:", [setSetting](const Arguments& a) { setSetting(a, 1, text(a[2])); });
    addMethod("setSetting:number:callback:", [setSetting](const Arguments& a) { setSetting(a, 2, text(a[2])); });
    addMethod("getSetting:callback:", [this](const Arguments& a) {
        auto db = database();
        if (!db)
            return;
        std::weak_ptr<CBCommandHandler> weak = weak_from_this();
        const std::string callback = text(a[1]);
        db->sendQuery("SELECT data FROM settings WHERE id=?", {text(a[0])},
                      CBCallbackContext::contextWithCallbackInvocation(
                          [weak, callback](const platform::Value& rows) {
                              auto self = std::static_pointer_cast<CBStandardCommandHandler>(weak.lock());
                              const platform::Value* first = rows.at(0) ? rows.at(0)->at(0) : nullptr;
                              if (!self || !first)
                                  return;
                              if (first->type() == platform::Value::Type::Integer)
                                  self->answerInteger(callback, first->intOr(0));
                              else if (first->type() == platform::Value::Type::Real)
                                  self->answerInteger(
                                      callback, platform::saturatingCast<std::int64_t>(first->doubleOr(0)));
                              else
                                  self->answerText(callback, valueDescription(*first));
                          },
                          true));
    });
    addMethod("setControllerProperty:value:", [](const Arguments& a) {
        if (auto c = controller())
            c->setValueForKey(text(a[0]), a[1]);
    });
    addMethod("getControllerProperty:callback:", [this](const Arguments& a) {
        auto c = controller();
        if (!c)
            return;
        auto value = c->valueForKey(text(a[0]));
        if (!value)
            return;
        answerText(text(a[1]), valueDescription(*value));
    });
    addMethod("getNetworkReachabilityForURL:callback:", [this](const Arguments& a) {
        auto& reachability = CBReachability::sharedReachability();
        if (auto url = platform::URL::parse(text(a[0])))
            if (auto host = url->host(); host && !host->empty())
                reachability.setHostName(*host);
        answerInteger(text(a[1]), reachability.internetConnectionStatus());
    });
    addMethod("getExecModeWithCallback:", [this](const Arguments& a) {
        if (auto b = bridge())
            answerInteger(text(a[0]), b->execMode());
    });
    addMethod("setExecMode:", [this](const Arguments& a) {
        // The mode arrives as any number the script wrote; it is clamped, never cast raw.
        const double mode = a[0].string() ? std::strtod(a[0].string()->c_str(), nullptr) : a[0].doubleOr(0);
        if (auto b = bridge())
            b->setExecMode(platform::saturatingCast<int>(mode));
    });
    addMethod("writeFile:withContentsOfURL:callback:", [this](const Arguments& a) {
        auto path = confined(text(a[0]));
        if (!path) {
            answerInteger(text(a[2]), 0);
            return;
        }
        platform::Dictionary user;
        user["path"] = platform::Value(path->string());
        user["callback"] = platform::Value(text(a[2]));
        startDownload(text(a[1]), std::move(user), text(a[2]));
    });
    addMethod("unzipContentsOfURL:toFolder:callback:", [this](const Arguments& a) {
        auto folder = confinedFolder(text(a[1]));
        if (!folder) {
            answerInteger(text(a[2]), 0);
            return;
        }
        platform::Dictionary user;
        user["path"] = platform::Value(CBPaths::transientZipPath().string());
        user["callback"] = platform::Value(text(a[2]));
        user["unzipTo"] = platform::Value(folder->string());
        startDownload(text(a[0]), std::move(user), text(a[2]));
    });
    auto fileWrite = [](const std::string& relative, platform::Data bytes) {
        auto path = confined(relative);
        if (!path)
            return;
        platform::DeviceHome::makeOwnFolder(path->parent_path());
        sendIO(writeRequest(*path, std::move(bytes)));
    };
    addMethod("fileWrite:string:", [fileWrite](const Arguments& a) {
        const std::string s = text(a[1]);
        fileWrite(text(a[0]), platform::Data(s.begin(), s.end()));
    });
    addMethod("fileWrite:base64String:", [fileWrite](const Arguments& a) {
        fileWrite(text(a[0]), CBBase64::dataWithBase64String(text(a[1])));
    });
    addMethod("unzipFile:toFolder:callback:", [this](const Arguments& a) {
        auto zip = confined(text(a[0]));
        auto folder = confinedFolder(text(a[1]));
        const std::string callback = text(a[2]);
        if (!zip || !folder) {
            answerInteger(callback, 0);
            return;
        }
        std::weak_ptr<CBCommandHandler> weak = weak_from_this();
        sendIO(CBIOUnzipRequest::requestWithSourceZipFilePath(
            zip->string(), folder->string(),
            CBCallbackContext::contextWithCallbackInvocation(
                [weak, callback](const platform::Value& ok) {
                    if (auto self = std::static_pointer_cast<CBStandardCommandHandler>(weak.lock()))
                        self->answerInteger(callback, ok.boolOr(false) ? 1 : 0);
                },
                true)));
    });
    auto load = [this](const Arguments& a, bool base64) {
        const std::string callback = text(a[1]);
        auto path = confined(text(a[0]));
        if (!path) {
            answerText(callback, kNullDescription);
            return;
        }
        std::weak_ptr<CBCommandHandler> weak = weak_from_this();
        sendIO(CBIOReadRequest::requestWithPathToRead(
            path->string(),
            CBCallbackContext::contextWithCallbackInvocation(
                [weak, callback, base64](const platform::Value& data) {
                    auto self = std::static_pointer_cast<CBStandardCommandHandler>(weak.lock());
                    if (!self)
                        return;
                    if (!data.data())
                        self->answerText(callback, kNullDescription);
                    else if (base64)
                        self->answerText(callback, CBBase64::base64StringWithData(*data.data()));
                    else
                        self->answerText(callback, std::string(data.data()->begin(), data.data()->end()));
                },
                true),
            true));
    };
    addMethod("loadStringFromFile:callback:", [load](const Arguments& a) { load(a, false); });
    addMethod("loadBase64StringFromFile:callback:", [load](const Arguments& a) { load(a, true); });
    addMethod("deleteFile:", [](const Arguments& a) {
        if (auto path = confined(text(a[0])))
            sendIO(CBIODeleteRequest::requestWithPathToDelete(path->string()));
    });
    addMethod("callback:", [this](const Arguments& a) { send(text(a[0])); });
}

std::string CBStandardCommandHandler::bridgeScript() const {
    static const std::string script = [] {
        std::string s = kStandardScript;
        const auto at = s.find("%@");
        return s.replace(at, 2, scriptStringContent(CBPaths::localFileBaseURL()));
    }();
    return script;
}

void CBStandardCommandHandler::startDownload(const std::string& url, platform::Dictionary userData,
                                             const std::string& callback) {
    auto parsed = platform::URL::parse(url);
    if (!parsed || (parsed->scheme() != "http" && parsed->scheme() != "https")) {
        platform::logLine("BridgeLib: refused download of " + url);
        answerInteger(callback, 0);
        return;
    }
    auto self = std::static_pointer_cast<CBStandardCommandHandler>(shared_from_this());
    downloads_.push_back(CBDownloadConnection::timedConnectionWithURLRequest(
        platform::URLRequest(*parsed), std::weak_ptr<CBDownloadConnectionDelegate>(self),
        platform::Value(std::move(userData)), kDownloadTimeout));
}

void CBStandardCommandHandler::finishDownload(CBDownloadConnection& download) {
    std::erase_if(downloads_, [&](const auto& d) { return d.get() == &download; });
}

void CBStandardCommandHandler::downloadSucceeded(CBDownloadConnection& download) {
    auto keep = download.shared_from_this();
    const auto& user = download.userData();
    const std::string path = user.find("path") ? user.find("path")->stringOr("") : "";
    const std::string callback = user.find("callback") ? user.find("callback")->stringOr("") : "";
    const auto* unzipTo = user.find("unzipTo");
    platform::DeviceHome::makeOwnFolder(fs::path(path).parent_path());
    std::weak_ptr<CBCommandHandler> weak = weak_from_this();
    auto answer = CBCallbackContext::contextWithCallbackInvocation(
        [weak, callback](const platform::Value& ok) {
            if (auto self = std::static_pointer_cast<CBStandardCommandHandler>(weak.lock()))
                self->answerInteger(callback, ok.boolOr(false) ? 1 : 0);
        },
        true);
    if (!unzipTo) {
        sendIO(writeRequest(path, download.receivedData(), std::move(answer)));
    } else {
        // Both go to the IO thread in this order, so the write comes before the unpacking. The
        // transient file lies in the engine's own folder outside Documents; it is made afresh,
        // never through a link, and the unpacking removes it.
        sendIO(CBIOWriteRequest::requestWithNewFilePath(path, download.receivedData()));
        platform::DeviceHome::makeOwnFolder(unzipTo->stringOr(""));
        sendIO(CBIOUnzipRequest::requestWithSourceZipFilePath(path, unzipTo->stringOr(""), std::move(answer)));
    }
    finishDownload(download);
}

void CBStandardCommandHandler::downloadFailed(CBDownloadConnection& download) {
    auto keep = download.shared_from_this();
    const auto* callback = download.userData().find("callback");
    answerInteger(callback ? callback->stringOr("") : "", 0);
    finishDownload(download);
}

void CBStandardCommandHandler::downloadTimedOut(CBDownloadConnection& download) { downloadFailed(download); }

// ---- BridgeApp ----

CBApplicationCommandHandler::CBApplicationCommandHandler() : CBCommandHandler(kName) {
    addMethod("bridge_infoDictionaryValueForKey:withCallback:", [this](const Arguments& a) {
        auto value = platform::Bundle::main().objectForInfoDictionaryKey(text(a[0]));
        answerText(text(a[1]), value ? valueDescription(*value) : kNullDescription);
    });
}

// ---- BridgeCocoa ----

CBCocoaCommandHandler::CBCocoaCommandHandler() : CBCommandHandler(kName) {
    addMethod("bridge_class:doesRespondToSelectorNamed:withCallback:", [this](const Arguments& a) {
        answerInteger(text(a[2]), classRespondsToSelector(text(a[0]), text(a[1])) ? 1 : 0);
    });
    addMethod("bridge_object:doesRespondToSelectorNamed:withCallback:", [this](const Arguments& a) {
        auto object = bridgedObjectForKey(text(a[0]));
        bool responds = false;
        if (object && *object) {
            const auto& table = classTable();
            auto it = table.find((*object)->className);
            responds = it != table.end() && findMethod(it->second.instanceMethods, text(a[1]));
        }
        answerInteger(text(a[2]), responds ? 1 : 0);
    });
    addMethod("bridge_performSelector:onClass:withObject:withObject:withCallback:", [this](const Arguments& a) {
        performSelector(text(a[0]), text(a[1]), true, {a[2], a[3]}, text(a[4]));
    });
    addMethod("bridge_performSelector:onClass:withObject:withCallback:", [this](const Arguments& a) {
        performSelector(text(a[0]), text(a[1]), true, {a[2]}, text(a[3]));
    });
    addMethod("bridge_performSelector:onClass:withCallback:", [this](const Arguments& a) {
        performSelector(text(a[0]), text(a[1]), true, {}, text(a[2]));
    });
    addMethod("bridge_performSelector:onObject:withObject:withObject:withCallback:", [this](const Arguments& a) {
        performSelector(text(a[0]), text(a[1]), false, {a[2], a[3]}, text(a[4]));
    });
    addMethod("bridge_performSelector:onObject:withObject:withCallback:", [this](const Arguments& a) {
        performSelector(text(a[0]), text(a[1]), false, {a[2]}, text(a[3]));
    });
    addMethod("bridge_performSelector:onObject:withCallback:", [this](const Arguments& a) {
        performSelector(text(a[0]), text(a[1]), false, {}, text(a[2]));
    });
    addMethod("bridge_releaseObject:", [this](const Arguments& a) { releaseBridgedObjectForKey(text(a[0])); });
    addMethod("bridge_retainObject:", [this](const Arguments& a) { retainBridgedObjectForKey(text(a[0])); });
    addMethod("bridge_valueForObject:withCallback:", [this](const Arguments& a) {
        auto object = bridgedObjectForKey(text(a[0]));
        answerRawText(text(a[1]), object ? description(*object) : kNullDescription);
    });
    addMethod("bridge_selectorsForClass:withCallback:", [this](const Arguments& a) {
        platform::Array names;
        for (const auto& name : instanceMethodsOfClass(text(a[0])))
            names.emplace_back(name);
        const bool known = classTable().count(text(a[0])) > 0;
        answerRawText(text(a[1]), known ? CBJSON::stringWithObject(platform::Value(std::move(names))) : "null");
    });
    addMethod("removeAllBridgedObjects", [this](const Arguments&) { removeAllBridgedObjects(); });
}

std::string CBCocoaCommandHandler::keyForObject(const Object& object) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%s0x%llx", kHandlePrefix,
                  static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(object.get())));
    return buffer;
}

bool CBCocoaCommandHandler::isObjectHandle(std::string_view text) { return text.rfind(kHandlePrefix, 0) == 0; }

std::size_t CBCocoaCommandHandler::objectBytes(const Object& object) {
    return object && object->value.string() ? object->value.string()->size() : 0;
}

void CBCocoaCommandHandler::eraseEntry(std::map<std::string, Entry>::iterator it) {
    bridgedBytes_ -= std::min(bridgedBytes_, objectBytes(it->second.object));
    bridgedObjects_.erase(it);
}

std::string CBCocoaCommandHandler::addBridgedObject(const Object& object) {
    const std::string key = keyForObject(object);
    if (auto it = bridgedObjects_.find(key); it != bridgedObjects_.end())
        eraseEntry(it);
    const std::size_t bytes = objectBytes(object);
    if (bridgedObjects_.size() >= kMaxBridgedObjects || bytes > kMaxObjectBytes ||
        bridgedBytes_ + bytes > kMaxBridgedBytes) {
        platform::logLine("BridgeCocoa: refused object past the script's bound");
        if (!refusal_)
            refusal_ = textObject(kDoesNotRespond);
        const std::string refusedKey = keyForObject(refusal_);
        bridgedObjects_[refusedKey] = Entry{refusal_, 1};
        return refusedKey;
    }
    bridgedObjects_[key] = Entry{object, 1};
    bridgedBytes_ += bytes;
    return key;
}

std::optional<CBCocoaCommandHandler::Object> CBCocoaCommandHandler::bridgedObjectForKey(const std::string& key) const {
    auto it = bridgedObjects_.find(key);
    if (it == bridgedObjects_.end())
        return std::nullopt;
    return it->second.object;
}

std::optional<unsigned> CBCocoaCommandHandler::retainCountForKey(const std::string& key) const {
    auto it = bridgedObjects_.find(key);
    if (it == bridgedObjects_.end())
        return std::nullopt;
    return it->second.retainCount;
}

void CBCocoaCommandHandler::retainBridgedObjectForKey(const std::string& key) {
    if (auto it = bridgedObjects_.find(key); it != bridgedObjects_.end())
        ++it->second.retainCount;
}

void CBCocoaCommandHandler::releaseBridgedObjectForKey(const std::string& key) {
    auto it = bridgedObjects_.find(key);
    if (it == bridgedObjects_.end())
        return;
    if (it->second.retainCount <= 1)
        eraseEntry(it);
    else
        --it->second.retainCount;
}

void CBCocoaCommandHandler::removeBridgedObject(const Object& object) {
    if (auto it = bridgedObjects_.find(keyForObject(object)); it != bridgedObjects_.end())
        eraseEntry(it);
}

CBCocoaCommandHandler::Object CBCocoaCommandHandler::valueObjectForObject(const platform::Value& argument) const {
    if (const auto* s = argument.string()) {
        if (isObjectHandle(*s)) {
            auto object = bridgedObjectForKey(*s);
            return object ? *object : nullptr;
        }
        return textObject(*s);
    }
    return makeObject("NSNumber", argument);
}

bool CBCocoaCommandHandler::classRespondsToSelector(const std::string& className, const std::string& selector) {
    const auto& table = classTable();
    auto it = table.find(className);
    return it != table.end() && findMethod(it->second.classMethods, selector);
}

std::vector<std::string> CBCocoaCommandHandler::instanceMethodsOfClass(const std::string& className) {
    std::vector<std::string> names;
    const auto& table = classTable();
    if (auto it = table.find(className); it != table.end())
        for (const auto& [name, method] : it->second.instanceMethods)
            names.push_back(name);
    return names;
}

std::string CBCocoaCommandHandler::description(const Object& object) {
    if (!object)
        return kNullDescription;
    if (object->className == "UIDevice")
        return "<UIDevice>";
    return valueDescription(object->value);
}

void CBCocoaCommandHandler::performSelector(const std::string& selector, const std::string& target, bool onClass,
                                            const std::vector<platform::Value>& arguments,
                                            const std::optional<std::string>& callback) {
    Object result;
    const ObjectMethod* method = nullptr;
    Object self;
    const auto& table = classTable();
    if (onClass) {
        if (auto it = table.find(target); it != table.end())
            method = findMethod(it->second.classMethods, selector);
    } else if (auto object = bridgedObjectForKey(target); object && *object) {
        self = *object;
        if (auto it = table.find(self->className); it != table.end())
            method = findMethod(it->second.instanceMethods, selector);
    }
    if (!method) {
        result = textObject(kDoesNotRespond);
    } else if (arguments.size() > 2) {
        result = textObject(kTooManyArguments);
    } else if (argumentCount(selector) != arguments.size()) {
        result = textObject(kDoesNotRespond);
    } else {
        std::vector<Object> objects;
        for (const auto& argument : arguments)
            objects.push_back(valueObjectForObject(argument));
        // A text result is at most the sum of its inputs; inputs within the bound keep any
        // result within twice of it, and a result past the bound is refused below.
        const bool oversized = objectBytes(self) > kMaxObjectBytes ||
                               std::any_of(objects.begin(), objects.end(),
                                           [](const Object& o) { return objectBytes(o) > kMaxObjectBytes; });
        result = oversized ? textObject(kDoesNotRespond) : (*method)(self, objects);
    }
    if (!callback)
        return;
    answerText(*callback, addBridgedObject(result));
}

} // namespace cobalt
