#pragma once
// The number readers of the configuration parsing: sbIntVal, sbFloatVal and sbDoubleVal.
// Configuration services send numbers either as JSON numbers or as strings holding one, so
// each reader accepts both: a number gives its value (an integer reader truncates a fraction
// and saturates at the 32-bit range), a string gives the number it starts with, read with the
// platform's lenient string rules (0 when it starts with none). For anything else, and for a
// missing value (nullptr), the reader answers false and leaves `out` unchanged.
//
// A non-finite result (an infinity or NaN from a string such as "1e999") counts as no number:
// such values would poison weights and intervals further on.
#include "platform/foundation/Value.h"

namespace mediation {

bool sbIntVal(int& out, const platform::Value* obj);
bool sbFloatVal(float& out, const platform::Value* obj);
bool sbDoubleVal(double& out, const platform::Value* obj);

} // namespace mediation
