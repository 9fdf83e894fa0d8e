#include "lumen/NetworkUtilities.h"

#include <algorithm>
#include <cctype>

#include "platform/foundation/Services.h"
#include "platform/runloop/RunLoop.h"

namespace lumen {

namespace {

constexpr platform::ReachabilityFlags kCellularFlag = 0x40000;
constexpr std::string_view kQuerySeparators = "&;";

std::optional<std::string>& sharedUserAgentString() {
    static std::optional<std::string> text;
    return text;
}

// Left alive at exit on purpose: tearing down reachability needs the run loop.
LMNNetworkChecker*& sharedCheckerSlot() {
    static LMNNetworkChecker* checker = nullptr;
    return checker;
}

} // namespace

std::string lumenServiceBaseURL() {
    return platform::servicesBaseURL();
}

std::string lumenServiceHostName() {
    auto url = platform::URL::parse(lumenServiceBaseURL());
    if (!url || !url->host())
        return {};
    return *url->host();
}

std::optional<std::string> LMNNetworkUtilities::userAgentString() {
    return sharedUserAgentString();
}

void LMNNetworkUtilities::setUserAgentString(std::string_view text) {
    if (!text.empty() && sharedUserAgentString() != text)
        sharedUserAgentString() = std::string(text);
}

void LMNNetworkUtilities::resetForTesting() {
    sharedUserAgentString().reset();
}

std::map<std::string, std::string>
LMNNetworkUtilities::dictionaryFromQueryString(const std::optional<std::string>& query) {
    std::map<std::string, std::string> out;
    if (!query)
        return out;
    std::string_view text = *query;
    std::size_t at = 0;
    while (at < text.size()) {
        at = text.find_first_not_of(kQuerySeparators, at);
        if (at == std::string_view::npos)
            break;
        auto end = text.find_first_of(kQuerySeparators, at);
        auto piece = text.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at);
        at = end == std::string_view::npos ? text.size() : end;
        auto eq = piece.find('=');
        if (eq == std::string_view::npos || piece.find('=', eq + 1) != std::string_view::npos)
            continue;
        auto key = platform::percentDecode(piece.substr(0, eq));
        auto value = platform::percentDecode(piece.substr(eq + 1));
        if (!key || !value)
            continue;
        std::transform(key->begin(), key->end(), key->begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        out[*key] = *value;
    }
    return out;
}

std::optional<std::string> LMNNetworkUtilities::parameterValueForKey(std::string_view key,
                                                                     const platform::URL& url) {
    auto query = url.query();
    if (!query)
        return std::nullopt;
    std::string_view text = *query;
    std::size_t at = 0;
    while (at <= text.size()) {
        auto end = text.find('&', at);
        auto part = text.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at);
        auto eq = part.find('=');
        if (eq != std::string_view::npos && part.substr(0, eq) == key) {
            auto rest = part.substr(eq + 1);
            return std::string(rest.substr(0, rest.find('=')));
        }
        if (end == std::string_view::npos)
            break;
        at = end + 1;
    }
    return std::nullopt;
}

platform::URL
LMNNetworkUtilities::appendQueryParameters(const std::vector<std::pair<std::string, std::string>>& parameters,
                                           const platform::URL& url) {
    std::string text = url.absoluteString();
    std::string fragment;
    if (auto hash = text.find('#'); hash != std::string::npos) {
        fragment = text.substr(hash);
        text.erase(hash);
    }
    auto query = url.query();
    std::string separator = query && !query->empty() ? "&" : (text.ends_with('?') ? "" : "?");
    for (const auto& [key, value] : parameters) {
        text += separator + encodeURL(key);
        if (!value.empty())
            text += "=" + encodeURL(value);
        separator = "&";
    }
    text += fragment;
    auto result = platform::URL::parse(text);
    return result ? *result : url;
}

platform::URL LMNNetworkUtilities::appendQueryKey(std::string_view key,
                                                  const std::optional<std::string>& value,
                                                  const platform::URL& url) {
    return appendQueryParameters({{std::string(key), value.value_or("")}}, url);
}

std::string LMNNetworkUtilities::encodeURL(std::string_view text) {
    return platform::percentEncodeQueryValue(text);
}

LMNNetworkChecker& LMNNetworkChecker::sharedChecker() {
    auto& slot = sharedCheckerSlot();
    if (!slot) {
        slot = new LMNNetworkChecker();
        slot->setEnabled(true);
    }
    return *slot;
}

void LMNNetworkChecker::resetForTesting() {
    delete sharedCheckerSlot();
    sharedCheckerSlot() = nullptr;
}

LMNNetworkChecker::~LMNNetworkChecker() {
    stopNetworkChecking();
}

void LMNNetworkChecker::setEnabled(bool enabled) {
    if (enabled == isEnabled())
        return;
    if (enabled)
        startNetworkChecking();
    else
        stopNetworkChecking();
}

void LMNNetworkChecker::startNetworkChecking() {
    networkType_ = kUnknown;
    if (networkRef_)
        return;
    auto host = lumenServiceHostName();
    if (host.empty())
        return;
    networkRef_ = platform::Reachability::createWithName(host);
    if (!networkRef_)
        return;
    // ReachabilityCallback: forwards the flags to the checker it was registered with.
    networkRef_->setCallback([this](platform::Reachability&, platform::ReachabilityFlags flags) {
        setNetworkTypeFromFlags(flags);
    });
    networkRef_->scheduleWithRunLoop(platform::RunLoop::main());
}

void LMNNetworkChecker::stopNetworkChecking() {
    if (networkRef_) {
        networkRef_->setCallback(nullptr);
        networkRef_->unscheduleFromRunLoop(platform::RunLoop::main());
        networkRef_.reset();
    }
    networkType_ = kUnknown;
}

void LMNNetworkChecker::setNetworkTypeFromFlags(platform::ReachabilityFlags flags) {
    ++changeCount_;
    if (!(flags & platform::kReachabilityFlagsReachable))
        networkType_ = kNotReachable;
    else
        networkType_ = (flags & kCellularFlag) ? kCellular : kLocalNetwork;
}

std::optional<std::string> LMNNetworkChecker::networkTypeString() const {
    if (networkType_ == kLocalNetwork)
        return "wi";
    if (networkType_ == kCellular)
        return "ed";
    return std::nullopt;
}

} // namespace lumen
