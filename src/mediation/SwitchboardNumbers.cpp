#include "mediation/SwitchboardNumbers.h"

#include <cmath>
#include <cstdint>
#include <limits>

#include "platform/foundation/Numbers.h"
#include "platform/foundation/Strings.h"

namespace mediation {

bool sbIntVal(int& out, const platform::Value* obj) {
    if (!obj)
        return false;
    if (auto s = obj->string()) {
        out = platform::intValue(*s);
        return true;
    }
    auto i = obj->integer();
    if (!i)
        return false;
    out = platform::saturatingCast<int>(*i);
    return true;
}

bool sbDoubleVal(double& out, const platform::Value* obj) {
    if (!obj)
        return false;
    std::optional<double> d;
    if (auto s = obj->string())
        d = platform::doubleValue(*s);
    else
        d = obj->number();
    if (!d || !std::isfinite(*d))
        return false;
    out = *d;
    return true;
}

bool sbFloatVal(float& out, const platform::Value* obj) {
    double d = 0;
    if (!sbDoubleVal(d, obj))
        return false;
    float f = static_cast<float>(d);
    if (!std::isfinite(f))
        return false;
    out = f;
    return true;
}

} // namespace mediation
