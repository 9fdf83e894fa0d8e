#include "tangent/TGEventRecord.h"

#include <cmath>

#include "platform/foundation/DateFormatter.h"
#include "platform/foundation/Strings.h"
#include "platform/runloop/Clock.h"
#include "tangent/TGCategories.h"
#include "tangent/TGDelegateAdaptor.h"
#include "tangent/TGDeviceInfo.h"
#include "tangent/TGRequest.h"

namespace tangent {

namespace {

constexpr std::string_view kEventKey = "event";
constexpr std::string_view kAppKey = "app";
constexpr std::string_view kAppVersionKey = "appVer";
constexpr std::string_view kLanguageKey = "lang";
constexpr std::string_view kDeviceIdKey = "hid";
constexpr std::string_view kDateKey = "date";
constexpr std::string_view kRequestIdKey = "tgreqid";
constexpr std::string_view kPublisherKey = "pub";
constexpr std::string_view kSiteKey = "site";
constexpr std::string_view kSpotKey = "spot";
constexpr std::string_view kMessageKey = "message";
constexpr std::string_view kDurationKey = "duration";
constexpr std::string_view kUnitsKey = "units";

void setIfPresent(TGEventRecord& record, std::string_view key, const std::optional<std::string>& value) {
    if (value)
        record.setDetail(key, *value);
}

} // namespace

TGEventRecord::TGEventRecord(std::string_view type) {
    const auto& device = TGDeviceInfo::instance();
    setDetail(kEventKey, std::string(type));
    setIfPresent(*this, kAppKey, device.applicationName);
    setIfPresent(*this, kAppVersionKey, device.applicationVersion);
    setIfPresent(*this, kLanguageKey, device.language);
    setDetail(kDeviceIdKey, device.deviceId);
    setDetail(kDateKey, platform::DateFormatter(kDatePattern).string(platform::Clock::current().date()));
}

TGEventRecord::TGEventRecord(std::string_view type, TGDelegateAdaptor* adaptor) : TGEventRecord(type) {
    if (adaptor)
        updateFromDelegateAdaptor(*adaptor);
}

void TGEventRecord::updateFromDelegateAdaptor(TGDelegateAdaptor& adaptor) {
    setReportingUrl(adaptor.baseUrl());
    setIfPresent(*this, kRequestIdKey, adaptor.requestId());
    setIfPresent(*this, kPublisherKey, adaptor.publisher());
    setIfPresent(*this, kSiteKey, adaptor.site());
    setIfPresent(*this, kSpotKey, adaptor.adSpot());
}

std::string TGEventRecord::reportingUrl() const {
    if (reportingUrl_)
        return *reportingUrl_;
    return TGRequest::defaultBaseURL() + std::string(kConversionSuffix);
}

void TGEventRecord::setReportingUrl(const std::optional<std::string>& baseUrl) {
    if (baseUrl)
        reportingUrl_ = *baseUrl + std::string(kConversionSuffix);
    else
        reportingUrl_.reset();
}

void TGEventRecord::eventStartTimer() {
    if (!beginDate_)
        beginDate_ = platform::Clock::current().monotonic();
}

void TGEventRecord::eventStopTimer() {
    if (!beginDate_)
        return;
    duration_ += (platform::Clock::current().monotonic() - *beginDate_) * 1000.0;
    beginDate_.reset();
}

std::optional<std::string> TGEventRecord::durationValue() {
    eventStopTimer();
    if (duration_ > 0)
        return platform::formatString("%.0f", duration_);
    return std::nullopt;
}

std::optional<std::string> TGEventRecord::countValue() const {
    if (count_ >= 1)
        return std::to_string(count_);
    return std::nullopt;
}

void TGEventRecord::addMessage(const std::optional<std::string>& message, std::string_view key) {
    if (!message)
        return;
    std::string text = detail(kMessageKey).value_or("");
    appendValueForUrlParameter(text, key, *message);
    setDetail(kMessageKey, std::move(text));
}

std::string TGEventRecord::eventRecord() {
    std::string query;
    for (const auto& [key, value] : details_)
        appendValueForUrlParameter(query, key, value);
    if (auto value = durationValue())
        appendValueForUrlParameter(query, kDurationKey, *value);
    if (auto value = countValue())
        appendValueForUrlParameter(query, kUnitsKey, *value);
    return query;
}

std::string TGEventRecord::description() {
    std::string text = "<TGEventRecord";
    for (const auto& [key, value] : details_)
        text += " " + key + " = " + value + ";";
    text += " duration = " + durationValue().value_or("(null)") + ";";
    text += " units = " + countValue().value_or("(null)") + "; >";
    return text;
}

std::optional<std::string> TGEventRecord::detail(std::string_view key) const {
    for (const auto& [name, value] : details_)
        if (name == key)
            return value;
    return std::nullopt;
}

void TGEventRecord::setDetail(std::string_view key, std::string value) {
    for (auto& [name, stored] : details_)
        if (name == key) {
            stored = std::move(value);
            return;
        }
    details_.emplace_back(std::string(key), std::move(value));
}

} // namespace tangent
