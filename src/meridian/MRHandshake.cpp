#include "meridian/MRHandshake.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "meridian/MRCommon.h"
#include "platform/foundation/DeviceHome.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/Locale.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/URL.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/runloop/Clock.h"
#include "platform/ui/AlertView.h"

namespace meridian {

namespace {

constexpr std::string_view kStateFolder = "mrsdk";
constexpr std::string_view kStateFile = "mrhandshake.archive";
constexpr std::string_view kApidDefaultsKey = "MRApid";
constexpr std::string_view kReplyRoot = "mrishake";
constexpr std::string_view kErrorPromptType = "prompt";
constexpr std::string_view kErrorLogType = "log";
constexpr std::string_view kErrorAlertTitle = "Handshake Error";
constexpr std::string_view kSDKRefreshText = "sdk";

// State-file keys.
constexpr std::string_view kResponseKey = "handshakeResponse";
constexpr std::string_view kLastHandshakeKey = "lastHandshakeMadeAt";
constexpr std::string_view kNextHandshakeKey = "nextHandshakeToOccurAt";
constexpr std::string_view kLastVideoPlayedKey = "lastVideoPlayedAt";
constexpr std::string_view kLastVideoRequestKey = "lastVideoRequestMadeAt";

// Ad-type numbers and their settings names; 1 and every other number are "MRBannerAdTop".
struct AdTypeName {
    int number;
    std::string_view name;
};
constexpr std::array<AdTypeName, 5> kAdTypeNames = {{
    {1, "MRBannerAdTop"},
    {2, "MRBannerAdBottom"},
    {3, "MRBannerAdRectangle"},
    {4, "MRFullScreenAdLaunch"},
    {5, "MRFullScreenAdTransition"},
}};

std::shared_ptr<MRHandshake>& sharedSlot() {
    static std::shared_ptr<MRHandshake> shared;
    return shared;
}

// Seconds from a reply as the float the settings keep: out-of-range values clamp to the
// float's limits rather than meet an undefined narrowing.
float secondsFrom(double value) {
    constexpr double kLargest = std::numeric_limits<float>::max();
    return static_cast<float>(std::clamp(value, -kLargest, kLargest));
}

// The reply as the state file can hold it: a property list has no null. A null member of a
// dictionary is left out (every reader takes a missing key as a null); a null inside an array
// keeps its place as an empty dictionary, which every reader takes as none (no number, no
// text, no members), so an array keeps its length: a non-empty "errors" stays non-empty.
// A key holding a NUL character cannot be written whole and would come back as another
// key: such a member is left out too.
platform::Value storableForm(const platform::Value& value) {
    if (const auto* array = value.array()) {
        platform::Array out;
        out.reserve(array->size());
        for (const auto& element : *array)
            out.push_back(element.isNull() ? platform::Value(platform::Dictionary{}) : storableForm(element));
        return platform::Value(std::move(out));
    }
    if (const auto* dictionary = value.dictionary()) {
        platform::Dictionary out;
        for (const auto& [key, member] : *dictionary)
            if (!member.isNull() && key.find('\0') == std::string::npos)
                out.emplace(key, storableForm(member));
        return platform::Value(std::move(out));
    }
    return value;
}

// Whether a reply's "errors" holds any: an array with entries (a null entry counts, as its
// stored placeholder does), or a dictionary with a member that is not null (null members are
// not stored).
bool holdsErrors(const platform::Value& errors) {
    if (const auto* dictionary = errors.dictionary())
        return std::any_of(dictionary->begin(), dictionary->end(),
                           [](const auto& member) { return !member.second.isNull(); });
    return errors.size() > 0;
}

// Shows each error of a reply's "mrishake" object; answers whether it holds any, in which case
// nothing else of the reply is applied.
bool showErrorsOf(const platform::Value& root) {
    const auto* errors = root.find("errors");
    if (!errors || !holdsErrors(*errors))
        return false;
    if (const auto* list = errors->array())
        for (const auto& error : *list) {
            const auto* message = error.find("message");
            const auto* type = error.find("type");
            MRHandshake::showError(message ? message->stringOr("") : "", type ? type->stringOr("") : "");
        }
    return true;
}

std::optional<platform::Date> dateIn(const platform::Value& state, std::string_view key) {
    const auto* v = state.find(key);
    return v ? v->date() : std::nullopt;
}

} // namespace

std::filesystem::path MRHandshake::statePath() {
    return platform::DeviceHome::library() / kStateFolder / kStateFile;
}

MRHandshake& MRHandshake::sharedHandshake() {
    auto& slot = sharedSlot();
    if (!slot) {
        slot.reset(new MRHandshake());
        slot->start();
    }
    return *slot;
}

void MRHandshake::resetForTesting() {
    auto& slot = sharedSlot();
    if (slot) {
        if (slot->connection_)
            slot->connection_->cancel();
        if (slot->nextHandshakeTimer_)
            slot->nextHandshakeTimer_->invalidate();
    }
    slot.reset();
}

std::string MRHandshake::adTypeName(int adType) {
    for (const auto& row : kAdTypeNames)
        if (row.number == adType)
            return std::string(row.name);
    return std::string(kAdTypeNames[0].name);
}

MRHandshake::~MRHandshake() {
    if (connection_)
        connection_->cancel();
    if (nextHandshakeTimer_)
        nextHandshakeTimer_->invalidate();
}

double MRHandshake::now() const {
    return platform::Clock::current().now();
}

void MRHandshake::start() {
    if (auto stored = platform::UserDefaults::standard().stringForKey(kApidDefaultsKey))
        apid_ = *stored;
    if (platform::FileManager::fileExists(statePath())) {
        loadState();
        parseResponseAndSetupNextHandshake(false);
        double due = nextHandshakeToOccurAt_ ? nextHandshakeToOccurAt_->secondsSince1970 : now();
        if (due <= now())
            requestConfiguration();
        else
            scheduleHandshake(due - now());
        return;
    }
    requestConfiguration();
}

void MRHandshake::loadState() {
    auto state = platform::readPropertyListFile(statePath());
    if (!state || !state->isDictionary())
        return;
    if (const auto* response = state->find(kResponseKey))
        handshakeResponse_ = *response;
    lastHandshakeMadeAt_ = dateIn(*state, kLastHandshakeKey);
    nextHandshakeToOccurAt_ = dateIn(*state, kNextHandshakeKey);
    lastVideoPlayedAt_ = dateIn(*state, kLastVideoPlayedKey);
    lastVideoRequestMadeAt_ = dateIn(*state, kLastVideoRequestKey);
}

void MRHandshake::saveState() const {
    platform::Dictionary state;
    if (!handshakeResponse_.isNull())
        state[std::string(kResponseKey)] = storableForm(handshakeResponse_);
    const std::array<std::pair<std::string_view, const std::optional<platform::Date>*>, 4> dates = {{
        {kLastHandshakeKey, &lastHandshakeMadeAt_},
        {kNextHandshakeKey, &nextHandshakeToOccurAt_},
        {kLastVideoPlayedKey, &lastVideoPlayedAt_},
        {kLastVideoRequestKey, &lastVideoRequestMadeAt_},
    }};
    for (const auto& [key, date] : dates)
        if (*date)
            state[std::string(key)] = **date;
    platform::Error error;
    if (!platform::DeviceHome::makeOwnFolder(statePath().parent_path()) ||
        !platform::writePropertyListFile(statePath(), platform::Value(std::move(state)), &error))
        mrLog("could not save the handshake state");
}

void MRHandshake::setLastVideoPlayedAt(platform::Date date) {
    lastVideoPlayedAt_ = date;
    saveState();
}

void MRHandshake::setLastVideoRequestMadeAt(platform::Date date) {
    lastVideoRequestMadeAt_ = date;
    saveState();
}

bool MRHandshake::isVideoAdRequestAllowed() const {
    if (!lastVideoPlayedAt_)
        return true;
    return now() - lastVideoPlayedAt_->secondsSince1970 >= adConfig().videoInterval;
}

bool MRHandshake::isDeferredTimeoutExpired() const {
    if (!lastVideoRequestMadeAt_)
        return false;
    return now() - lastVideoRequestMadeAt_->secondsSince1970 >= deferredviewtimeout_;
}

void MRHandshake::requestConfiguration() {
    const auto& facts = mrDeviceFacts();
    auto locale = platform::Locale::current();
    using platform::percentEncodeQueryValue;
    std::string path = std::string(kMRHandshakePath) + "?apid=" + percentEncodeQueryValue(apid_) +
                       "&mrisdk=" + percentEncodeQueryValue(kMRSDKVersion) +
                       "&dv=" + percentEncodeQueryValue(facts.systemVersion) +
                       "&dm=" + percentEncodeQueryValue(facts.machine) +
                       "&auid=" + percentEncodeQueryValue(facts.uniqueIdentifier) +
                       "&language=" + percentEncodeQueryValue(locale.languageCode()) +
                       "&country=" + percentEncodeQueryValue(locale.countryCode());
    auto base = platform::URL::parse(mrAdServerBaseURL());
    auto url = base ? platform::URL::parse(path, *base) : std::nullopt;
    if (!url) {
        logError("Invalid handshake address");
        return;
    }
    connect(platform::URLRequest(*url));
}

void MRHandshake::connect(const platform::URLRequest& request) {
    if (connection_)
        connection_->cancel();
    connection_.reset();
    connectionData_.clear();
    connectionStatus_ = 0;
    connection_ = platform::URLConnection::create(request, shared_from_this(), false,
                                                  platform::URLConnection::DelegateHold::Weak);
    connection_->setMaximumBodyLength(kMaximumReplyBytes);
    connection_->start();
}

void MRHandshake::connectionDidReceiveResponse(platform::URLConnection& c, const platform::URLResponse& r) {
    if (&c != connection_.get())
        return;
    connectionStatus_ = r.statusCode();
}

void MRHandshake::connectionDidReceiveData(platform::URLConnection& c, const platform::Data& data) {
    if (&c != connection_.get())
        return;
    connectionData_.insert(connectionData_.end(), data.begin(), data.end());
}

void MRHandshake::connectionDidFinishLoading(platform::URLConnection& c) {
    if (&c != connection_.get())
        return;
    connection_.reset();
    if (connectionStatus_ < 200 || connectionStatus_ > 299) {
        failed();
        return;
    }
    std::string text(connectionData_.begin(), connectionData_.end());
    connectionData_.clear();
    handshakeReplyReceived(text);
}

void MRHandshake::handshakeReplyReceived(std::string_view text) {
    auto parsed = platform::Value::fromJSON(text);
    const platform::Value* root = parsed ? parsed->find(kReplyRoot) : nullptr;
    if (!root || !root->isDictionary()) {
        // A reply that carries no settings never replaces the good one kept: the next save
        // would otherwise lose the kill switch and the per-type settings.
        logError(parsed ? "Invalid Response - No mrishake" : "Invalid Response - No handshake");
        return;
    }
    // An errored reply is shown and applies nothing; it never replaces the reply in force
    // either, or the next save would store it and the next start would lose the kill switch
    // and the per-type settings with it.
    if (showErrorsOf(*root))
        return;
    handshakeResponse_ = std::move(*parsed);
    parseResponseAndSetupNextHandshake(true);
}

void MRHandshake::connectionDidFailWithError(platform::URLConnection& c, const platform::Error&) {
    if (&c != connection_.get())
        return;
    connection_.reset();
    failed();
}

void MRHandshake::failed() {
    connectionData_.clear();
    scheduleHandshake(kHandshakeRetryDelay);
}

void MRHandshake::scheduleHandshake(double delay) {
    if (nextHandshakeTimer_)
        nextHandshakeTimer_->invalidate();
    std::weak_ptr<MRHandshake> weak = weak_from_this();
    nextHandshakeTimer_ = platform::Timer::scheduled(delay, false, [weak](platform::Timer&) {
        if (auto self = weak.lock())
            self->requestConfiguration();
    });
}

void MRHandshake::parseResponseAndSetupNextHandshake(bool setup) {
    if (handshakeResponse_.isNull()) {
        logError("Invalid Response - No handshake");
        return;
    }
    const auto* root = handshakeResponse_.find(kReplyRoot);
    if (!root || !root->isDictionary()) {
        logError("Invalid Response - No mrishake");
        return;
    }
    if (showErrorsOf(*root))
        return;
    const auto* deferred = root->find("deferredviewtimeout");
    deferredviewtimeout_ = deferred ? secondsFrom(deferred->doubleOr(0)) : 0;
    const auto* kill = root->find("kill");
    isAdCallAllowed_ = !(kill && kill->boolOr(false));
    const auto* callback = root->find("handshakecallback");
    handshakeCallbackDuration_ = callback ? secondsFrom(callback->doubleOr(0)) : 0;
    const auto* types = root->find("adtypes");
    adTypes_ = types ? *types : platform::Value();
    if (setup) {
        setupNextHandshake();
        saveState();
    }
}

void MRHandshake::setupNextHandshake() {
    double interval = std::max<double>(handshakeCallbackDuration_, kMinimumHandshakeInterval);
    lastHandshakeMadeAt_ = platform::Date{now()};
    nextHandshakeToOccurAt_ = platform::Date{now() + interval};
    scheduleHandshake(interval);
}

MRAdTypeConfiguration MRHandshake::adConfig() const {
    if (adType_ == 0)
        return MRAdTypeConfiguration{};
    return configurationForAdType(adType_);
}

MRAdTypeConfiguration MRHandshake::configurationForAdType(int adType) const {
    if (!adTypes_.isDictionary())
        return MRAdTypeConfiguration{-1, adType, -1};
    return configurationFromDictionary(adTypes_.find(adTypeName(adType)), adType);
}

MRAdTypeConfiguration MRHandshake::configurationFromDictionary(const platform::Value* entry, int adType) {
    MRAdTypeConfiguration config{-1, adType, -1};
    if (!entry || !entry->isDictionary())
        return config;
    if (const auto* refresh = entry->find("adrefresh"); refresh && refresh->stringOr("") != kSDKRefreshText) {
        auto n = refresh->number();
        if (n && *n > 0)
            config.refreshPeriod = secondsFrom(*n);
    }
    if (const auto* interval = entry->find("videointerval")) {
        auto n = interval->number();
        if (n && *n > 0)
            config.videoInterval = secondsFrom(*n);
    }
    return config;
}

void MRHandshake::logError(const std::string& message) {
    showError(message, std::string(kErrorLogType));
}

void MRHandshake::showError(const std::string& message, const std::string& type) {
    if (type == kErrorPromptType) {
        platform::AlertView::create(std::string(kErrorAlertTitle), message, {}, std::string("OK"))->show();
        return;
    }
    mrLog(message);
}

} // namespace meridian
