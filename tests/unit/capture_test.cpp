#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include <cstdlib>
#include <string>
#include <vector>
#include <algorithm>

#include "proc/capture.h"
#include "proc/process_runner.h"
#include "proc/signals.h"

namespace {

struct captured {
    std::string text;
    bool is_null;
    int status;
};

// The runner waits under the run's signal handling, as main sets it up.
process_runner runner_until(int seconds) {
    install_signal_handling();
    return process_runner(deadline_after(monotonic_now(), seconds));
}

captured capture(const std::string &command) {
    process_runner runner = runner_until(0);
    const char *commands[] = {command.c_str()};
    command_output out;
    out.status = 12345;
    runner.run(commands, &out, 1);
    return captured{out.text ? std::string(out.text.get()) : std::string(), out.text == nullptr, out.status};
}

TEST(ProcessRunner, OutputsAndExitStatuses) {
    const struct {
        const char *command;
        std::string text;
        int status;
    } cases[] = {
        {"true", "", 0},
        {"exit 3", "", 3},
        {"printf 'a\\r\\nb\\r\\n'", "a\nb\n", 0},
        {"printf 'a\\rb'", "a\rb", 0},
        {"printf 'a\\r\\r\\nb'", "a\r\nb", 0},
        {"printf 'x\\n'; exit 1", "x\n", 1},
        {"echo oops >&2; exit 2", "", 2},  // no " 2>&1": error output is not captured
        {"printf 'a\\0b'", "a", 0},  // the text ends at its first zero byte
        {"kill -9 $$", "", 128 + 9},
        {"/nonexistent/tool 2>&1", "", 127},
    };
    for (const auto &c : cases) {
        captured got = capture(c.command);
        EXPECT_FALSE(got.is_null) << c.command;
        // The shell's own wording of "not found" is not ours to fix.
        if (std::string(c.command).find("nonexistent") == std::string::npos) {
            EXPECT_EQ(got.text, c.text) << c.command;
        }
        EXPECT_EQ(got.status, c.status) << c.command;
    }
}

TEST(ProcessRunner, CrLfFoldedAcrossReads) {
    // 4095 bytes, then CR at the end of the first 4096-byte read and LF at
    // the start of the next: still one LF.
    captured got = capture("head -c 4095 /dev/zero | tr '\\0' a; printf '\\r'; sleep 0.2; printf '\\nb'");
    ASSERT_EQ(got.text.size(), 4097u);
    EXPECT_EQ(got.text.substr(4094), "a\nb");
}

TEST(ProcessRunner, LargeOutputKeptWhole) {
    captured got = capture("head -c 300000 /dev/zero | tr '\\0' x");
    EXPECT_EQ(got.status, 0);
    EXPECT_EQ(got.text, std::string(300000, 'x'));
}

TEST(CaptureAppend, CapacityGrowsFrom8192ByDoubling) {
    const struct {
        size_t total, capacity;
    } cases[] = {{0, 0}, {1, 8192}, {8191, 8192}, {8192, 16384}, {16383, 16384}, {16384, 32768}, {40000, 65536}};
    for (const auto &c : cases) {
        capture_text cap;
        std::string data(c.total, 'a');
        // Feed it as the reader does, in 4096-byte pieces.
        for (size_t off = 0; off < c.total; off += 4096) {
            size_t n = std::min<size_t>(4096, c.total - off);
            ASSERT_TRUE(capture_append(&cap, data.data() + off, n));
        }
        EXPECT_EQ(cap.capacity, c.capacity) << c.total;
        EXPECT_EQ(cap.length, c.total);
    }
}

TEST(CaptureAppend, FoldsOnlyCrDirectlyBeforeLf) {
    const struct {
        std::vector<std::string> reads;
        std::string want;
    } cases[] = {
        {{"a\r\nb\r\n"}, "a\nb\n"},
        {{"a\r", "\nb"}, "a\nb"},
        {{"a\r", "b"}, "a\rb"},
        {{"\r", "\r", "\n"}, "\r\n"},
        {{"\n\r"}, "\n\r"},
        {{"a\r"}, "a\r"},
        {{"x", "", "\n"}, "x\n"},
    };
    for (const auto &c : cases) {
        capture_text cap;
        for (const std::string &r : c.reads) ASSERT_TRUE(capture_append(&cap, r.data(), r.size()));
        EXPECT_EQ(std::string(cap.text.get(), cap.length), c.want);
        EXPECT_EQ(cap.text.get()[cap.length], '\0');
    }
}

TEST(ExitStatusOf, PlainCodesAndSignals) {
    EXPECT_EQ(exit_status_of(-1), -1);
    EXPECT_EQ(exit_status_of(0), 0);
    EXPECT_EQ(exit_status_of(1 << 8), 1);
    EXPECT_EQ(exit_status_of(255 << 8), 255);
    EXPECT_EQ(exit_status_of(9), 137);   // killed by SIGKILL
    EXPECT_EQ(exit_status_of(15), 143);  // by SIGTERM
}

}  // namespace

namespace {

// The first command waits for a file that only the second one makes: run
// one after the other, the first would wait until the deadline ends it.
TEST(ProcessRunner, RunsAnActionsCommandsTogether) {
    char dir[] = "/tmp/hullmon-runner-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string flag = std::string(dir) + "/flag";
    const std::string waits = "while [ ! -e '" + flag + "' ]; do sleep 0.01; done; echo first";
    const std::string makes = "touch '" + flag + "'; echo second";
    const char *commands[] = {waits.c_str(), makes.c_str()};
    command_output out[2];
    process_runner runner = runner_until(10);
    runner.run(commands, out, 2);
    EXPECT_EQ(out[0].status, 0);
    EXPECT_STREQ(out[0].text.get(), "first\n");
    EXPECT_EQ(out[1].status, 0);
    EXPECT_STREQ(out[1].text.get(), "second\n");
    std::remove(flag.c_str());
    rmdir(dir);
}

}  // namespace
