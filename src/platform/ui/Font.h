#pragma once
// A font: family name, point size and weight. The system font is the default.
#include <string>

namespace platform {

inline constexpr const char* kSystemFontName = "System";
inline constexpr double kDefaultFontSize = 17;
// The size the platform gives label text by default.
inline constexpr double kLabelFontSize = 17;
// Text that shrinks to fit its width stops at this size when no minimum is given.
inline constexpr double kSmallestFittedFontSize = 1;

struct Font {
    std::string name = kSystemFontName;
    double pointSize = kDefaultFontSize;
    bool bold = false;

    static Font systemFont(double size) { return {kSystemFontName, size, false}; }
    static Font boldSystemFont(double size) { return {kSystemFontName, size, true}; }
    static Font named(std::string name, double size) { return {std::move(name), size, false}; }
    static double labelFontSize() { return kLabelFontSize; }

    friend bool operator==(const Font&, const Font&) = default;
};

} // namespace platform
