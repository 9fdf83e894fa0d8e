#pragma once
// TGAdEventCollection: the event records of one ad, one per event kind, and the list of
// records to report. The ad's parts time and count events on the records while the ad lives;
// submitEventReports() hands the list to the event manager when the ad is dismissed or its
// delegate adaptor goes.
//
// Records are created on first read. The request, impression, dismiss, interact and
// failed-click records go on the list at creation. The click and sub-click records go on it
// when a completed one (duration above 0) is read again, and a fresh record replaces it, so
// every completed click becomes its own report.
//
// Ownership: the delegate adaptor owns its collection; the collection points back at the
// adaptor without owning it, and the adaptor detaches it when it goes. Main thread only.
#include <memory>
#include <vector>

#include "tangent/TGEventRecord.h"

namespace tangent {

class TGDelegateAdaptor;

class TGAdEventCollection {
public:
    explicit TGAdEventCollection(TGDelegateAdaptor* delegateAdaptor) : delegateAdaptor_(delegateAdaptor) {}
    TGAdEventCollection(const TGAdEventCollection&) = delete;
    TGAdEventCollection& operator=(const TGAdEventCollection&) = delete;

    TGDelegateAdaptor* delegateAdaptor() const { return delegateAdaptor_; }
    void setDelegateAdaptor(TGDelegateAdaptor* adaptor) { delegateAdaptor_ = adaptor; }

    TGEventRecord& requestRecord() { return listed(requestRecord_, TGEventTypeRequest); }
    TGEventRecord& impressionRecord() { return listed(impressionRecord_, TGEventTypeImpression); }
    TGEventRecord& dismissRecord() { return listed(dismissRecord_, TGEventTypeDismiss); }
    TGEventRecord& interactRecord() { return listed(interactRecord_, TGEventTypeInteract); }
    TGEventRecord& failedClickRecord() { return listed(failedClickRecord_, TGEventTypeFailedClick); }
    TGEventRecord& clickRecord() { return perClick(clickRecord_, TGEventTypeClick); }
    TGEventRecord& subClickRecord() { return perClick(subClickRecord_, TGEventTypeSubClick); }
    // Closes the failed-click record (it stays on the list); the next failure starts a new one.
    void setFailedClickRecord(std::nullptr_t) { failedClickRecord_.reset(); }

    // Completed click records go on the list, every slot is cleared, and the list goes to the
    // event manager and is emptied.
    void submitEventReports();

    const std::vector<std::shared_ptr<TGEventRecord>>& eventCollection() const { return eventCollection_; }

private:
    TGEventRecord& listed(std::shared_ptr<TGEventRecord>& slot, std::string_view type);
    TGEventRecord& perClick(std::shared_ptr<TGEventRecord>& slot, std::string_view type);
    void listIfCompleted(std::shared_ptr<TGEventRecord>& slot);

    TGDelegateAdaptor* delegateAdaptor_;
    std::vector<std::shared_ptr<TGEventRecord>> eventCollection_;
    std::shared_ptr<TGEventRecord> requestRecord_;
    std::shared_ptr<TGEventRecord> impressionRecord_;
    std::shared_ptr<TGEventRecord> dismissRecord_;
    std::shared_ptr<TGEventRecord> interactRecord_;
    std::shared_ptr<TGEventRecord> clickRecord_;
    std::shared_ptr<TGEventRecord> subClickRecord_;
    std::shared_ptr<TGEventRecord> failedClickRecord_;
};

} // namespace tangent
