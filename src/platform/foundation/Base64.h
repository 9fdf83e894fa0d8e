#pragma once
// Standard Base64 (the alphabet with "+" and "/", "=" padding), as property lists store
// data and as replies carry binary fields. Pure functions, safe from any thread.
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Value.h"

namespace platform {

std::string base64Encode(std::string_view bytes);
std::string base64Encode(const Data& bytes);
// White space anywhere is skipped (property lists wrap long data). Answers nullopt for any
// other character outside the alphabet, padding in the middle, or a dangling digit.
// Missing final padding is accepted.
std::optional<Data> base64Decode(std::string_view text);

} // namespace platform
