#pragma once
// LMNNetworkUtilities: the shared user-agent text and the query-string helpers of the Lumen
// client. LMNNetworkChecker: the process-wide reachability watcher whose network type goes
// with every ad request ("wi" or "ed"); its reachability callbacks arrive on the main run
// loop; after stopNetworkChecking() none arrives. Main thread only.
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/foundation/URL.h"
#include "platform/foundation/Value.h"
#include "platform/net/Reachability.h"

namespace lumen {

// The Lumen service's host: formed from the configured services base URL.
std::string lumenServiceBaseURL();
std::string lumenServiceHostName();

class LMNNetworkUtilities {
public:
    static std::optional<std::string> userAgentString();
    // Kept when non-empty and different from the kept one.
    static void setUserAgentString(std::string_view text);
    // Pieces separated by runs of "&" and ";"; only pieces with exactly one "=" count; the key
    // is decoded and lower-cased, the value decoded.
    static std::map<std::string, std::string>
    dictionaryFromQueryString(const std::optional<std::string>& query);
    // The raw (undecoded) value of the first "key=value" part of the URL's query.
    static std::optional<std::string> parameterValueForKey(std::string_view key, const platform::URL& url);
    // Appends each pair: the key as given, then "=" and the encoded value when it is not empty.
    static platform::URL
    appendQueryParameters(const std::vector<std::pair<std::string, std::string>>& parameters,
                          const platform::URL& url);
    static platform::URL appendQueryKey(std::string_view key, const std::optional<std::string>& value,
                                        const platform::URL& url);
    // Percent-escapes everything but the unreserved characters.
    static std::string encodeURL(std::string_view text);
    static void resetForTesting();
};

class LMNNetworkChecker : public std::enable_shared_from_this<LMNNetworkChecker> {
public:
    enum NetworkType { kUnknown = 0, kNotReachable = 1, kLocalNetwork = 2, kCellular = 3 };

    static LMNNetworkChecker& sharedChecker();
    static void resetForTesting();
    ~LMNNetworkChecker();

    bool isEnabled() const { return networkRef_ != nullptr; }
    void setEnabled(bool enabled);
    void startNetworkChecking();
    void stopNetworkChecking();
    void setNetworkTypeFromFlags(platform::ReachabilityFlags flags);
    int networkType() const { return networkType_; }
    unsigned changeCount() const { return changeCount_; }
    // "wi" for a local network, "ed" for cellular, nullopt otherwise.
    std::optional<std::string> networkTypeString() const;

private:
    std::shared_ptr<platform::Reachability> networkRef_;
    int networkType_ = kUnknown;
    unsigned changeCount_ = 0;
};

} // namespace lumen
