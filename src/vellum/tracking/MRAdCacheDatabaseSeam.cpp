#include "vellum/tracking/MRAdCacheDatabaseSeam.h"

namespace vellum {

namespace {
MRAdCacheDatabaseFactory& factorySlot() {
    static MRAdCacheDatabaseFactory factory;
    return factory;
}
} // namespace

void registerMRCachedAdDatabaseClass(MRAdCacheDatabaseFactory factory) {
    factorySlot() = std::move(factory);
}

std::shared_ptr<MRAdInstructionsReceiver> makeMRCachedAdDatabase() {
    auto& factory = factorySlot();
    return factory ? factory() : nullptr;
}

} // namespace vellum
