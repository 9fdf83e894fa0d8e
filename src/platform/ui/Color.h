#pragma once
// A colour as red, green, blue and alpha components, each from 0 to 1, and the colour space
// it was made in. Plain value.
//
// The colour space is what the platform reports for it: a grey level (made with `white`, and
// the named greys black, white, grey, light and dark grey and clear) is in the monochrome
// space and has two components (grey, alpha); every other colour is RGB with four (red,
// green, blue, alpha). Code that tells a grey from a colour asks numberOfComponents() or
// colorSpaceModel(). Two colours are equal when they show the same (their components match,
// whatever the space).
#include <string>
#include <vector>

namespace platform {

// The platform's numbers.
enum class ColorSpaceModel { Monochrome = 0, RGB = 1 };

struct Color {
    double red = 0;
    double green = 0;
    double blue = 0;
    double alpha = 0;
    ColorSpaceModel space = ColorSpaceModel::RGB;

    static Color rgba(double r, double g, double b, double a = 1.0) { return {r, g, b, a}; }
    static Color white(double w, double a = 1.0) { return {w, w, w, a, ColorSpaceModel::Monochrome}; }
    static Color clearColor() { return white(0, 0); }
    static Color blackColor() { return white(0); }
    static Color whiteColor() { return white(1); }
    static Color grayColor() { return white(0.5); }
    static Color lightGrayColor() { return white(2.0 / 3); }
    static Color darkGrayColor() { return white(1.0 / 3); }
    static Color redColor() { return {1, 0, 0, 1}; }
    static Color greenColor() { return {0, 1, 0, 1}; }
    static Color blueColor() { return {0, 0, 1, 1}; }

    Color withAlpha(double a) const { return {red, green, blue, a, space}; }
    bool isClear() const { return alpha == 0; }

    ColorSpaceModel colorSpaceModel() const { return space; }
    // 2 for a grey, 4 for an RGB colour.
    int numberOfComponents() const { return space == ColorSpaceModel::Monochrome ? 2 : 4; }
    // {grey, alpha} or {red, green, blue, alpha}.
    std::vector<double> components() const {
        if (space == ColorSpaceModel::Monochrome)
            return {red, alpha};
        return {red, green, blue, alpha};
    }

    friend bool operator==(const Color& a, const Color& b) {
        return a.red == b.red && a.green == b.green && a.blue == b.blue && a.alpha == b.alpha;
    }
};

// "rgba(1, 0.5, 0, 1)", for logs and test messages.
std::string toString(const Color& c);

} // namespace platform
