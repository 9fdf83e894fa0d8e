#include "platform/foundation/LaterTurn.h"

#include <atomic>

namespace platform {
namespace {

std::atomic<LaterMainTurnPerformer> gPerformer{nullptr};

} // namespace

void setLaterMainTurnPerformer(LaterMainTurnPerformer performer) {
    gPerformer.store(performer);
}

bool performOnLaterMainTurn(std::function<void()> task) {
    LaterMainTurnPerformer performer = gPerformer.load();
    if (!performer)
        return false;
    performer(std::move(task));
    return true;
}

} // namespace platform
