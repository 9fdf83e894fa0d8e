#include "tangent/TGAdEventCollection.h"

#include "tangent/TGEventManager.h"

namespace tangent {

TGEventRecord& TGAdEventCollection::listed(std::shared_ptr<TGEventRecord>& slot, std::string_view type) {
    if (!slot) {
        slot = std::make_shared<TGEventRecord>(type, delegateAdaptor_);
        eventCollection_.push_back(slot);
    }
    return *slot;
}

TGEventRecord& TGAdEventCollection::perClick(std::shared_ptr<TGEventRecord>& slot, std::string_view type) {
    if (slot && slot->duration() > 0) {
        eventCollection_.push_back(slot);
        slot.reset();
    }
    if (!slot)
        slot = std::make_shared<TGEventRecord>(type, delegateAdaptor_);
    return *slot;
}

void TGAdEventCollection::listIfCompleted(std::shared_ptr<TGEventRecord>& slot) {
    if (!slot)
        return;
    slot->eventStopTimer();
    if (slot->duration() > 0)
        eventCollection_.push_back(slot);
}

void TGAdEventCollection::submitEventReports() {
    listIfCompleted(clickRecord_);
    listIfCompleted(subClickRecord_);
    for (auto* slot : {&requestRecord_, &impressionRecord_, &dismissRecord_, &interactRecord_, &clickRecord_,
                       &subClickRecord_, &failedClickRecord_})
        slot->reset();
    auto reports = std::move(eventCollection_);
    eventCollection_.clear();
    if (!reports.empty())
        TGEventManager::instance().submitEventReports(reports);
}

} // namespace tangent
