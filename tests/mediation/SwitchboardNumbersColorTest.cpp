#include <gtest/gtest.h>

#include <climits>

#include "mediation/SwitchboardColor.h"
#include "mediation/SwitchboardNumbers.h"

using namespace mediation;
using platform::Value;

namespace {

TEST(SwitchboardNumbers, ReadNumbersAndNumericStrings) {
    struct Case {
        const char* name;
        std::optional<Value> value; // nullopt: the key is missing
        bool ok;
        int intResult;
        double doubleResult;
    };
    const Case cases[] = {
        {"integer", Value(45), true, 45, 45.0},
        {"string", Value("45"), true, 45, 45.0},
        {"string with fraction", Value("12.75"), true, 12, 12.75},
        {"leading space and trailing text", Value("  -7px"), true, -7, -7.0},
        {"string without number", Value("abc"), true, 0, 0.0},
        {"real truncates", Value(45.9), true, 45, 45.9},
        {"boolean", Value(true), true, 1, 1.0},
        {"huge real saturates", Value(1e12), true, INT_MAX, 1e12},
        {"huge string saturates", Value("99999999999"), true, INT_MAX, 99999999999.0},
        {"null", Value(), false, -1, -1.0},
        {"array", Value(platform::Array{1}), false, -1, -1.0},
        {"object", Value(platform::Dictionary{{"a", 1}}), false, -1, -1.0},
        {"missing", std::nullopt, false, -1, -1.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Value* v = c.value ? &*c.value : nullptr;
        int i = -1;
        double d = -1;
        float f = -1;
        EXPECT_EQ(sbIntVal(i, v), c.ok);
        EXPECT_EQ(sbDoubleVal(d, v), c.ok);
        EXPECT_EQ(sbFloatVal(f, v), c.ok);
        EXPECT_EQ(i, c.intResult);
        EXPECT_DOUBLE_EQ(d, c.doubleResult);
        EXPECT_FLOAT_EQ(f, static_cast<float>(c.doubleResult));
    }
}

TEST(SwitchboardNumbers, NonFiniteStringsAreNoNumber) {
    for (const char* text : {"1e999", "-1e999"}) {
        SCOPED_TRACE(text);
        Value v(text);
        double d = 7;
        EXPECT_FALSE(sbDoubleVal(d, &v));
        EXPECT_EQ(d, 7);
    }
    Value tooBigForFloat(1e300);
    float f = 7;
    EXPECT_FALSE(sbFloatVal(f, &tooBigForFloat));
    EXPECT_EQ(f, 7);
}

std::optional<platform::Color> colorFromJSON(const char* json) {
    auto v = Value::fromJSON(json);
    EXPECT_TRUE(v) << json;
    return colorInitWithDict(v ? &*v : nullptr);
}

TEST(SwitchboardColor, ReadsColourObjects) {
    struct Case {
        const char* json;
        std::optional<platform::Color> expected;
    };
    auto c = [](float r, float g, float b, float a) {
        return platform::Color{r / 255.0f, g / 255.0f, b / 255.0f, a};
    };
    const Case cases[] = {
        {R"({"red":255,"green":128,"blue":0})", c(255, 128, 0, 1.0f)},
        {R"({"red":255,"green":128,"blue":0,"alpha":0.5})", c(255, 128, 0, 0.5f)},
        {R"({"red":"10","green":"20","blue":"30","alpha":"0.25"})", c(10, 20, 30, 0.25f)},
        {R"({"red":10,"green":20,"blue":30,"alpha":[1]})", c(10, 20, 30, 1.0f)},
        {R"({"red":10,"green":20,"blue":30,"alpha":null})", c(10, 20, 30, 1.0f)},
        {R"({"red":300,"green":-5,"blue":30,"alpha":2})", platform::Color{1.0, 0.0, 30 / 255.0f, 1.0}},
        {R"({"red":10,"blue":30})", std::nullopt},
        {R"({"red":10,"green":{},"blue":30})", std::nullopt},
        {R"({"red":null,"green":1,"blue":30})", std::nullopt},
        {R"("#ff0000")", std::nullopt},
        {R"([255,0,0])", std::nullopt},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.json);
        EXPECT_EQ(colorFromJSON(k.json), k.expected);
    }
    EXPECT_EQ(colorInitWithDict(nullptr), std::nullopt);
}

TEST(SwitchboardColor, ComponentsAreSinglePrecision) {
    auto color = colorFromJSON(R"({"red":77,"green":77,"blue":77})");
    ASSERT_TRUE(color);
    EXPECT_EQ(color->red, static_cast<double>(77.0f / 255.0f));
    EXPECT_NE(color->red, 77.0 / 255.0);
    EXPECT_EQ(describeColor(platform::Color{0.3, 0.3, 0.3, 1}), "rgba(0.3, 0.3, 0.3, 1)");
    EXPECT_EQ(describeColor(std::nullopt), "(null)");
}

} // namespace
