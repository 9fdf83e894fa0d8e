#include "tangent/TGEventManager.h"

#include "platform/foundation/URL.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/net/URLConnection.h"
#include "platform/ui/Application.h"
#include "tangent/TGDeviceInfo.h"
#include "tangent/TGEventRecord.h"
#include "tangent/TGLog.h"

namespace tangent {

namespace {

constexpr std::string_view kUserAgentHeader = "User-Agent";

std::unique_ptr<TGEventManager>& sharedManager() {
    static std::unique_ptr<TGEventManager> manager;
    return manager;
}

} // namespace

// ---- TGRecordEventsOperation ----

std::shared_ptr<TGRecordEventsOperation> TGRecordEventsOperation::operationWithReportUrl(std::string reportingUrl) {
    return std::shared_ptr<TGRecordEventsOperation>(
        new TGRecordEventsOperation(std::move(reportingUrl), TGDeviceInfo::instance().userAgent));
}

std::optional<std::string> TGRecordEventsOperation::takeReportingUrl() {
    std::lock_guard lock(lock_);
    auto url = std::move(reportingUrl_);
    reportingUrl_.reset();
    return url;
}

std::optional<std::string> TGRecordEventsOperation::reportingUrl() const {
    std::lock_guard lock(lock_);
    return reportingUrl_;
}

void TGRecordEventsOperation::main() {
    auto url = takeReportingUrl();
    if (!url)
        return;
    TGLog::log("Reporting URL: " + *url);
    auto parsed = platform::URL::parse(*url);
    if (!parsed) {
        TGLog::log("Reporting URL is not a URL: " + *url);
        return;
    }
    platform::URLRequest request(*parsed, platform::URLRequestCachePolicy::ReloadIgnoringLocalCacheData,
                                 kTimeoutInterval);
    request.setValue(userAgent_, kUserAgentHeader);
    // The reply and any failure are of no interest: a lost report is not retried.
    (void)platform::URLConnection::sendSynchronousRequest(request);
}

void TGRecordEventsOperation::cancel() {
    auto url = takeReportingUrl();
    if (url && TGEventManager::hasInstance())
        TGEventManager::instance().storeEventReport(*url);
}

// ---- TGEventManager ----

TGEventManager& TGEventManager::instance() {
    auto& manager = sharedManager();
    if (!manager) {
        manager.reset(new TGEventManager());
        // Stored reports are sent only once the shared object exists, so that each one's
        // operation finds the manager should it be cancelled at once.
        auto& defaults = platform::UserDefaults::standard();
        auto stored = defaults.stringArrayForKey(kEventRecordStoreKey);
        if (stored) {
            defaults.removeObjectForKey(kEventRecordStoreKey);
            defaults.synchronize();
            for (const auto& url : *stored) {
                TGLog::log("Submitting delayed event record: " + url);
                manager->submitEventReportString(url);
            }
        }
    }
    return *manager;
}

bool TGEventManager::hasInstance() {
    return sharedManager() != nullptr;
}

void TGEventManager::resetForTesting() {
    auto& manager = sharedManager();
    if (!manager)
        return;
    manager->operationQueue_->waitUntilAllOperationsAreFinished();
    manager.reset();
}

TGEventManager::TGEventManager() : operationQueue_(std::make_unique<platform::OperationQueue>()) {
    operationQueue_->setName("TGEventManager");
    terminateObserver_ = platform::NotificationCenter::defaultCenter().addObserver(
        platform::kApplicationWillTerminateNotification,
        [this](const platform::Notification&) { applicationWillTerminateNotification(); });
}

TGEventManager::~TGEventManager() {
    TGLog::log("- dealloc: TGEventManager");
    platform::NotificationCenter::defaultCenter().removeObserver(terminateObserver_);
    // Cancelled operations would store their URLs through the shared manager, which is going:
    // each is let run instead (a report GET ends within its time-out).
    operationQueue_.reset();
}

void TGEventManager::submitEventReports(const std::vector<std::shared_ptr<TGEventRecord>>& records) {
    for (const auto& record : records)
        if (record)
            submitEventReport(*record);
}

void TGEventManager::submitEventReport(TGEventRecord& record) {
    TGLog::log("Event Record:\n" + record.description());
    submitEventReportString(record.reportingUrl() + "?" + record.eventRecord());
}

void TGEventManager::submitEventReportString(const std::string& reportUrl) {
    if (applicationExiting_) {
        storeEventReport(reportUrl);
        return;
    }
    operationQueue_->addOperation(TGRecordEventsOperation::operationWithReportUrl(reportUrl));
}

void TGEventManager::storeEventReport(const std::string& reportUrl) {
    std::lock_guard lock(storeLock_);
    TGLog::log("Storing event record for delayed submit: " + reportUrl);
    auto& defaults = platform::UserDefaults::standard();
    auto stored = defaults.stringArrayForKey(kEventRecordStoreKey).value_or(std::vector<std::string>{});
    stored.push_back(reportUrl);
    platform::Array array;
    for (auto& url : stored)
        array.emplace_back(platform::Value(url));
    defaults.setObject(kEventRecordStoreKey, platform::Value(std::move(array)));
    defaults.synchronize();
}

void TGEventManager::applicationWillTerminateNotification() {
    applicationExiting_ = true;
    operationQueue_->cancelAllOperations();
    operationQueue_->waitUntilAllOperationsAreFinished();
}

} // namespace tangent
