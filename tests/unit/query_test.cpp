#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "cgi/intake.h"
#include "cgi/query.h"
#include "scoped_env.h"

namespace {

struct lookup_case {
    const char *text;
    const char *name;
    size_t size;
    int found;
    std::string value;
};

TEST(GetQueryVal, SegmentsCutsAndEscapes) {
    const lookup_case cases[] = {
        {"a=1&b=2&a=3", "a", 64, 1, "1"},
        {"a=1&b=2&a=3", "b", 64, 1, "2"},
        {"a=1&b=2&a=3", "c", 64, 0, ""},
        {"cid=abc&", "cid", 64, 1, "abc"},
        {"x=1&", "cid", 64, 0, ""},
        {"xaction=1", "action", 64, 0, ""},
        {"action&action=list", "action", 64, 1, "list"},
        {"actionx=1&action=2", "action", 64, 1, "2"},
        {"action=a=b", "action", 64, 1, "a=b"},
        {"a=x;b=y", "b", 64, 0, ""},
        {"a=x;b=y", "a", 64, 1, "x;b=y"},
        {"embed=", "embed", 16, 1, ""},
        {"embed=&x=1", "embed", 16, 1, ""},
        {"Embed=1", "embed", 16, 0, ""},
        {"a=1&&b=2", "b", 64, 1, "2"},
        {"q=a%2Bb+c%2", "q", 64, 1, "a+b c%2"},
        {"q=%zz", "q", 64, 1, "%zz"},
        {"q=%4a%4A", "q", 64, 1, "JJ"},
        {"q=%", "q", 64, 1, "%"},
        {"q=%4", "q", 64, 1, "%4"},
        {"q=%%41", "q", 64, 1, "%A"},
        {"q=%e2%82%ac", "q", 64, 1, "\xe2\x82\xac"},
        {"q=a%00b", "q", 64, 1, std::string("a")},
        // The cut counts raw characters and happens before decoding.
        {"e=12345678901234567890", "e", 16, 1, "123456789012345"},
        {"e=12345678901234%41", "e", 16, 1, "12345678901234%"},
        {"e=1234567890123%41", "e", 16, 1, "1234567890123%4"},
        {"e=%41%41%41%41%41", "e", 16, 1, "AAAAA"},
        {"p=ab", "p", 2, 1, "a"},
    };
    for (const lookup_case &c : cases) {
        char out[64];
        std::memset(out, 'Z', sizeof out);
        int found = get_query_val(c.text, c.name, out, c.size);
        EXPECT_EQ(found, c.found) << c.text << " / " << c.name;
        EXPECT_EQ(std::string(out), c.value) << c.text << " / " << c.name;
    }
}

TEST(GetQueryVal, NullAndEmptyTextLeaveEmptyResult) {
    char out[8] = "junk";
    EXPECT_FALSE(get_query_val(nullptr, "a", out, sizeof out));
    EXPECT_STREQ(out, "");
    std::strcpy(out, "junk");
    EXPECT_FALSE(get_query_val("", "a", out, sizeof out));
    EXPECT_STREQ(out, "");
}

TEST(IsPostRequest, OnlyExactPost) {
    const struct {
        const char *method;
        int want;
    } cases[] = {{nullptr, 0}, {"POST", 1}, {"post", 0}, {"POST ", 0}, {"GET", 0}, {"", 0}, {"PUT", 0}};
    for (const auto &c : cases) {
        scoped_env env;
        env.set("REQUEST_METHOD", c.method);
        EXPECT_EQ(is_post_request(), c.want) << (c.method ? c.method : "(unset)");
    }
}

}  // namespace
