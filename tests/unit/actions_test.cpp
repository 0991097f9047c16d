// The actions driven in process: a request record as main would read it,
// serve_request, and the fake runner standing in for the runtime. Each
// case holds the whole reply (head and body) and the command lines that
// ran; a request's commands may run together, so they compare as a set.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <map>
#include <set>
#include <string>

#include "cgi/request.h"
#include "fake_runner.h"
#include "memory_stream.h"
#include "reply/version.h"
#include "serve.h"
#include "utc_text.h"

namespace {

const char kBin[] = "/usr/bin/docker";
const std::string kListing =
    "'/usr/bin/docker' ps -a --format '{{.ID}}|{{.Names}}|{{.Image}}|{{.State}}|{{.Status}}|{{.Ports}}' 2>&1";
const std::string kUsage = "'/usr/bin/docker' stats --no-stream --format '{{.ID}}|{{.CPUPerc}}|{{.MemUsage}}' 2>&1";

const std::string kHead =
    "Content-Type: application/json; charset=utf-8\r\nCache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n\r\n";
const std::string kConflict = "Status: 409 Conflict\r\n" + kHead;
const std::string kListStart = kHead +
                               "{\"ok\":true,\"action\":\"list\",\"plugin\":\"hullmon\",\"slug\":\"docker\","
                               "\"version\":\"" HULLMON_VERSION "\","
                               "\"runtime\":{\"available\":true,\"bin\":\"/usr/bin/docker\",\"label\":\"custom\"},";
const std::string kNoRows =
    ",\"utc\":\"{UTC}\",\"count\":0,\"summary\":{\"total\":0,\"running\":0,\"exited\":0,\"paused\":0,\"other\":0},"
    "\"containers\":[]}\n";

// What the runtime prints for the list cases.
const std::string kPsText =
    "3f2a1b|web|nginx:1.25|running|Up 3 hours|0.0.0.0:8080->80/tcp\r\n"
    "9c8d7e|db|postgres:16|exited|Exited (0) 5 minutes ago|\n";
const std::string kStatsText = "3f2a1b|0.50%|10MiB / 1GiB\n9c8d7e|0.00%|0B / 0B\n";
const std::string kDaemonDown = "Cannot connect to the Docker daemon at unix:///var/run/docker.sock.\n";

std::string two_rows(const std::string &web_cpu, const std::string &web_mem, const std::string &db_cpu,
                     const std::string &db_mem) {
    return ",\"utc\":\"{UTC}\",\"count\":2,\"summary\":{\"total\":2,\"running\":1,\"exited\":1,\"paused\":0,\"other\":0},"
           "\"containers\":["
           "{\"id\":\"3f2a1b\",\"short\":\"3f2a1b\",\"name\":\"web\",\"image\":\"nginx:1.25\",\"state\":\"running\","
           "\"status\":\"Up 3 hours\",\"ports\":\"0.0.0.0:8080->80/tcp\",\"cpu\":\"" +
           web_cpu + "\",\"mem\":\"" + web_mem +
           "\"},"
           "{\"id\":\"9c8d7e\",\"short\":\"9c8d7e\",\"name\":\"db\",\"image\":\"postgres:16\",\"state\":\"exited\","
           "\"status\":\"Exited (0) 5 minutes ago\",\"ports\":\"\",\"cpu\":\"" +
           db_cpu + "\",\"mem\":\"" + db_mem + "\"}]}\n";
}

fake_reply prints(const std::string &text, int status = 0) {
    fake_reply r;
    r.text = text;
    r.status = status;
    return r;
}

fake_reply hangs_after(const std::string &text) {
    fake_reply r;
    r.text = text;
    r.hangs = true;
    return r;
}

// want with {UTC} as the time text of one of the seconds the call spanned,
// the one that matches got when there is one.
std::string with_time(std::string want, time_t from, time_t to, const std::string &got) {
    const size_t at = want.find("{UTC}");
    if (at == std::string::npos) return want;
    std::string tried;
    for (time_t t = from; t <= to; ++t) {
        tried = want;
        tried.replace(at, 5, libc_utc(t));
        if (tried == got) break;
    }
    return tried;
}

struct action_case {
    const char *name;
    const char *query;
    bool post;
    // The browser's headers; null when not sent.
    const char *fetch_site;
    const char *origin;
    const char *host;
    int timeout_seconds;
    std::map<std::string, fake_reply> replies;  // by verb
    std::string want;                           // the whole reply; {UTC} for the time text
    std::multiset<std::string> ran;             // the command lines run
    const char *body = nullptr;                 // the kept POST body, when there is one
};

void run_case(const action_case &c) {
    SCOPED_TRACE(c.name);
    request req = {};
    req.query = c.query;
    req.query_set = true;
    req.is_post = c.post;
    req.docker_bin = kBin;
    req.path = "/usr/bin:/bin";
    req.sec_fetch_site = c.fetch_site;
    req.origin = c.origin;
    req.host = c.host;
    req.timeout_seconds = c.timeout_seconds;
    if (c.body) req.body.reset(strdup(c.body));

    fake_runner runner;
    runner.replies = c.replies;
    runner.deadline_seconds = c.timeout_seconds;

    const time_t from = std::time(nullptr);
    const std::string got = written_by([&](FILE *out) { serve_request(out, req, runner); });
    const time_t to = std::time(nullptr);

    EXPECT_EQ(got, with_time(c.want, from, to, got));
    EXPECT_EQ(std::multiset<std::string>(runner.commands.begin(), runner.commands.end()), c.ran);
}

TEST(Actions, ListRunsBothCommandsAndReportsWhatTheyLeft) {
    const action_case cases[] = {
        {"both commands answer",
         "action=list", false, nullptr, nullptr, nullptr, 30,
         {{"ps", prints(kPsText)}, {"stats", prints(kStatsText)}},
         kListStart + "\"daemon_available\":true" + two_rows("0.50%", "10MiB / 1GiB", "0.00%", "0B / 0B"),
         {kListing, kUsage}},
        {"the listing fails: the daemon did not answer, the usage command ran all the same",
         "action=list", false, nullptr, nullptr, nullptr, 30,
         {{"ps", prints(kDaemonDown, 1)}, {"stats", prints(kDaemonDown, 1)}},
         kListStart + "\"daemon_available\":false,\"error\":\"Cannot connect to the Docker daemon at "
                      "unix:///var/run/docker.sock.\\n\"" + kNoRows,
         {kListing, kUsage}},
        {"the listing hangs after a partial line: its text and the deadline's line as the error",
         "action=list", false, nullptr, nullptr, nullptr, 2,
         {{"ps", hangs_after("3f2a1b|web|ngi")}, {"stats", prints(kStatsText)}},
         kListStart + "\"daemon_available\":false,\"error\":\"3f2a1b|web|ngi\\nhullmon: timed out after 2 s\\n\"" +
             kNoRows,
         {kListing, kUsage}},
        {"both hang without a word (format=json: the listing)",
         "format=json", false, nullptr, nullptr, nullptr, 30,
         {{"ps", hangs_after("")}, {"stats", hangs_after("")}},
         kListStart + "\"daemon_available\":false,\"error\":\"hullmon: timed out after 30 s\\n\"" + kNoRows,
         {kListing, kUsage}},
        {"the usage command alone hangs: the rows come without usage",
         "action=list", false, nullptr, nullptr, nullptr, 30,
         {{"ps", prints(kPsText)}, {"stats", hangs_after("3f2a1b|0.50%|10MiB / 1GiB\n")}},
         kListStart + "\"daemon_available\":true" + two_rows("", "", "", ""),
         {kListing, kUsage}},
    };
    for (const action_case &c : cases) run_case(c);
}

// usage=0 asks for the rows alone: only the listing runs, and the reply is
// that of a usage command that printed nothing. Any other value is a full
// list.
TEST(Actions, ListUsageZeroRunsTheListingAlone) {
    const std::map<std::string, fake_reply> answers = {{"ps", prints(kPsText)}, {"stats", prints(kStatsText)}};
    const std::string full = kListStart + "\"daemon_available\":true" +
                             two_rows("0.50%", "10MiB / 1GiB", "0.00%", "0B / 0B");
    const std::string rows_alone = kListStart + "\"daemon_available\":true" + two_rows("", "", "", "");
    const action_case cases[] = {
        {"usage=0", "action=list&usage=0", false, nullptr, nullptr, nullptr, 30, answers, rows_alone, {kListing}},
        {"usage=0 first", "usage=0&action=list", false, nullptr, nullptr, nullptr, 30, answers, rows_alone,
         {kListing}},
        {"usage=0 encoded", "action=list&usage=%30", false, nullptr, nullptr, nullptr, 30, answers, rows_alone,
         {kListing}},
        {"usage=0 in a POST body", "action=list", true, nullptr, nullptr, nullptr, 30, answers, rows_alone,
         {kListing}, "usage=0"},
        {"an empty usage in the query, 0 in the body", "action=list&usage=", true, nullptr, nullptr, nullptr, 30,
         answers, rows_alone, {kListing}, "usage=0"},
        {"the query's usage wins over the body's", "action=list&usage=1", true, nullptr, nullptr, nullptr, 30,
         answers, full, {kListing, kUsage}, "usage=0"},
        {"usage=1", "action=list&usage=1", false, nullptr, nullptr, nullptr, 30, answers, full, {kListing, kUsage}},
        {"usage empty", "action=list&usage=", false, nullptr, nullptr, nullptr, 30, answers, full,
         {kListing, kUsage}},
        {"usage=00", "action=list&usage=00", false, nullptr, nullptr, nullptr, 30, answers, full, {kListing, kUsage}},
        {"usage=false", "action=list&usage=false", false, nullptr, nullptr, nullptr, 30, answers, full,
         {kListing, kUsage}},
        {"usage=0 and more, cut", "action=list&usage=0000000000", false, nullptr, nullptr, nullptr, 30, answers,
         full, {kListing, kUsage}},
        {"usage=0 on another action", "action=logs&cid=web&usage=0", false, nullptr, nullptr, nullptr, 30,
         {{"logs", prints("one\n")}},
         kHead + "{\"ok\":true,\"action\":\"logs\",\"cid\":\"web\",\"tail\":100,\"exit_code\":0,"
                 "\"lines\":[\"one\"],\"text\":\"one\\n\"}\n",
         {"'/usr/bin/docker' logs --tail 100 web 2>&1"}},
        {"usage=0 with a failed listing", "action=list&usage=0", false, nullptr, nullptr, nullptr, 30,
         {{"ps", prints(kDaemonDown, 1)}, {"stats", prints(kStatsText)}},
         kListStart + "\"daemon_available\":false,\"error\":\"Cannot connect to the Docker daemon at "
                      "unix:///var/run/docker.sock.\\n\"" + kNoRows,
         {kListing}},
    };
    for (const action_case &c : cases) run_case(c);
}

TEST(Actions, LogsAndControlTimedOutAre409With124) {
    const action_case cases[] = {
        {"logs: the lines printed so far, then the deadline's line",
         "action=logs&cid=web", false, nullptr, nullptr, nullptr, 5,
         {{"logs", hangs_after("line one\r\nline two")}},
         kConflict + "{\"ok\":false,\"action\":\"logs\",\"cid\":\"web\",\"tail\":100,\"exit_code\":124,"
                     "\"lines\":[\"line one\",\"line two\",\"hullmon: timed out after 5 s\"],"
                     "\"text\":\"line one\\nline two\\nhullmon: timed out after 5 s\\n\"}\n",
         {"'/usr/bin/docker' logs --tail 100 web 2>&1"}},
        {"control: the output so far, then the deadline's line",
         "action=control&op=stop&cid=web", true, nullptr, nullptr, nullptr, 3600,
         {{"stop", hangs_after("Stopping web\n")}},
         kConflict + "{\"ok\":false,\"action\":\"control\",\"op\":\"stop\",\"cid\":\"web\",\"exit_code\":124,"
                     "\"output\":\"Stopping web\\nhullmon: timed out after 3600 s\\n\",\"utc\":\"{UTC}\"}\n",
         {"'/usr/bin/docker' stop web 2>&1"}},
    };
    for (const action_case &c : cases) run_case(c);
}

TEST(Actions, ControlFromAnotherOriginRunsNothing) {
    const std::string refused =
        "Status: 403 Forbidden\r\n" + kHead +
        "{\"ok\":false,\"error\":\"cross_origin\","
        "\"message\":\"control requests must come from the dashboard page itself\"}\n";
    const std::string restarted = kHead +
                                  "{\"ok\":true,\"action\":\"control\",\"op\":\"restart\",\"cid\":\"web\","
                                  "\"exit_code\":0,\"output\":\"web\\n\",\"utc\":\"{UTC}\"}\n";
    const std::string restart = "'/usr/bin/docker' restart web 2>&1";
    const std::map<std::string, fake_reply> answers = {{"restart", prints("web\n")}};
    const char *const query = "action=control&op=restart&cid=web";
    const action_case cases[] = {
        {"a page of another site", query, true, "cross-site", "http://evil.example", "node:8080", 30, answers,
         refused, {}},
        {"a sibling site", query, true, "same-site", nullptr, "node:8080", 30, answers, refused, {}},
        {"an empty Sec-Fetch-Site", query, true, "", nullptr, "node:8080", 30, answers, refused, {}},
        {"an Origin of another host", query, true, nullptr, "https://evil.example", "node:8080", 30, answers,
         refused, {}},
        {"an opaque Origin", query, true, nullptr, "null", "node:8080", 30, answers, refused, {}},
        {"an Origin without a Host to match", query, true, nullptr, "http://node:8080", nullptr, 30, answers,
         refused, {}},
        {"the dashboard page itself", query, true, "same-origin", "http://node:8080", "node:8080", 30, answers,
         restarted, {restart}},
        {"an Origin equal to Host but for case", query, true, nullptr, "HTTP://Node:8080", "node:8080", 30,
         answers, restarted, {restart}},
        {"a script that sends neither header", query, true, nullptr, nullptr, "node:8080", 30, answers,
         restarted, {restart}},
    };
    for (const action_case &c : cases) run_case(c);
}

}  // namespace
