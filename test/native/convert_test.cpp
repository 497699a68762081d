// Text-to-value conversions of JS arguments.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>

#include "napi/napi_util.h"

namespace {

TEST(StringToInt, ReadsLikeAtoiAndSaturates) {
    struct Case {
        const char *text;
        int expected;
    } cases[] = {{"", 0},
                 {"42", 42},
                 {"  42xyz", 42},
                 {"-3", -3},
                 {" -7", -7},
                 {"12abc", 12},
                 {"0x10", 0},
                 {"3.9", 3},
                 {"+5", 5},
                 {"abc", 0},
                 {"2147483647", INT_MAX},
                 {"2147483648", INT_MAX},
                 {"-2147483649", INT_MIN},
                 {"99999999999999999999", INT_MAX}};
    for (const Case &c : cases) EXPECT_EQ(NapiUtil::StringToInt(c.text), c.expected) << c.text;
}

TEST(StringToLong, KeepsSixtyFourBitsAndSaturates) {
    EXPECT_EQ(NapiUtil::StringToLong("8589934592"), 8589934592L);
    EXPECT_EQ(NapiUtil::StringToLong("-8589934592"), -8589934592L);
    EXPECT_EQ(NapiUtil::StringToLong("9223372036854775808"), std::numeric_limits<long>::max());
    EXPECT_EQ(NapiUtil::StringToLong("-99999999999999999999"), std::numeric_limits<long>::min());
    EXPECT_EQ(NapiUtil::StringToLong(""), 0);
}

TEST(StringToFloat, ReadsLeadingNumberNeverThrows) {
    struct Case {
        const char *text;
        float expected;
    } cases[] = {{"0.25", 0.25f}, {" 1.5x", 1.5f}, {"1e-1", 0.1f}, {"2.5dB", 2.5f},
                 {"0x1p3", 8.0f}, {"", 0.0f},      {"abc", 0.0f},  {"-0.5", -0.5f}};
    for (const Case &c : cases)
        EXPECT_FLOAT_EQ(NapiUtil::StringToFloat(c.text), c.expected) << c.text;
    EXPECT_TRUE(std::isinf(NapiUtil::StringToFloat("1e40")));
    EXPECT_TRUE(std::isinf(NapiUtil::StringToFloat("-1e40")));
    EXPECT_EQ(NapiUtil::StringToFloat("1e-60"), 0.0f);
    EXPECT_TRUE(std::isnan(NapiUtil::StringToFloat("nan")));
}

TEST(StringToBool, OnlyExactTrue) {
    EXPECT_TRUE(NapiUtil::StringToBool("true"));
    for (const char *text : {"True", "TRUE", "1", "yes", " true", "true ", ""}) {
        EXPECT_FALSE(NapiUtil::StringToBool(text)) << text;
    }
}

}  // namespace
