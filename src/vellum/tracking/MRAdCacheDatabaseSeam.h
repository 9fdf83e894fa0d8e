#pragma once
// How the tracking upload reaches the ad cache database of the rich-media side without
// depending on it: that side registers a factory for its database class when it is linked
// in; the broadcaster asks the factory for an instance when a reply carries ad instructions
// and hands them over. With no factory registered (the rich-media side absent), or a factory
// that gives no object (its database refuses to open), the instructions are ignored.
// Main thread only, like the broadcaster.
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vellum {

// What the broadcaster asks of the ad cache database.
class MRAdInstructionsReceiver {
public:
    virtual ~MRAdInstructionsReceiver() = default;
    // Each instruction is a property-list dictionary as text, with the key "adID".
    virtual void updateAdInfo(const std::vector<std::string>& adInstructions) = 0;
};

using MRAdCacheDatabaseFactory = std::function<std::shared_ptr<MRAdInstructionsReceiver>()>;

// Registers (or, with an empty function, removes) the factory of "MRCachedAdDatabase".
void registerMRCachedAdDatabaseClass(MRAdCacheDatabaseFactory factory);
// A new instance from the registered factory; nullptr when none is registered or it gives none.
std::shared_ptr<MRAdInstructionsReceiver> makeMRCachedAdDatabase();

} // namespace vellum
