#include <gtest/gtest.h>

#include <string>

#include "api/cid.h"

namespace {

TEST(ValidCid, AcceptedAndRefused) {
    const struct {
        std::string cid;
        bool want;
    } cases[] = {
        {"", 0},
        {"a", 1},
        {std::string(128, 'a'), 1},
        {std::string(129, 'a'), 0},
        {"-abc", 0},
        {".abc", 0},
        {"-", 0},
        {".", 0},
        {"_abc", 1},
        {"abc-", 1},
        {"abc.", 1},
        {"web_1.2-x", 1},
        {"3f2a9c0d1e4b", 1},
        {"ABCxyz019", 1},
        {"a b", 0},
        {"a\tb", 0},
        {"a/b", 0},
        {"a:b", 0},
        {"a;b", 0},
        {"a'b", 0},
        {"a\"b", 0},
        {"a%b", 0},
        {"a$b", 0},
        {"a`b", 0},
        {"a|b", 0},
        {"a&b", 0},
        {"a\nb", 0},
        {"a\x01", 0},
        {"a\x7f", 0},
        {"caf\xc3\xa9", 0},
        {"\xff", 0},
        {"a\x80", 0},
    };
    for (const auto &c : cases) EXPECT_EQ(valid_cid(c.cid.c_str()), c.want) << c.cid;
}

TEST(ValidCid, EveryByteOutsideTheSetIsRefused) {
    for (int b = 1; b < 256; ++b) {
        const bool allowed = (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') || b == '_' ||
                             b == '.' || b == '-';
        std::string cid = "x";
        cid += static_cast<char>(b);
        EXPECT_EQ(valid_cid(cid.c_str()), allowed ? 1 : 0) << b;
    }
}

}  // namespace
