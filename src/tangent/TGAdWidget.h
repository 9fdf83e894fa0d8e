#pragma once
#include <string>

namespace tangent {

class TGAdWidget {
public:
    // The client's version text, also sent with every request.
    static std::string version() { return "iphone2.0.14.1"; }
};

} // namespace tangent
