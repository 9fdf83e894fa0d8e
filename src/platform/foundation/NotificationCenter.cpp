#include "platform/foundation/NotificationCenter.h"

#include <algorithm>

namespace platform {

NotificationCenter& NotificationCenter::defaultCenter() {
    static NotificationCenter* center = new NotificationCenter();
    return *center;
}

void NotificationCenter::resetDefaultForTesting() {
    defaultCenter().removeWhere([](const Observation&) { return true; });
}

NotificationCenter::ObserverToken NotificationCenter::addObserver(std::string_view name, Callback callback,
                                                                  const void* sender, const void* owner) {
    return addObserverChecked(name, std::move(callback), {}, sender, owner);
}

NotificationCenter::ObserverToken
NotificationCenter::addObserverChecked(std::string_view name, Callback callback, std::function<bool()> alive,
                                       const void* sender, const void* owner) {
    auto observation = std::make_shared<Observation>();
    observation->name = std::string(name);
    observation->sender = sender;
    observation->owner = owner;
    observation->callback = std::move(callback);
    observation->alive = std::move(alive);
    std::lock_guard lock(mutex_);
    observation->id = nextId_++;
    observations_.push_back(observation);
    return ObserverToken(observation->id);
}

void NotificationCenter::removeWhere(const std::function<bool(const Observation&)>& match) {
    std::vector<std::shared_ptr<Observation>> dropped;
    {
        std::lock_guard lock(mutex_);
        auto keep = std::stable_partition(observations_.begin(), observations_.end(),
                                          [&](const auto& o) { return !match(*o); });
        for (auto it = keep; it != observations_.end(); ++it) {
            (*it)->removed = true;
            dropped.push_back(std::move(*it));
        }
        observations_.erase(keep, observations_.end());
    }
    // Callbacks (and what they captured) are destroyed outside the lock, since destroying a
    // capture may itself remove observers.
    dropped.clear();
}

void NotificationCenter::removeObserver(ObserverToken token) {
    if (!token.isValid())
        return;
    removeWhere([&](const Observation& o) { return o.id == token.id_; });
}

void NotificationCenter::removeObserver(const void* owner) {
    if (!owner)
        return;
    removeWhere([&](const Observation& o) { return o.owner == owner; });
}

void NotificationCenter::removeObserver(const void* owner, std::string_view name, const void* sender) {
    if (!owner)
        return;
    removeWhere([&](const Observation& o) {
        return o.owner == owner && o.name == name && (sender == nullptr || o.sender == sender);
    });
}

void NotificationCenter::post(std::string_view name, Dictionary userInfo) {
    Notification n;
    n.name = std::string(name);
    n.userInfo = std::move(userInfo);
    post(n);
}

void NotificationCenter::post(const Notification& notification) {
    std::vector<std::shared_ptr<Observation>> matching;
    bool sawDead = false;
    {
        std::lock_guard lock(mutex_);
        for (const auto& o : observations_) {
            if (!o->name.empty() && o->name != notification.name)
                continue;
            if (o->sender && o->sender != notification.sender)
                continue;
            matching.push_back(o);
        }
    }
    for (const auto& o : matching) {
        if (o->removed)
            continue;
        if (o->alive && !o->alive()) {
            sawDead = true;
            continue;
        }
        o->callback(notification);
    }
    if (sawDead)
        removeWhere([](const Observation& o) { return o.alive && !o.alive(); });
}

std::size_t NotificationCenter::observerCount() const {
    std::lock_guard lock(mutex_);
    return observations_.size();
}

} // namespace platform
