#pragma once
// The process-wide table from network type number to adapter class.
//
// An adapter "class" here is a SwitchboardAdapterClass: the class's name, its networkType
// class operation and a factory that makes an adapter (the allocation and designated
// initializer in one). Adapter classes register themselves while the program loads,
// through a static SwitchboardAdapterRegistrar object in their source file (see
// SwitchboardAdNetworkAdapter.h), so the registry is full before main() runs; the mediation
// library and every adapter library are linked as object libraries so that those objects
// are never dropped. The configuration looks classes up by type when it builds its network
// entries; a type without a class makes the entry be dropped.
//
// sharedRegistry() is created on first use (during static initialisation) and never
// destroyed. Tests that need a registry of their own create one and hand it to the
// configuration (SwitchboardConfig::setAdNetworkRegistry); the shared one has no reset,
// since emptying it would lose the registrations made at load time. Used on the main thread
// after load; no lock.
#include <functional>
#include <map>
#include <vector>
#include <memory>
#include <string>

#include "mediation/SwitchboardForward.h"

namespace mediation {

// Makes one adapter for one request: (host, slot, configuration, network entry).
using SwitchboardAdapterFactory = std::function<std::shared_ptr<SwitchboardAdNetworkAdapter>(
    std::weak_ptr<SwitchboardDelegate>, std::weak_ptr<SwitchboardViewInterface>,
    std::shared_ptr<SwitchboardConfig>, std::shared_ptr<SwitchboardAdNetworkConfig>)>;

// An adapter class. switchboardAdapterClass<T>() (SwitchboardAdNetworkAdapter.h) fills it
// from an adapter subclass.
struct SwitchboardAdapterClass {
    std::string name;
    int (*networkType)() = nullptr;
    SwitchboardAdapterFactory create;
};

// Holds a class as a table value.
class SwitchboardClassWrapper {
public:
    explicit SwitchboardClassWrapper(std::shared_ptr<const SwitchboardAdapterClass> theClass)
        : theClass_(std::move(theClass)) {}
    const std::shared_ptr<const SwitchboardAdapterClass>& theClass() const { return theClass_; }

private:
    std::shared_ptr<const SwitchboardAdapterClass> theClass_;
};

class SwitchboardAdNetworkRegistry {
public:
    SwitchboardAdNetworkRegistry() = default;
    SwitchboardAdNetworkRegistry(const SwitchboardAdNetworkRegistry&) = delete;
    SwitchboardAdNetworkRegistry& operator=(const SwitchboardAdNetworkRegistry&) = delete;

    static SwitchboardAdNetworkRegistry& sharedRegistry();

    // Reads the class's type from its networkType operation and stores the class under it;
    // a later class of the same type replaces the earlier one. A class without a networkType
    // operation or a factory is refused with an error line.
    void registerClass(SwitchboardAdapterClass adapterClass);

    // The wrapper of the class registered for `networkType`, or nullptr.
    std::shared_ptr<const SwitchboardClassWrapper> adapterClassFor(int networkType) const;
    // Every network type that has a class, in increasing order.
    std::vector<int> registeredNetworkTypes() const;

private:
    std::map<int, std::shared_ptr<const SwitchboardClassWrapper>> adapterDict_;
};

} // namespace mediation
