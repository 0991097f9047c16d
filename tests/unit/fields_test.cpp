#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "api/fields.h"
#include "api/logs.h"
#include "api/state_word.h"

namespace {

std::vector<std::string> split(const std::string &line, int max) {
    std::vector<char> buf(line.begin(), line.end());
    buf.push_back('\0');
    char *fields[8];
    int n = split_pipe(buf.data(), fields, max);
    std::vector<std::string> out;
    for (int i = 0; i < n; ++i) out.push_back(fields[i]);
    return out;
}

TEST(SplitPipe, FieldsAndLastFieldCut) {
    using v = std::vector<std::string>;
    EXPECT_EQ(split("a|b|c", 6), (v{"a", "b", "c"}));
    EXPECT_EQ(split("abc", 6), (v{"abc"}));
    EXPECT_EQ(split("", 6), (v{""}));
    EXPECT_EQ(split("|x", 6), (v{"", "x"}));
    EXPECT_EQ(split("a|", 6), (v{"a", ""}));
    EXPECT_EQ(split("1|2|3|4|5|6|7|8", 6), (v{"1", "2", "3", "4", "5", "6|7|8"}));
    EXPECT_EQ(split("id|1%|2MiB / 3GiB|x", 3), (v{"id", "1%", "2MiB / 3GiB|x"}));
    EXPECT_EQ(split("a\r|b|c\r", 6), (v{"a\r", "b", "c"}));
    EXPECT_EQ(split("a|b\rtail|c", 2), (v{"a", "b"}));
}

TEST(CopyField, CutsAndTerminates) {
    char dst[4];
    copy_field(dst, sizeof dst, "abcdef");
    EXPECT_STREQ(dst, "abc");
    copy_field(dst, sizeof dst, "ab");
    EXPECT_STREQ(dst, "ab");
    copy_field(dst, sizeof dst, nullptr);
    EXPECT_STREQ(dst, "");
}

TEST(StateWord, NormalisationTable) {
    const struct {
        std::string raw, want;
    } cases[] = {
        {"running", "running"},
        {"Up 3 hours", "running"},
        {"Exited (0) 5 minutes ago", "exited"},
        {"stopped", "exited"},
        {"exit", "exited"},
        {"PAUSED", "paused"},
        {"Up 2 hours (Paused)", "paused"},
        {"Restarting (1) 10 seconds ago", "restarting"},
        {"dead", "dead"},
        {"created", "created"},
        {"Created", "created"},
        {"removing", "removing"},
        {"stopping", "stopping"},
        {"Configured", "configured"},
        {"", ""},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZABCDEFGHIJKLMN", "abcdefghijklmnopqrstuvwxyzabcde"},
        {"\xc3\x89TAT", "\xc3\x89tat"},
        {"backup", "running"},  // "up" anywhere counts
    };
    for (const auto &c : cases) {
        char out[32];
        normalize_state(c.raw.c_str(), out, sizeof out);
        EXPECT_EQ(std::string(out), c.want) << c.raw;
    }
}

std::vector<std::string> log_elements(const std::string &text) {
    std::vector<std::string> out;
    char line[kLogLineMax + 1];
    for (const char *pos = text.c_str(); *pos;) {
        next_log_element(&pos, line);
        out.push_back(line);
    }
    return out;
}

TEST(LogElements, Cutting) {
    using v = std::vector<std::string>;
    EXPECT_EQ(log_elements("a\nb\n"), (v{"a", "b"}));
    EXPECT_EQ(log_elements("\n\na\n\n\nb"), (v{"", "a", "b"}));
    EXPECT_EQ(log_elements("a\n\rb"), (v{"a", "b"}));
    EXPECT_EQ(log_elements("a\rb\n"), (v{"a\rb"}));
    EXPECT_EQ(log_elements("\n"), (v{""}));
    EXPECT_EQ(log_elements(""), (v{}));
    EXPECT_EQ(log_elements(std::string(5000, 'x')),
              (v{std::string(2047, 'x'), std::string(2047, 'x'), std::string(906, 'x')}));
    EXPECT_EQ(log_elements(std::string(2047, 'x') + "\nz"), (v{std::string(2047, 'x'), "z"}));
    EXPECT_EQ(log_elements(std::string(2047, 'x') + "\r\r\nz"), (v{std::string(2047, 'x'), "z"}));
}

}  // namespace
