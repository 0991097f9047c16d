#include <gtest/gtest.h>

#include "cgi/auth.h"

namespace {

request make_request(const char *password, const char *header, const char *authorization, const char *query) {
    request req = {};
    req.password = password;
    req.header_password = header;
    req.authorization = authorization;
    req.query_set = query != nullptr;
    req.query = query ? query : "";
    return req;
}

struct auth_case {
    const char *what;
    const char *password;
    const char *header;
    const char *authorization;
    const char *query;
    bool allowed;
};

TEST(NodeAuth, EachWayAndItsRules) {
    const auth_case cases[] = {
        {"no password configured", nullptr, nullptr, nullptr, nullptr, 1},
        {"empty password configured", "", nullptr, nullptr, nullptr, 1},
        {"nothing offered", "s3cret", nullptr, nullptr, nullptr, 0},
        {"header", "s3cret", "s3cret", nullptr, nullptr, 1},
        {"header wins over wrong others", "s3cret", "s3cret", "Bearer nope", "pwd=nope", 1},
        {"header wrong case", "s3cret", "S3CRET", nullptr, nullptr, 0},
        {"header with trailing space", "s3cret", "s3cret ", nullptr, nullptr, 0},
        {"header prefix only", "s3cret", "s3cre", nullptr, nullptr, 0},
        {"header longer", "s3cret", "s3crets", nullptr, nullptr, 0},
        {"bearer", "s3cret", nullptr, "Bearer s3cret", nullptr, 1},
        {"bearer leading spaces", "s3cret", nullptr, "   Bearer s3cret", nullptr, 1},
        {"bearer several spaces", "s3cret", nullptr, "Bearer    s3cret", nullptr, 1},
        {"bearer lower case", "s3cret", nullptr, "bearer s3cret", nullptr, 0},
        {"bearer upper case", "s3cret", nullptr, "BEARER s3cret", nullptr, 0},
        {"bearer tab", "s3cret", nullptr, "Bearer\ts3cret", nullptr, 0},
        {"bearer leading tab", "s3cret", nullptr, "\tBearer s3cret", nullptr, 0},
        {"bearer trailing space", "s3cret", nullptr, "Bearer s3cret ", nullptr, 0},
        {"basic scheme", "s3cret", nullptr, "Basic s3cret", nullptr, 0},
        {"bearer empty", "s3cret", nullptr, "Bearer ", nullptr, 0},
        {"wrong header then right pwd", "s3cret", "nope", nullptr, "action=list&pwd=s3cret", 1},
        {"wrong bearer then right pwd", "s3cret", nullptr, "Bearer nope", "pwd=s3cret", 1},
        {"pwd with plus for space", "a b", nullptr, nullptr, "pwd=a+b", 1},
        {"pwd with %20 for space", "a b", nullptr, nullptr, "pwd=a%20b", 1},
        {"pwd empty", "s3cret", nullptr, nullptr, "pwd=", 0},
        {"pwd not at a segment start", "s3cret", nullptr, nullptr, "xpwd=s3cret", 0},
        {"pwd second occurrence ignored", "s3cret", nullptr, nullptr, "pwd=no&pwd=s3cret", 0},
    };
    for (const auth_case &c : cases) {
        EXPECT_EQ(node_auth_ok(make_request(c.password, c.header, c.authorization, c.query)), c.allowed) << c.what;
    }
}

TEST(NodeAuth, PwdTakesAtMost255RawCharacters) {
    std::string secret(255, 'k');
    std::string query = "pwd=" + secret;
    EXPECT_TRUE(node_auth_ok(make_request(secret.c_str(), nullptr, nullptr, query.c_str())));
    // A 256-character password can never be matched through pwd.
    std::string longer(256, 'k');
    std::string longer_query = "pwd=" + longer;
    EXPECT_FALSE(node_auth_ok(make_request(longer.c_str(), nullptr, nullptr, longer_query.c_str())));
}

TEST(SameSecret, EqualOnlyForIdenticalTexts) {
    const struct {
        const char *a, *b;
        bool want;
    } cases[] = {{"abc", "abc", 1}, {"abc", "abd", 0}, {"abc", "xbc", 0}, {"abc", "ab", 0},
                 {"abc", "abcabc", 0}, {"abc", "", 0}, {"", "", 1}, {"", "a", 0}};
    for (const auto &c : cases) EXPECT_EQ(same_secret(c.a, c.b), c.want) << c.a << " vs " << c.b;
}

}  // namespace
