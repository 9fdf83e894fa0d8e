#pragma once
// A colour as red, green, blue and alpha components, each from 0 to 1. Plain value.
// The named colours are the platform's standard ones; `grayColor` is its plain grey (0.5).
#include <string>

namespace platform {

struct Color {
    double red = 0;
    double green = 0;
    double blue = 0;
    double alpha = 0;

    static Color rgba(double r, double g, double b, double a = 1.0) { return {r, g, b, a}; }
    static Color white(double w, double a = 1.0) { return {w, w, w, a}; }
    static Color clearColor() { return {0, 0, 0, 0}; }
    static Color blackColor() { return {0, 0, 0, 1}; }
    static Color whiteColor() { return {1, 1, 1, 1}; }
    static Color grayColor() { return {0.5, 0.5, 0.5, 1}; }
    static Color lightGrayColor() { return {2.0 / 3, 2.0 / 3, 2.0 / 3, 1}; }
    static Color darkGrayColor() { return {1.0 / 3, 1.0 / 3, 1.0 / 3, 1}; }
    static Color redColor() { return {1, 0, 0, 1}; }
    static Color greenColor() { return {0, 1, 0, 1}; }
    static Color blueColor() { return {0, 0, 1, 1}; }

    Color withAlpha(double a) const { return {red, green, blue, a}; }
    bool isClear() const { return alpha == 0; }

    friend bool operator==(const Color&, const Color&) = default;
};

// "rgba(1, 0.5, 0, 1)", for logs and test messages.
std::string toString(const Color& c);

} // namespace platform
