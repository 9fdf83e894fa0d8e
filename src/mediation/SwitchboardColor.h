#pragma once
// Reading a colour object of the mediation configuration (colorInitWithDict, the
// initWithDict: of the colour class), and writing a colour for descriptions and logs.
//
// A colour object has "red", "green" and "blue" (integers 0 to 255) and optionally "alpha"
// (a fraction; 1.0 when absent or not a number). Numbers may come as strings (see
// SwitchboardNumbers.h). Components are computed in single precision, as the service's other
// clients compute them, and kept within 0 to 1.
#include <optional>
#include <string>

#include "platform/foundation/Value.h"
#include "platform/ui/Color.h"

namespace mediation {

// The colour, or nullopt when the value is not an object or lacks a numeric red, green or blue.
std::optional<platform::Color> colorInitWithDict(const platform::Value* dict);

// "rgba(0.3, 0.3, 0.3, 1)", or "(null)" without a colour.
std::string describeColor(const std::optional<platform::Color>& color);

} // namespace mediation
