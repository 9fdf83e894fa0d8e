#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "platform/foundation/Value.h"

using namespace platform;

TEST(Value, JSONRepliesParseIntoTypedValues) {
    std::string error;
    auto v = Value::fromJSON(R"({"extra":{"refresh_interval":30,"ratio":0.5},"rations":[{"nid":"a","type":1}],
        "on":true,"none":null,"big":18446744073709551615,"dup":1,"dup":2,"text":"caf\u00e9"})",
                             &error);
    ASSERT_TRUE(v) << error;
    EXPECT_EQ(v->find("extra")->find("refresh_interval")->intOr(0), 30);
    EXPECT_DOUBLE_EQ(v->find("extra")->find("ratio")->doubleOr(0), 0.5);
    EXPECT_EQ(v->find("rations")->at(0)->find("nid")->stringOr(""), "a");
    EXPECT_TRUE(v->find("on")->boolOr(false));
    EXPECT_TRUE(v->find("none")->isNull());
    EXPECT_DOUBLE_EQ(*v->find("big")->number(), 18446744073709551615.0); // beyond 64-bit signed: a real
    EXPECT_EQ(v->find("dup")->intOr(0), 2);                              // the last of a repeated key
    EXPECT_EQ(v->find("text")->stringOr(""), "café");
    EXPECT_EQ(*Value::fromJSON("42"), Value(42)); // a bare scalar is a whole document
    EXPECT_EQ(*Value::fromJSON(std::string("[1]\0\0", 5)), Value(Array{Value(1)})); // NUL padding ends it
}

TEST(Value, TypedReadersNeverThrow) {
    Value text("12");
    EXPECT_FALSE(text.number());
    EXPECT_EQ(text.intOr(-1), -1);
    EXPECT_FALSE(text.boolOr(false));
    EXPECT_EQ(text.find("x"), nullptr);
    EXPECT_EQ(text.at(0), nullptr);
    EXPECT_EQ(text.size(), 0u);
    EXPECT_EQ(Value(1e300).intOr(0), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(Value(-2.9).intOr(0), -2);
    EXPECT_FALSE(Value(std::nan("")).integer());
    Value built;
    built["a"]["b"] = Value(1);
    EXPECT_EQ(built.find("a")->find("b")->intOr(0), 1);
}

TEST(Value, MalformedOrHostileJSONIsRefused) {
    std::string deep(300, '[');
    deep += std::string(300, ']');
    // Nothing may follow a NUL byte (the reader would stop there and take what came before).
    for (const std::string& bad :
         {std::string("{"), std::string("{\"a\":}"), std::string("[1,]"), std::string("nul"), std::string(""),
          deep, std::string("[1]\0x", 5), std::string("{}\0\0]", 5), std::string("\0[1]", 4)}) {
        std::string error;
        EXPECT_FALSE(Value::fromJSON(bad, &error)) << bad.substr(0, 20);
        EXPECT_FALSE(error.empty());
    }
}

TEST(Value, WritesCompactJSON) {
    Value v(Dictionary{{"b", Value(Array{Value(1), Value(2.5), Value(true), Value()})},
                       {"a", Value("x\"y")},
                       {"nan", Value(std::nan(""))},
                       {"bad", Value(std::string("\xFF"))}});
    // Invalid UTF-8 is replaced by U+FFFD rather than thrown on.
    EXPECT_EQ(v.toJSON(), R"({"a":"x\"y","b":[1,2.5,true,null],"bad":")"
                          "\xEF\xBF\xBD"
                          R"(","nan":null})");
    EXPECT_EQ(*Value::fromJSON(Value(Dictionary{{"k", Value(Array{Value("v")})}}).toJSON()),
              Value(Dictionary{{"k", Value(Array{Value("v")})}}));
}
