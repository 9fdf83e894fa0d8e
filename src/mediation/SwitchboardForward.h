#pragma once
// Forward declarations of the mediation layer's classes and of the platform classes its
// headers name, so that headers stay light.

namespace platform {
class View;
class ViewController;
struct Color;
struct Error;
} // namespace platform

namespace mediation {
class SwitchboardAdNetworkAdapter;
class SwitchboardAdNetworkConfig;
class SwitchboardAdNetworkRegistry;
class SwitchboardClassWrapper;
class SwitchboardConfig;
class SwitchboardConfigDelegate;
class SwitchboardDelegate;
class SwitchboardError;
class SwitchboardView;
class SwitchboardViewInterface;
struct SwitchboardAdapterClass;
} // namespace mediation
