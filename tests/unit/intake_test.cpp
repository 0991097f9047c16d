#include <gtest/gtest.h>

#include "cgi/intake.h"

namespace {

TEST(TimeoutFromText, SecondsOrTheDefault) {
    const struct {
        const char *text;
        int seconds;
    } cases[] = {
        {nullptr, 30}, {"", 30},     {"0", 0},       {"1", 1},     {"3600", 3600}, {"3601", 30},
        {"-1", 30},    {"abc", 30},  {"5s", 30},     {" 5", 30},   {"+5", 30},     {"007", 7},
        {"00", 0},     {"99999999999999999999", 30}, {"1.5", 30},
    };
    for (const auto &c : cases) EXPECT_EQ(timeout_from_text(c.text), c.seconds) << (c.text ? c.text : "(unset)");
}

}  // namespace
