#include "platform/runloop/WaitingMessages.h"

#include <algorithm>
#include <mutex>
#include <vector>

#include "platform/foundation/Log.h"

namespace platform {
namespace {

struct Probes {
    std::mutex mutex;
    std::vector<std::shared_ptr<const WaitingMessages::Probe>> list;
};

Probes& probes() {
    static Probes* p = new Probes();
    return *p;
}

} // namespace

WaitingMessages::Registration::~Registration() {
    std::lock_guard lock(probes().mutex);
    std::erase(probes().list, probe_);
}

std::unique_ptr<WaitingMessages::Registration> WaitingMessages::add(Probe probe) {
    auto shared = std::make_shared<const Probe>(std::move(probe));
    {
        std::lock_guard lock(probes().mutex);
        probes().list.push_back(shared);
    }
    return std::unique_ptr<Registration>(new Registration(std::move(shared)));
}

bool WaitingMessages::anyHeld() {
    std::vector<std::shared_ptr<const Probe>> list;
    {
        std::lock_guard lock(probes().mutex);
        list = probes().list;
    }
    // Asked outside the lock: a probe may run page script, which may make or drop others.
    return std::any_of(list.begin(), list.end(), [](const auto& probe) {
        bool held = false;
        callGuarded("waiting messages: probe", [&] { held = *probe && (*probe)(); });
        return held;
    });
}

std::size_t WaitingMessages::count() {
    std::lock_guard lock(probes().mutex);
    return probes().list.size();
}

} // namespace platform
