#pragma once
// TGEventRecord: what one kind of event did to one ad (requested, shown, interacted with,
// clicked, click failed, dismissed), reported to the ad network as one GET on its report
// endpoint ("conversion"). A record carries the report's detail pairs, a timer whose runs add
// up to a duration in milliseconds, and a count; eventRecord() writes them as the report's
// query. TGAdEventCollection keeps one record per kind for an ad.
//
// Plain object, main thread only. The timer measures intervals on the monotonic clock.
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tangent {

class TGDelegateAdaptor;

inline constexpr std::string_view TGEventTypeRequest = "request";
inline constexpr std::string_view TGEventTypeImpression = "impression";
inline constexpr std::string_view TGEventTypeDismiss = "dismiss";
inline constexpr std::string_view TGEventTypeInteract = "interact";
inline constexpr std::string_view TGEventTypeClick = "click";
inline constexpr std::string_view TGEventTypeSubClick = "subclick";
inline constexpr std::string_view TGEventTypeFailedClick = "failedclick";

class TGEventRecord {
public:
    // The report endpoint's last path component.
    static constexpr std::string_view kConversionSuffix = "/conversion";
    // The creation time's pattern: calendar year, month, day, hours, minutes, seconds.
    static constexpr std::string_view kDatePattern = "yyyyMMddHHmmss";

    // A record of `type` with the creation details; with an adaptor, then updated from it.
    explicit TGEventRecord(std::string_view type);
    TGEventRecord(std::string_view type, TGDelegateAdaptor* adaptor);

    // The endpoint from the adaptor's base URL, then "tgreqid", "pub", "site" and "spot"
    // from the adaptor, each only when it has a value.
    void updateFromDelegateAdaptor(TGDelegateAdaptor& adaptor);

    // The endpoint: the stored one, else the network's default base followed by "/conversion".
    std::string reportingUrl() const;
    // nullopt clears the stored endpoint; a base URL gets "/conversion" appended.
    void setReportingUrl(const std::optional<std::string>& baseUrl);

    // Starts the timer unless it runs already (a running timer keeps its first start).
    void eventStartTimer();
    // Adds the time since the start to the duration and stops the timer.
    void eventStopTimer();
    bool timerRunning() const { return beginDate_.has_value(); }
    double duration() const { return duration_; }
    int count() const { return count_; }
    void setCount(int count) { count_ = count; }

    // The duration in whole milliseconds (a running timer is stopped first); nullopt for 0.
    std::optional<std::string> durationValue();
    // The count as text; nullopt below 1.
    std::optional<std::string> countValue() const;
    // Appends key "=" escaped message "&" to the detail "message"; nothing for no message.
    void addMessage(const std::optional<std::string>& message, std::string_view key);

    // The report's query: every detail pair, then "duration" and "units", each as key "="
    // escaped value "&"; pairs without a value are left out.
    std::string eventRecord();
    std::string description();

    // Detail pairs in the order they were first set.
    const std::vector<std::pair<std::string, std::string>>& details() const { return details_; }
    std::optional<std::string> detail(std::string_view key) const;
    void setDetail(std::string_view key, std::string value);

private:
    std::optional<std::string> reportingUrl_;
    std::vector<std::pair<std::string, std::string>> details_;
    std::optional<double> beginDate_; // monotonic seconds of the running timer's start
    double duration_ = 0;             // milliseconds
    int count_ = 0;
};

} // namespace tangent
