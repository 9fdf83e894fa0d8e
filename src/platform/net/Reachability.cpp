#include "platform/net/Reachability.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <thread>

#include "platform/foundation/Strings.h"
#include "platform/runloop/BackgroundWork.h"
#include "platform/runloop/RunLoop.h"

namespace platform {
namespace {

// How often scheduled objects are re-evaluated for changes, in real seconds.
constexpr auto kRecheckInterval = std::chrono::seconds(5);

constexpr ReachabilityFlags kLocalFlags =
    kReachabilityFlagsReachable | kReachabilityFlagsIsLocalAddress | kReachabilityFlagsIsDirect;
constexpr ReachabilityFlags kDirectFlags = kReachabilityFlagsReachable | kReachabilityFlagsIsDirect;

struct FlagName {
    ReachabilityFlags flag;
    const char* name;
};
constexpr FlagName kFlagNames[] = {
    {kReachabilityFlagsTransientConnection, "transient-connection"},
    {kReachabilityFlagsReachable, "reachable"},
    {kReachabilityFlagsConnectionRequired, "connection-required"},
    {kReachabilityFlagsConnectionOnTraffic, "connection-on-traffic"},
    {kReachabilityFlagsInterventionRequired, "intervention-required"},
    {kReachabilityFlagsConnectionOnDemand, "connection-on-demand"},
    {kReachabilityFlagsIsLocalAddress, "is-local-address"},
    {kReachabilityFlagsIsDirect, "is-direct"},
    {kReachabilityFlagsIsWWAN, "is-WWAN"},
};

// ---- Test override ----

struct Override {
    std::mutex mutex;
    std::map<std::string, ReachabilityFlags> perHost; // keys lower-cased
    std::optional<ReachabilityFlags> allHosts;
    Reachability::TestFailures failures;
};

Override& testOverride() {
    static Override* o = new Override();
    return *o;
}

std::optional<ReachabilityFlags> overrideFor(const std::string& target) {
    auto& o = testOverride();
    std::lock_guard lock(o.mutex);
    auto it = o.perHost.find(toLower(target));
    if (it != o.perHost.end())
        return it->second;
    return o.allHosts;
}

Reachability::TestFailures currentFailures() {
    auto& o = testOverride();
    std::lock_guard lock(o.mutex);
    return o.failures;
}

// ---- Scheduled objects and the background re-check ----

struct Scheduled {
    std::mutex mutex;
    std::condition_variable wake;
    bool kicked = false;
    bool threadStarted = false;
    std::vector<std::weak_ptr<Reachability>> objects;
};

Scheduled& scheduled() {
    static Scheduled* s = new Scheduled();
    return *s;
}

std::vector<std::shared_ptr<Reachability>> scheduledSnapshot() {
    auto& s = scheduled();
    std::lock_guard lock(s.mutex);
    std::vector<std::shared_ptr<Reachability>> out;
    std::erase_if(s.objects, [&](const std::weak_ptr<Reachability>& w) {
        auto r = w.lock();
        if (!r || !r->isScheduled())
            return true; // gone, or no longer listened to
        out.push_back(std::move(r));
        return false;
    });
    return out;
}

void monitorLoop() {
    auto& s = scheduled();
    for (;;) {
        bool kicked;
        {
            std::unique_lock lock(s.mutex);
            s.wake.wait_for(lock, kRecheckInterval, [&] { return s.kicked; });
            kicked = s.kicked;
            s.kicked = false;
        }
        for (auto& r : scheduledSnapshot())
            r->refresh();
        // The answers of an asked-for pass are queued on their run loops by now.
        if (kicked)
            BackgroundWork::end();
    }
}

// Asks the background thread (started on first use; it lives for the process) to evaluate now.
void kickMonitor() {
    auto& s = scheduled();
    {
        std::lock_guard lock(s.mutex);
        // An asked-for pass counts as background work until its answers are queued, so
        // whoever waits for the program to come to rest also waits for them.
        if (!s.kicked)
            BackgroundWork::begin();
        s.kicked = true;
        if (!s.threadStarted) {
            s.threadStarted = true;
            std::thread(monitorLoop).detach();
        }
    }
    s.wake.notify_all();
}

// ---- Real evaluation ----

struct Address {
    int family = AF_UNSPEC;
    std::array<std::uint8_t, 16> bytes{};
    std::size_t length = 0;
};

std::optional<Address> fromSockaddr(const sockaddr* sa) {
    if (!sa)
        return std::nullopt;
    Address a;
    a.family = sa->sa_family;
    if (sa->sa_family == AF_INET) {
        a.length = 4;
        std::memcpy(a.bytes.data(), &reinterpret_cast<const sockaddr_in*>(sa)->sin_addr, 4);
    } else if (sa->sa_family == AF_INET6) {
        a.length = 16;
        std::memcpy(a.bytes.data(), &reinterpret_cast<const sockaddr_in6*>(sa)->sin6_addr, 16);
    } else {
        return std::nullopt;
    }
    return a;
}

std::optional<Address> parseNumeric(std::string_view text) {
    std::string t(text);
    if (t.size() > 2 && t.front() == '[' && t.back() == ']')
        t = t.substr(1, t.size() - 2);
    Address a;
    if (inet_pton(AF_INET, t.c_str(), a.bytes.data()) == 1) {
        a.family = AF_INET;
        a.length = 4;
        return a;
    }
    if (inet_pton(AF_INET6, t.c_str(), a.bytes.data()) == 1) {
        a.family = AF_INET6;
        a.length = 16;
        return a;
    }
    return std::nullopt;
}

bool isUnspecified(const Address& a) {
    return std::all_of(a.bytes.begin(), a.bytes.begin() + static_cast<long>(a.length),
                       [](auto b) { return b == 0; });
}

bool isLoopback(const Address& a) {
    if (a.family == AF_INET)
        return a.bytes[0] == 127;
    static constexpr std::array<std::uint8_t, 16> kLoopback6{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    return a.bytes == kLoopback6;
}

bool isLinkLocal6(const Address& a) {
    return a.family == AF_INET6 && a.bytes[0] == 0xfe && (a.bytes[1] & 0xc0) == 0x80;
}

struct Interface {
    Address address;
    Address mask;
    bool loopback = false;
};

std::vector<Interface> interfaces() {
    std::vector<Interface> out;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return out;
    for (ifaddrs* i = list; i; i = i->ifa_next) {
        if (!(i->ifa_flags & IFF_UP) || !(i->ifa_flags & IFF_RUNNING))
            continue;
        auto address = fromSockaddr(i->ifa_addr);
        if (!address)
            continue;
        Interface itf;
        itf.address = *address;
        itf.mask = fromSockaddr(i->ifa_netmask).value_or(Address{});
        itf.loopback = (i->ifa_flags & IFF_LOOPBACK) != 0;
        out.push_back(itf);
    }
    freeifaddrs(list);
    return out;
}

bool sameSubnet(const Address& a, const Interface& itf) {
    if (a.family != itf.address.family || itf.mask.family != a.family)
        return false;
    for (std::size_t i = 0; i < a.length; ++i)
        if ((a.bytes[i] & itf.mask.bytes[i]) != (itf.address.bytes[i] & itf.mask.bytes[i]))
            return false;
    return true;
}

ReachabilityFlags flagsForAddress(const Address& a) {
    if (isLoopback(a))
        return kLocalFlags;
    auto itfs = interfaces();
    bool anyRoute = std::any_of(itfs.begin(), itfs.end(),
                                [](const Interface& i) { return !i.loopback && !isLinkLocal6(i.address); });
    if (isUnspecified(a))
        return anyRoute ? kReachabilityFlagsReachable : 0;
    for (const auto& itf : itfs)
        if (itf.address.family == a.family && itf.address.bytes == a.bytes)
            return kLocalFlags;
    for (const auto& itf : itfs)
        if (!itf.loopback && sameSubnet(a, itf))
            return kDirectFlags;
    return anyRoute ? kReachabilityFlagsReachable : 0;
}

ReachabilityFlags flagsForName(const std::string& name) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    if (getaddrinfo(name.c_str(), nullptr, &hints, &result) != 0 || !result)
        return 0;
    auto address = fromSockaddr(result->ai_addr);
    freeaddrinfo(result);
    return address ? flagsForAddress(*address) : 0;
}

} // namespace

// ---- Reachability ----

std::shared_ptr<Reachability> Reachability::createWithName(std::string_view hostName) {
    if (hostName.empty() || currentFailures().creation)
        return nullptr;
    return std::shared_ptr<Reachability>(new Reachability(std::string(hostName), false));
}

std::shared_ptr<Reachability> Reachability::createWithAddress(std::string_view numericAddress) {
    if (!parseNumeric(numericAddress) || currentFailures().creation)
        return nullptr;
    return std::shared_ptr<Reachability>(new Reachability(std::string(numericAddress), true));
}

Reachability::~Reachability() = default;

bool Reachability::setCallback(Callback callback) {
    if (currentFailures().setCallback)
        return false;
    std::lock_guard lock(mutex_);
    callback_ = std::move(callback);
    return true;
}

bool Reachability::hasLoop(const RunLoop* loop) const {
    return std::any_of(loops_.begin(), loops_.end(), [&](const ScheduledLoop& s) { return s.loop == loop; });
}

bool Reachability::scheduleWithRunLoop(RunLoop& loop) {
    if (currentFailures().scheduling)
        return false;
    {
        std::lock_guard lock(mutex_);
        if (hasLoop(&loop))
            return false;
        loops_.push_back({&loop, std::nullopt}); // hears the status once it is known
    }
    {
        auto& s = scheduled();
        std::lock_guard lock(s.mutex);
        bool listed =
            std::any_of(s.objects.begin(), s.objects.end(),
                        [this](const std::weak_ptr<Reachability>& w) { return w.lock().get() == this; });
        if (!listed)
            s.objects.push_back(weak_from_this());
    }
    if (overrideFor(target_))
        refresh(); // test flags are known at once
    else
        kickMonitor();
    return true;
}

bool Reachability::unscheduleFromRunLoop(RunLoop& loop) {
    std::lock_guard lock(mutex_);
    auto it =
        std::find_if(loops_.begin(), loops_.end(), [&](const ScheduledLoop& s) { return s.loop == &loop; });
    if (it == loops_.end())
        return false;
    loops_.erase(it);
    return true;
}

bool Reachability::isScheduled() const {
    std::lock_guard lock(mutex_);
    return !loops_.empty();
}

bool Reachability::isScheduledOn(RunLoop& loop) const {
    std::lock_guard lock(mutex_);
    return hasLoop(&loop);
}

ReachabilityFlags Reachability::evaluate() const {
    if (auto flags = overrideFor(target_))
        return *flags;
    if (isAddress_)
        return flagsForAddress(*parseNumeric(target_));
    if (auto numeric = parseNumeric(target_))
        return flagsForAddress(*numeric);
    return flagsForName(target_);
}

std::optional<ReachabilityFlags> Reachability::getFlags() const {
    if (currentFailures().getFlags)
        return std::nullopt;
    return evaluate();
}

void Reachability::refresh() {
    if (auto flags = overrideFor(target_)) {
        std::lock_guard lock(mutex_);
        postChanges(*flags);
        return;
    }
    ReachabilityFlags flags = evaluate(); // may block on name resolution: outside the lock
    std::lock_guard lock(mutex_);
    if (overrideFor(target_))
        return; // a test took over meanwhile; its flags win
    postChanges(flags);
}

// Called with mutex_ held: posts the callback to each loop that has not yet heard `flags`.
void Reachability::postChanges(ReachabilityFlags flags) {
    std::weak_ptr<Reachability> weak = weak_from_this();
    for (auto& entry : loops_) {
        if (entry.lastPosted == flags)
            continue;
        entry.lastPosted = flags;
        RunLoop* loop = entry.loop;
        loop->perform([weak, loop, flags] {
            auto self = weak.lock();
            if (!self)
                return;
            Callback callback;
            {
                std::lock_guard lock(self->mutex_);
                if (!self->hasLoop(loop))
                    return; // unscheduled meanwhile
                callback = self->callback_;
            }
            if (callback)
                callback(*self, flags);
        });
    }
}

std::string Reachability::describeFlags(ReachabilityFlags flags) {
    std::string out;
    for (const auto& f : kFlagNames) {
        if (!(flags & f.flag))
            continue;
        if (!out.empty())
            out += '|';
        out += f.name;
    }
    return out.empty() ? "none" : out;
}

// ---- Test override ----

namespace {

// Lets every scheduled object that the override now concerns hear its flags.
void notifyOverrideChanged() {
    bool anyReal = false;
    for (auto& r : scheduledSnapshot()) {
        if (overrideFor(r->target()))
            r->refresh();
        else
            anyReal = true;
    }
    if (anyReal)
        kickMonitor();
}

} // namespace

void Reachability::setTestFlags(std::string_view host, ReachabilityFlags flags) {
    {
        auto& o = testOverride();
        std::lock_guard lock(o.mutex);
        o.perHost[toLower(host)] = flags;
    }
    notifyOverrideChanged();
}

void Reachability::clearTestFlags(std::string_view host) {
    {
        auto& o = testOverride();
        std::lock_guard lock(o.mutex);
        o.perHost.erase(toLower(host));
    }
    notifyOverrideChanged();
}

void Reachability::setTestFlagsForAllHosts(ReachabilityFlags flags) {
    {
        auto& o = testOverride();
        std::lock_guard lock(o.mutex);
        o.allHosts = flags;
    }
    notifyOverrideChanged();
}

void Reachability::setTestFailures(TestFailures failures) {
    auto& o = testOverride();
    std::lock_guard lock(o.mutex);
    o.failures = failures;
}

void Reachability::resetForTesting() {
    auto& o = testOverride();
    std::lock_guard lock(o.mutex);
    o.perHost.clear();
    o.allHosts.reset();
    o.failures = {};
}

} // namespace platform
