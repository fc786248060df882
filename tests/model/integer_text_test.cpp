#include "model/integer_text.h"

#include <gtest/gtest.h>

#include <optional>

using tk7v::ParseInteger;

TEST(IntegerText, AcceptedForms) {
    const struct {
        const char* text;
        std::int32_t value;
    } cases[] = {
        {"5", 5},
        {"  5", 5},
        {"+7", 7},
        {"-1", -1},
        {"0", 0},
        {"-0", 0},
        {"007", 7},
        {"$1F", 31},
        {"x1f", 31},
        {"X1F", 31},
        {"0x10", 16},
        {"0X10", 16},
        {"$0", 0},
        {"$FFFFFFFF", -1},
        {"$7FFFFFFF", 2147483647},
        {"$000000001", 1}, // leading zeros are not significant
        {"2147483647", 2147483647},
        {"-2147483648", -2147483647 - 1},
        {"300", 300},
        {"   -12", -12},
    };
    for (const auto& c : cases) {
        const auto v = ParseInteger(c.text);
        ASSERT_TRUE(v.has_value()) << c.text;
        EXPECT_EQ(*v, c.value) << c.text;
    }
}

TEST(IntegerText, RefusedForms) {
    const char* cases[] = {
        "",    "   ", "5 ",  "1a",   "a",          "+",          "-",           "$",
        "0x",  "x",   "-$1", "+0x1", "$1FFFFFFFF", "2147483648", "-2147483649", "99999999999999999999",
        "\t5", "5\t", "1 2", "0x1g", "$-1",        "１",         "٣",           "1.0",
        "1e3",
    };
    for (const char* c : cases)
        EXPECT_FALSE(ParseInteger(c).has_value()) << "'" << c << "'";
}
