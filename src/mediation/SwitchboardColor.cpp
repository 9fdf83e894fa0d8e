#include "mediation/SwitchboardColor.h"

#include <algorithm>

#include "mediation/SwitchboardNumbers.h"
#include "platform/foundation/Strings.h"

namespace mediation {
namespace {

constexpr float kComponentScale = 255.0f;
constexpr float kOpaque = 1.0f;

double component(float v) {
    return static_cast<double>(std::clamp(v, 0.0f, 1.0f));
}

} // namespace

std::optional<platform::Color> colorInitWithDict(const platform::Value* dict) {
    if (!dict || !dict->isDictionary())
        return std::nullopt;
    int red = 0, green = 0, blue = 0;
    if (!sbIntVal(red, dict->find("red")) || !sbIntVal(green, dict->find("green")) ||
        !sbIntVal(blue, dict->find("blue")))
        return std::nullopt;
    float alpha = kOpaque;
    if (!sbFloatVal(alpha, dict->find("alpha")))
        alpha = kOpaque;
    return platform::Color{component(static_cast<float>(red) / kComponentScale),
                           component(static_cast<float>(green) / kComponentScale),
                           component(static_cast<float>(blue) / kComponentScale), component(alpha)};
}

std::string describeColor(const std::optional<platform::Color>& c) {
    if (!c)
        return "(null)";
    return "rgba(" + platform::formatDouble(c->red) + ", " + platform::formatDouble(c->green) + ", " +
           platform::formatDouble(c->blue) + ", " + platform::formatDouble(c->alpha) + ")";
}

} // namespace mediation
