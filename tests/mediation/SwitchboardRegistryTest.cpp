#include <gtest/gtest.h>

#include "MediationTestSupport.h"
#include "mediation/SwitchboardAdNetworkAdapter.h"
#include "mediation/SwitchboardAdNetworkConfig.h"
#include "mediation/SwitchboardAdNetworkRegistry.h"
#include "mediation/SwitchboardConfig.h"
#include "platform/foundation/Log.h"

using namespace mediation;
using mediationtest::TestAdapter;

namespace {

// A second class for network type 1, to replace the first.
class OtherLumenAdapter : public TestAdapter<1> {
public:
    using TestAdapter<1>::TestAdapter;
};

// Registered at load time through the static registrar, as every adapter class is.
class LoadTimeAdapter : public TestAdapter<901> {
public:
    using TestAdapter<901>::TestAdapter;
    static int networkType() { return 901; }
};
const SwitchboardAdapterRegistrar<LoadTimeAdapter> kLoadTimeRegistrar;

// Decides in its own load() whether to register, as an adapter whose platform class may be
// missing does; here it declines.
class DecliningAdapter : public TestAdapter<902> {
public:
    using TestAdapter<902>::TestAdapter;
    static int networkType() { return 902; }
    static void load() {
        ++loadCalls;
        if (platformClassExists)
            SwitchboardAdNetworkRegistry::sharedRegistry().registerClass(
                switchboardAdapterClass<DecliningAdapter>());
    }
    static inline int loadCalls = 0;
    static inline bool platformClassExists = false;
};
const SwitchboardAdapterRegistrar<DecliningAdapter> kDecliningRegistrar;

TEST(SwitchboardAdNetworkRegistry, RegisterLookUpAndReplaceByType) {
    SwitchboardAdNetworkRegistry registry;
    EXPECT_EQ(registry.adapterClassFor(1), nullptr);

    registry.registerClass(switchboardAdapterClass<TestAdapter<1>>());
    registry.registerClass(switchboardAdapterClass<TestAdapter<6>>());
    auto lumen = registry.adapterClassFor(1);
    ASSERT_TRUE(lumen);
    EXPECT_EQ(lumen->theClass()->networkType(), 1);
    EXPECT_EQ(lumen->theClass()->name, "mediationtest::TestAdapter<1>");
    EXPECT_EQ(registry.adapterClassFor(6)->theClass()->networkType(), 6);
    EXPECT_EQ(registry.adapterClassFor(7), nullptr);
    EXPECT_EQ(registry.adapterClassFor(0), nullptr);
    EXPECT_EQ(registry.adapterClassFor(-1), nullptr);

    // A later class of the same type wins; an entry already built keeps the class it found.
    registry.registerClass(switchboardAdapterClass<OtherLumenAdapter>());
    EXPECT_EQ(registry.adapterClassFor(1)->theClass()->name, "(anonymous namespace)::OtherLumenAdapter");
    EXPECT_EQ(lumen->theClass()->name, "mediationtest::TestAdapter<1>");
}

TEST(SwitchboardAdNetworkRegistry, RefusesAClassWithoutTypeOrFactory) {
    SwitchboardAdNetworkRegistry registry;
    platform::LogCapture log;
    registry.registerClass(
        SwitchboardAdapterClass{"NoType", nullptr, switchboardAdapterClass<TestAdapter<5>>().create});
    auto noFactory = switchboardAdapterClass<TestAdapter<5>>();
    noFactory.create = nullptr;
    registry.registerClass(noFactory);
    EXPECT_EQ(registry.adapterClassFor(5), nullptr);
    EXPECT_TRUE(log.contains("Cannot register adapter class NoType"));
}

TEST(SwitchboardAdNetworkRegistry, StaticRegistrarsRunBeforeMain) {
    auto& shared = SwitchboardAdNetworkRegistry::sharedRegistry();
    EXPECT_EQ(&shared, &SwitchboardAdNetworkRegistry::sharedRegistry());
    auto loaded = shared.adapterClassFor(901);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->theClass()->name, "(anonymous namespace)::LoadTimeAdapter");
    EXPECT_EQ(DecliningAdapter::loadCalls, 1);
    EXPECT_EQ(shared.adapterClassFor(902), nullptr);
}

TEST(SwitchboardAdNetworkRegistry, FactoryMakesAnAdapterWithItsFourValues) {
    SwitchboardAdNetworkRegistry registry;
    mediationtest::registerTestAdapter<18>(registry);
    auto config = SwitchboardConfig::create("k", nullptr);
    config->setAdNetworkRegistry(&registry);
    ASSERT_TRUE(config->parseConfig(
        R"({"extra":{},"rations":[{"nid":"o","type":18,"nname":"orbis","weight":1,"priority":1}]})",
        nullptr));
    auto entry = config->adNetworkConfigs().at(0);
    auto host = std::make_shared<mediationtest::MinimalHost>();
    auto slot = std::make_shared<mediationtest::RecordingSlot>(mediationtest::makeEvents());

    auto adapter = entry->adapterClass()->create(host, slot, config, entry);
    ASSERT_TRUE(adapter);
    EXPECT_NE(dynamic_cast<TestAdapter<18>*>(adapter.get()), nullptr);
    EXPECT_EQ(adapter->switchboardDelegate(), host);
    EXPECT_EQ(adapter->switchboardView(), slot);
    EXPECT_EQ(adapter->switchboardConfig(), config);
    EXPECT_EQ(adapter->networkConfig(), entry);
    EXPECT_EQ(adapter->adNetworkView(), nullptr);
    EXPECT_EQ(adapter->className(), "mediationtest::TestAdapter<18>");
    // The adapter holds the host and the slot weakly.
    host.reset();
    slot.reset();
    EXPECT_EQ(adapter->switchboardDelegate(), nullptr);
    EXPECT_EQ(adapter->switchboardView(), nullptr);
}

} // namespace
