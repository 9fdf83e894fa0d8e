#pragma once
// TGEventManager: sends the Tangent event reports, one GET per TGRecordEventsOperation on a
// background operation queue, and keeps the reports that could not go out before the
// application terminated. At termination it stops accepting sends (they are stored), cancels
// the queued operations (each cancelled one stores its URL) and waits for the running ones.
// Stored reports live in the user defaults under "TGEventRecordStore" (an array of complete
// report URLs) and are sent when the shared manager is next created.
//
// TGRecordEventsOperation: one report GET. Its URL is taken, under the operation's lock, by
// exactly one of main() (which sends it) and cancel() (which stores it), so a report is never
// both sent and stored, nor lost between the two.
//
// Threads: the manager is created and used on the main thread; operations run on the queue's
// threads and touch only their own URL and the User-Agent text captured at creation. A report
// that fails in transit is not retried. The shared manager lives for the process;
// resetForTesting() waits for the queue and drops it.
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/NotificationCenter.h"
#include "platform/runloop/OperationQueue.h"

namespace tangent {

class TGEventRecord;

class TGRecordEventsOperation final : public platform::Operation {
public:
    static constexpr double kTimeoutInterval = 10.0;

    static std::shared_ptr<TGRecordEventsOperation> operationWithReportUrl(std::string reportingUrl);

    void main() override;
    // Hands a URL not yet sent to the event manager's store. Does not mark the operation
    // cancelled: it runs and finds nothing to do.
    void cancel() override;

    std::optional<std::string> reportingUrl() const;

private:
    TGRecordEventsOperation(std::string reportingUrl, std::string userAgent)
        : reportingUrl_(std::move(reportingUrl)), userAgent_(std::move(userAgent)) {}
    std::optional<std::string> takeReportingUrl();

    mutable std::mutex lock_;
    std::optional<std::string> reportingUrl_;
    const std::string userAgent_;
};

class TGEventManager {
public:
    static constexpr std::string_view kEventRecordStoreKey = "TGEventRecordStore";

    static TGEventManager& instance();
    static bool hasInstance();
    static void resetForTesting();

    ~TGEventManager();
    TGEventManager(const TGEventManager&) = delete;
    TGEventManager& operator=(const TGEventManager&) = delete;

    void submitEventReports(const std::vector<std::shared_ptr<TGEventRecord>>& records);
    void submitEventReport(TGEventRecord& record);
    // Queues the report, or stores it once the application is exiting.
    void submitEventReportString(const std::string& reportUrl);
    // Appends the report URL to the store and writes the user defaults at once.
    void storeEventReport(const std::string& reportUrl);
    void applicationWillTerminateNotification();

    bool applicationExiting() const { return applicationExiting_; }
    platform::OperationQueue& operationQueue() { return *operationQueue_; }

private:
    TGEventManager();

    std::unique_ptr<platform::OperationQueue> operationQueue_;
    bool applicationExiting_ = false;
    platform::NotificationCenter::ObserverToken terminateObserver_{};
    std::mutex storeLock_;
};

} // namespace tangent
