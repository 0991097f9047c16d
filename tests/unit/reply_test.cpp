#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <regex>
#include <string>

#include "api/runtime_block.h"
#include "memory_stream.h"
#include "reply/head.h"
#include "reply/json_str.h"
#include "reply/utc_now.h"
#include "utc_text.h"

namespace {

std::string json_of(const std::string &bytes) {
    return written_by([&](FILE *out) { json_str(out, bytes.c_str()); });
}

TEST(JsonStr, EveryEscapeClass) {
    const struct {
        std::string in, out;
    } cases[] = {
        {"", "\"\""},
        {"plain text / slash", "\"plain text / slash\""},
        {"\t\n\r\"\\", "\"\\t\\n\\r\\\"\\\\\""},
        {"\x01", "\"\\u0001\""},
        {"\x08\x0c", "\"\\u0008\\u000c\""},
        {"\x1b[0m", "\"\\u001b[0m\""},
        {"\x1f", "\"\\u001f\""},
        {"\x7f", "\"\x7f\""},
        {"caf\xc3\xa9", "\"caf\xc3\xa9\""},
        {"\x80\xff\xfe", "\"\x80\xff\xfe\""},
        {"a\"b\\c\nd", "\"a\\\"b\\\\c\\nd\""},
    };
    for (const auto &c : cases) EXPECT_EQ(json_of(c.in), c.out);
}

TEST(JsonStr, NullIsEmptyString) {
    EXPECT_EQ(written_by([](FILE *out) { json_str(out, nullptr); }), "\"\"");
}

TEST(JsonStr, EveryControlByteUsesItsForm) {
    for (int c = 1; c < 0x20; ++c) {
        std::string in(1, static_cast<char>(c));
        std::string want;
        if (c == '\t')
            want = "\"\\t\"";
        else if (c == '\n')
            want = "\"\\n\"";
        else if (c == '\r')
            want = "\"\\r\"";
        else {
            char buf[16];
            std::snprintf(buf, sizeof buf, "\"\\u%04x\"", c);
            want = buf;
        }
        EXPECT_EQ(json_of(in), want) << c;
    }
}

TEST(Head, JsonHeadAndStatusLine) {
    const std::string head =
        "Content-Type: application/json; charset=utf-8\r\nCache-Control: no-store\r\nX-Content-Type-Options: "
        "nosniff\r\n\r\n";
    ASSERT_EQ(head.size(), 107u);
    EXPECT_EQ(written_by(json_header), head);
    EXPECT_EQ(written_by([](FILE *out) { json_header_status(out, "503 Service Unavailable"); }),
              "Status: 503 Service Unavailable\r\n" + head);
}

TEST(RuntimeBlock, AvailableAndMissing) {
    const struct {
        const char *bin, *label;
        bool available;
        const char *want;
    } cases[] = {
        {"docker", "docker", true, "\"runtime\":{\"available\":true,\"bin\":\"docker\",\"label\":\"docker\"}"},
        {"/opt/my \"rt\"", "custom", true,
         "\"runtime\":{\"available\":true,\"bin\":\"/opt/my \\\"rt\\\"\",\"label\":\"custom\"}"},
        {"docker", "docker", false, "\"runtime\":{\"available\":false,\"bin\":\"\",\"label\":\"\"}"},
        {"", "", false, "\"runtime\":{\"available\":false,\"bin\":\"\",\"label\":\"\"}"},
    };
    for (const auto &c : cases) {
        runtime_selection rt;
        std::snprintf(rt.bin, sizeof rt.bin, "%s", c.bin);
        std::snprintf(rt.label, sizeof rt.label, "%s", c.label);
        rt.available = c.available;
        EXPECT_EQ(written_by([&](FILE *out) { emit_runtime_block(out, rt); }), c.want);
    }
}

TEST(UtcNow, TwentyCharacterUtcText) {
    char buf[kUtcTextSize];
    std::memset(buf, 'x', sizeof buf);
    time_t before = std::time(nullptr);
    utc_now(buf);
    time_t after = std::time(nullptr);
    ASSERT_EQ(std::strlen(buf), 20u);
    EXPECT_TRUE(std::regex_match(buf, std::regex("[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z")));
    // It is UTC, not local time: it must equal one of the seconds the call spanned.
    bool matched = false;
    for (time_t t = before; t <= after; ++t) matched = matched || libc_utc(t) == buf;
    EXPECT_TRUE(matched) << buf;
}

}  // namespace

namespace {

TEST(FormatUtc, AgreesWithTheCLibrary) {
    // Leap days, century rules, the ends of days and of the range.
    const time_t moments[] = {0,          59,         86399,      86400,      951782400,  951868799,
                              951868800,  1078012800, 4107542400, 4107628800, 1798761599, 253402300799};
    char out[kUtcTextSize];
    for (time_t t : moments) {
        ASSERT_TRUE(format_utc(t, out)) << t;
        EXPECT_EQ(std::string(out), libc_utc(t)) << t;
    }
    // Every day's last second from 1970 to 2200.
    for (time_t t = 86399; t < 7258118400; t += 86400) {
        format_utc(t, out);
        ASSERT_EQ(std::string(out), libc_utc(t)) << t;
    }
}

TEST(FormatUtc, OutsideTheRangeWritesNothing) {
    char out[kUtcTextSize] = "untouched";
    EXPECT_FALSE(format_utc(-1, out));
    EXPECT_FALSE(format_utc(253402300800, out));  // year 10000
    EXPECT_STREQ(out, "untouched");
}

}  // namespace
