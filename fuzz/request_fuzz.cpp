// One whole request, in process: the CGI environment, the configuration,
// the POST body and what the runtime prints all come from the input. The
// harness does main's part (it fills the request record, reading the body
// from standard input as main does) and hands the record to serve_request
// with a fake runner that plays the runtime: each command line is checked
// and answered with the input's output for its verb, fed in reads of the
// input's size, or left hanging until the request's deadline.
// Every reply is then checked: exactly the fixed texts where they apply, a
// JSON head and one well-formed line of JSON otherwise, fields within their
// limits, texts that came through intact (timed-out ones with the
// deadline's line), and no command that should not have run (none for a
// control request that the browser's headers mark as cross-origin).
//
// The command-line flags and QV_PLUGIN_META are answered by main before a
// request is read; the black-box cases cover them.
//
// Input: sections separated by the two bytes FF FF:
//   0 flags  1 QUERY_STRING  2 body  3 CONTENT_LENGTH  4 DOCKER_BIN  5 PATH
//   6 ps output  7 stats output  8 logs output  9 start/stop/restart output
//   10 KELM_PASSWORD  11 HTTP_X_KELM_PASSWORD  12 HTTP_AUTHORIZATION
//   13 HTTP_SEC_FETCH_SITE  14 HTTP_ORIGIN  15 HTTP_HOST  16 HULLMON_TIMEOUT
// flags[0]: bit 0 QUERY_STRING set, bit 1 POST (bit 2, once GET, is any
//   other method now), bit 3 DOCKER_BIN set, bit 4 PATH set, bit 5
//   KELM_PASSWORD set, bit 6 Sec-Fetch-Site sent, bit 7 Origin sent.
// flags[1]: bit 0 CONTENT_LENGTH set, bit 1 X-Kelm-Password set, bit 2
//   Authorization set, bit 3 Host sent, bit 4 HULLMON_TIMEOUT set.
// flags[2..5]: exit status of ps, stats, logs and control; FF: the command
//   could not be started, FE: its output could not be held.
// flags[6]: size of each read from the pipe (0: 4096).
// flags[7]: bits 0 to 3: ps, stats, logs, control print their output and
//   then hang (ended by the deadline; without a deadline they do not hang).
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "api/action.h"
#include "api/container_table.h"
#include "cgi/intake.h"
#include "cgi/query.h"
#include "cgi/request.h"
#include "fake_runner.h"
#include "fuzz_support.h"
#include "memory_stream.h"
#include "page/page_blobs.h"
#include "proc/capture.h"
#include "proc/deadline.h"
#include "proc/signals.h"
#include "reply/head.h"
#include "serve.h"

namespace {

enum section_index {
    kFlags, kQuery, kBody, kLength, kDockerBin, kPath, kPsOut, kStatsOut, kLogsOut, kControlOut,
    kPassword, kHeaderPwd, kAuthorization, kFetchSite, kOrigin, kHost, kTimeout, kSectionCount
};

struct request_input {
    std::string part[kSectionCount];
    unsigned char flag(size_t i) const { return i < part[kFlags].size() ? part[kFlags][i] : 0; }
};

// The input of the current run and what follows from it.
const request_input *g_input = nullptr;
int g_timeout = 0;
int g_body_fd = -1;

const char kPathDocker[] = "/tmp/hullmon-fuzz-path/docker-only";
const char kPathPodman[] = "/tmp/hullmon-fuzz-path/podman-only";

request_input split_input(const uint8_t *data, size_t size) {
    request_input in;
    const std::string all(reinterpret_cast<const char *>(data), size);
    size_t start = 0;
    for (int i = 0; i < kSectionCount; ++i) {
        size_t sep = all.find("\xff\xff", start);
        in.part[i] = all.substr(start, sep == std::string::npos ? std::string::npos : sep - start);
        if (sep == std::string::npos) break;
        start = sep + 2;
    }
    return in;
}

// An environment value is a C text: it ends at the first NUL.
std::string env_text(const std::string &s) { return s.substr(0, s.find('\0')); }

bool plain_cid(const std::string &cid) {
    if (cid.empty() || cid.size() > 128 || cid[0] == '-' || cid[0] == '.') return false;
    for (char c : cid)
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '.' ||
              c == '-'))
            return false;
    return true;
}

std::string lower(std::string s) {
    for (char &c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

std::string fold_crlf(const std::string &s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n') continue;
        out += s[i];
    }
    return out;
}

// HULLMON_TIMEOUT as the deadline in seconds: 30 when unset, empty or not
// a decimal number from 0 to 3600; 0 is no deadline.
int expected_timeout(bool set, const std::string &value) {
    const std::string text = env_text(value);
    if (!set || text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return 30;
    const size_t first = text.find_first_not_of('0');
    if (first == std::string::npos) return 0;
    if (text.size() - first > 4) return 30;
    const int seconds = std::stoi(text.substr(first));
    return seconds <= 3600 ? seconds : 30;
}

// Whether the browser's headers mark the request as made by another
// origin's page: Sec-Fetch-Site other than same-origin or none; else an
// Origin whose host (after http:// or https://) is not Host.
bool expected_cross_origin(const char *fetch_site, const char *origin, const char *host) {
    if (fetch_site) return std::string(fetch_site) != "same-origin" && std::string(fetch_site) != "none";
    if (!origin) return false;
    const std::string o = lower(origin);
    std::string rest;
    if (o.compare(0, 7, "http://") == 0)
        rest = o.substr(7);
    else if (o.compare(0, 8, "https://") == 0)
        rest = o.substr(8);
    else
        return true;
    return !host || rest.empty() || rest.find('/') != std::string::npos || rest != lower(host);
}

// The verb's flag bit in flags[7] and its exit status byte.
int verb_index(const std::string &verb) {
    if (verb == "ps") return 0;
    if (verb == "stats") return 1;
    if (verb == "logs") return 2;
    return 3;
}

// What the runtime printed for a command, and its exit status flag.
const std::string &output_for(const std::string &verb, unsigned char &code) {
    const int i = verb_index(verb);
    code = g_input->flag(2 + i);
    return g_input->part[kPsOut + i];
}

bool hangs(const std::string &verb) { return g_timeout > 0 && (g_input->flag(7) >> verb_index(verb) & 1); }

// The text a command's reply must carry: its output folded, with the
// deadline's line when it hung, cut at the first NUL; nothing when it
// could not be captured.
std::string carried_text(const std::string &verb) {
    unsigned char code;
    const std::string &printed = output_for(verb, code);
    if (code == 0xFF || code == 0xFE) return "";
    std::string text = fold_crlf(printed);
    if (hangs(verb)) {
        if (!text.empty() && text.back() != '\n') text += '\n';
        text += "hullmon: timed out after " + std::to_string(g_timeout) + " s\n";
    }
    return text.substr(0, text.find('\0'));
}

int status_of(const std::string &verb) {
    unsigned char code;
    output_for(verb, code);
    if (code == 0xFF || code == 0xFE) return -1;
    return hangs(verb) ? 124 : code;
}

// Which executable the command lines must start with: none may run, the
// value of DOCKER_BIN (cut to 511 bytes), or docker or podman from PATH.
enum class bin_rule { kNone, kCustom, kFromPath };

bin_rule expected_bin(std::string &custom_bin) {
    const std::string custom = env_text(g_input->part[kDockerBin]);
    if ((g_input->flag(0) & 8) && !custom.empty()) {
        if (custom.find_first_of("'\r\n") != std::string::npos) return bin_rule::kNone;
        custom_bin = custom.substr(0, 511);
        return bin_rule::kCustom;
    }
    return bin_rule::kFromPath;
}

void check_command(const std::string &cmd, std::string &verb) {
    FUZZ_CHECK(cmd.size() <= kCommandSize - 1);
    FUZZ_CHECK(cmd.size() > 2 && cmd[0] == '\'');
    size_t close = cmd.find('\'', 1);
    FUZZ_CHECK(close != std::string::npos);
    const std::string bin = cmd.substr(1, close - 1);
    std::string custom_bin;
    const bin_rule rule = expected_bin(custom_bin);
    FUZZ_CHECK(rule != bin_rule::kNone);
    if (rule == bin_rule::kFromPath)
        FUZZ_CHECK(bin == "docker" || bin == "podman");
    else
        FUZZ_CHECK(bin == custom_bin);
    FUZZ_CHECK(bin.find_first_of("\r\n") == std::string::npos);
    const std::string rest = cmd.substr(close + 1);
    static const std::string kPs =
        " ps -a --format '{{.ID}}|{{.Names}}|{{.Image}}|{{.State}}|{{.Status}}|{{.Ports}}' 2>&1";
    static const std::string kStats = " stats --no-stream --format '{{.ID}}|{{.CPUPerc}}|{{.MemUsage}}' 2>&1";
    static const std::string kEnd = " 2>&1";
    if (rest == kPs) {
        verb = "ps";
        return;
    }
    if (rest == kStats) {
        verb = "stats";
        return;
    }
    FUZZ_CHECK(rest.size() > kEnd.size() && rest.compare(rest.size() - kEnd.size(), kEnd.size(), kEnd) == 0);
    const std::string words = rest.substr(0, rest.size() - kEnd.size());
    static const std::string kLogs = " logs --tail 100 ";
    if (words.compare(0, kLogs.size(), kLogs) == 0) {
        verb = "logs";
        FUZZ_CHECK(plain_cid(words.substr(kLogs.size())));
        return;
    }
    for (const char *op : {"start", "stop", "restart"}) {
        std::string head = std::string(" ") + op + " ";
        if (words.compare(0, head.size(), head) == 0) {
            verb = op;
            FUZZ_CHECK(plain_cid(words.substr(head.size())));
            return;
        }
    }
    FUZZ_CHECK(!"a command line of no known form");
}

// The fake runtime, checking every command line it is handed before it
// answers, and counting how often it was asked.
class checked_runner : public fake_runner {
public:
    int runs = 0;

    void run(const char *const *lines, command_output *out, int count) override {
        FUZZ_CHECK(count >= 1 && count <= kMaxCommands);
        ++runs;
        for (int i = 0; i < count; ++i) {
            std::string verb;
            check_command(lines[i], verb);
            FUZZ_CHECK(verb == verb_of(lines[i]));
        }
        fake_runner::run(lines, out, count);
    }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    mkdir("/tmp/hullmon-fuzz-path", 0755);
    mkdir(kPathDocker, 0755);
    mkdir(kPathPodman, 0755);
    close(open((std::string(kPathDocker) + "/docker").c_str(), O_WRONLY | O_CREAT, 0755));
    close(open((std::string(kPathPodman) + "/podman").c_str(), O_WRONLY | O_CREAT, 0755));
    g_body_fd = memfd_create("hullmon-body", 0);
    FUZZ_CHECK(g_body_fd >= 0);

    // main's part: the run's signal handling, which body intake waits
    // under. The fuzzer keeps its own handlers and mask for the held-back
    // signals (an interrupt still stops it); the intake's waits let those
    // signals through all the same.
    constexpr size_t kHeld = sizeof kHeldSignals / sizeof kHeldSignals[0];
    struct sigaction saved[kHeld];
    sigset_t mask;
    sigprocmask(SIG_SETMASK, nullptr, &mask);
    for (size_t i = 0; i < kHeld; ++i) sigaction(kHeldSignals[i], nullptr, &saved[i]);
    install_signal_handling();
    for (size_t i = 0; i < kHeld; ++i) sigaction(kHeldSignals[i], &saved[i], nullptr);
    sigprocmask(SIG_SETMASK, &mask, nullptr);
    return 0;
}

namespace {

const char kRefusal[] =
    "Status: 401 Unauthorized\r\nContent-Type: application/json; charset=utf-8\r\nCache-Control: no-store\r\n"
    "X-Content-Type-Options: nosniff\r\n\r\n{\"ok\":false,\"error\":\"invalid node password\"}\n";
const char kPageHead[] =
    "Content-Type: text/html; charset=utf-8\r\nCache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n\r\n";

std::string page(bool embedded) {
    std::string p = kPageHead;
    p.append(reinterpret_cast<const char *>(kPageBeforeBackLink), kPageBeforeBackLinkSize);
    if (!embedded) p.append(reinterpret_cast<const char *>(kPageBackLink), kPageBackLinkSize);
    p.append(reinterpret_cast<const char *>(kPageAfterBackLink), kPageAfterBackLinkSize);
    return p;
}

std::string json_reply(const char *status, const char *body) {
    std::string r;
    if (status) r = std::string("Status: ") + status + "\r\n";
    return r + std::string(kJsonHead, kJsonHeadLen) + body + "\n";
}

// The fixed replies of the control action's refusals.
const std::string kNotPost = json_reply(
    "405 Method Not Allowed",
    "{\"ok\":false,\"error\":\"control_requires_post\",\"hint\":\"POST ?action=control&op=start|stop|restart&cid=<id>\"}");
const std::string kCrossOrigin = json_reply(
    "403 Forbidden",
    "{\"ok\":false,\"error\":\"cross_origin\",\"message\":\"control requests must come from the dashboard page itself\"}");
const std::string kNoRuntime = json_reply(
    "503 Service Unavailable",
    "{\"ok\":false,\"error\":\"runtime_available\",\"runtime\":{\"available\":false},"
    "\"message\":\"Neither docker nor podman was found on this node\"}");
const std::string kInvalidOp =
    json_reply("400 Bad Request", "{\"ok\":false,\"error\":\"invalid_op\",\"supported\":[\"start\",\"stop\",\"restart\"]}");
const std::string kControlInvalidCid = json_reply(
    "400 Bad Request",
    "{\"ok\":false,\"error\":\"invalid_cid\","
    "\"message\":\"cid must match [A-Za-z0-9_.-]{1,128} and may not start with - or .\"}");

const std::string &str_member(const json_value &obj, const char *key) {
    const json_value *v = obj.get(key);
    FUZZ_CHECK(v && v->kind == json_value::kString);
    return v->text;
}

long long num_member(const json_value &obj, const char *key) {
    const json_value *v = obj.get(key);
    FUZZ_CHECK(v && v->kind == json_value::kNumber);
    return v->number;
}

// The parameters the request carries, gathered as the router does: the
// query text's, the body filling what it lacks. Decoded texts end at a NUL.
struct params {
    std::string action, cid, op;
};

params gather(const request &req) {
    char action[kActionSize], cid[kCidSize], op[kOpSize];
    get_query_val(req.query, "action", action, sizeof action);
    get_query_val(req.query, "cid", cid, sizeof cid);
    get_query_val(req.query, "op", op, sizeof op);
    const char *body = req.body.get();
    if (body && *body) {
        if (!action[0]) get_query_val(body, "action", action, sizeof action);
        if (!cid[0]) get_query_val(body, "cid", cid, sizeof cid);
        if (!op[0]) get_query_val(body, "op", op, sizeof op);
    }
    return {action, cid, op};
}

// Reads the one JSON line of a reply after its head; returns the status
// text ("" for none).
std::string read_json_reply(const std::string &out, json_value &reply) {
    std::string status;
    size_t at = 0;
    if (out.compare(0, 8, "Status: ") == 0) {
        size_t eol = out.find("\r\n");
        FUZZ_CHECK(eol != std::string::npos);
        status = out.substr(8, eol - 8);
        at = eol + 2;
    }
    FUZZ_CHECK(out.compare(at, kJsonHeadLen, kJsonHead) == 0);
    const std::string body = out.substr(at + kJsonHeadLen);
    FUZZ_CHECK(!body.empty() && body.back() == '\n' && body.find('\n') == body.size() - 1);
    const std::string line = body.substr(0, body.size() - 1);
    json_reader reader(line, false);
    FUZZ_CHECK(reader.value(reply) && reader.pos() == line.size());
    FUZZ_CHECK(reply.kind == json_value::kObject && !reply.members.empty());
    FUZZ_CHECK(reply.members[0].first == "ok" && reply.members[0].second.kind == json_value::kBool);
    // A Status line exactly when the reply is not a success.
    FUZZ_CHECK(reply.members[0].second.boolean == status.empty());
    return status;
}

void check_logs(const std::string &out, const params &p, const checked_runner &runner) {
    json_value reply;
    const std::string status = read_json_reply(out, reply);
    if (!plain_cid(p.cid)) {
        FUZZ_CHECK(status == "400 Bad Request" && runner.commands.empty());
        FUZZ_CHECK(str_member(reply, "error") == "invalid_cid" && str_member(reply, "cid") == p.cid);
        FUZZ_CHECK(reply.members.size() == 3);
        return;
    }
    std::string custom_bin;
    const bin_rule rule = expected_bin(custom_bin);
    if (out == kNoRuntime) {
        FUZZ_CHECK(rule != bin_rule::kCustom && runner.commands.empty());
        return;
    }
    FUZZ_CHECK(rule != bin_rule::kNone);
    FUZZ_CHECK(runner.runs == 1 && runner.commands.size() == 1);
    const int code = status_of("logs");
    FUZZ_CHECK(status == (code == 0 ? "" : "409 Conflict"));
    FUZZ_CHECK(str_member(reply, "action") == "logs" && str_member(reply, "cid") == p.cid);
    FUZZ_CHECK(num_member(reply, "exit_code") == code);
    FUZZ_CHECK(num_member(reply, "tail") == 100);
    const std::string text = carried_text("logs");
    FUZZ_CHECK(str_member(reply, "text") == text);
    const json_value *lines = reply.get("lines");
    FUZZ_CHECK(lines && lines->kind == json_value::kArray);
    std::string joined;
    for (const json_value &l : lines->items) {
        FUZZ_CHECK(l.kind == json_value::kString && l.text.size() <= 2047);
        FUZZ_CHECK(l.text.find('\n') == std::string::npos && l.text.find('\0') == std::string::npos);
        joined += l.text;
    }
    // The lines laid end to end are the text without its line breaks; only
    // CR and LF between elements are dropped, a CR inside a line stays.
    std::string joined_no_cr, plain_no_cr;
    for (char c : joined)
        if (c != '\r') joined_no_cr += c;
    for (char c : text)
        if (c != '\r' && c != '\n') plain_no_cr += c;
    FUZZ_CHECK(joined_no_cr == plain_no_cr);
    FUZZ_CHECK(reply.members.size() == 7);
}

void check_control(const std::string &out, const request &req, const params &p, const checked_runner &runner) {
    // The refusals come in this order, each a fixed reply, and none runs a
    // command: not a POST, another origin's page, no runtime, an unknown
    // operation, a refused identifier.
    const bool known_op = p.op == "start" || p.op == "stop" || p.op == "restart";
    std::string custom_bin;
    const bin_rule rule = expected_bin(custom_bin);
    if (!req.is_post) {
        FUZZ_CHECK(out == kNotPost && runner.commands.empty());
        return;
    }
    if (expected_cross_origin(req.sec_fetch_site, req.origin, req.host)) {
        FUZZ_CHECK(out == kCrossOrigin && runner.commands.empty());
        return;
    }
    if (out == kNoRuntime) {
        FUZZ_CHECK(rule != bin_rule::kCustom && runner.commands.empty());
        return;
    }
    FUZZ_CHECK(rule != bin_rule::kNone);
    if (!known_op) {
        FUZZ_CHECK(out == kInvalidOp && runner.commands.empty());
        return;
    }
    if (!plain_cid(p.cid)) {
        FUZZ_CHECK(out == kControlInvalidCid && runner.commands.empty());
        return;
    }
    json_value reply;
    const std::string status = read_json_reply(out, reply);
    FUZZ_CHECK(runner.runs == 1 && runner.commands.size() == 1);
    FUZZ_CHECK(str_member(reply, "action") == "control" && str_member(reply, "op") == p.op);
    FUZZ_CHECK(str_member(reply, "cid") == p.cid);
    const int code = status_of(p.op);
    FUZZ_CHECK(status == (code == 0 ? "" : "409 Conflict"));
    FUZZ_CHECK(num_member(reply, "exit_code") == code);
    FUZZ_CHECK(str_member(reply, "output") == carried_text(p.op));
    FUZZ_CHECK(str_member(reply, "utc").size() == 20);
    FUZZ_CHECK(reply.members.size() == 7);
}

void check_list(const std::string &out, const checked_runner &runner) {
    json_value reply;
    FUZZ_CHECK(read_json_reply(out, reply).empty());
    FUZZ_CHECK(str_member(reply, "action") == "list");
    const json_value *rt = reply.get("runtime");
    FUZZ_CHECK(rt && rt->kind == json_value::kObject);
    const json_value *available = rt->get("available");
    FUZZ_CHECK(available && available->kind == json_value::kBool);
    if (available->boolean) {
        // Both commands at once, the usage command even when the listing fails.
        // Which of the two starts first is no part of the contract.
        FUZZ_CHECK(runner.runs == 1 && runner.commands.size() == 2);
        const std::string a = fake_runner::verb_of(runner.commands[0]);
        const std::string b = fake_runner::verb_of(runner.commands[1]);
        FUZZ_CHECK((a == "ps" && b == "stats") || (a == "stats" && b == "ps"));
    } else {
        FUZZ_CHECK(runner.commands.empty());
    }
    const long long count = num_member(reply, "count");
    FUZZ_CHECK(count >= 0 && count <= 256);
    const json_value *sum = reply.get("summary");
    FUZZ_CHECK(sum && sum->kind == json_value::kObject);
    FUZZ_CHECK(num_member(*sum, "total") == count);
    FUZZ_CHECK(num_member(*sum, "running") + num_member(*sum, "exited") + num_member(*sum, "paused") +
                   num_member(*sum, "other") ==
               count);
    const json_value *rows = reply.get("containers");
    FUZZ_CHECK(rows && rows->kind == json_value::kArray && rows->items.size() == static_cast<size_t>(count));
    const json_value *daemon = reply.get("daemon_available");
    if (available->boolean) {
        FUZZ_CHECK(daemon && daemon->kind == json_value::kBool);
        FUZZ_CHECK(daemon->boolean == (status_of("ps") == 0));
    }
    if (daemon && !daemon->boolean) {
        FUZZ_CHECK(count == 0);
        FUZZ_CHECK(str_member(reply, "error") == carried_text("ps"));
    }
    // A usage command that failed or timed out adds nothing to the rows.
    const bool usage_read = status_of("stats") == 0;
    for (const json_value &row : rows->items) {
        FUZZ_CHECK(row.kind == json_value::kObject && row.members.size() == 9);
        FUZZ_CHECK(str_member(row, "id").size() <= 79 && str_member(row, "short") == str_member(row, "id"));
        FUZZ_CHECK(str_member(row, "name").size() <= 191);
        FUZZ_CHECK(str_member(row, "image").size() <= 191);
        FUZZ_CHECK(str_member(row, "state").size() <= 31);
        FUZZ_CHECK(str_member(row, "status").size() <= 191);
        FUZZ_CHECK(str_member(row, "ports").size() <= 511);
        FUZZ_CHECK(str_member(row, "cpu").size() <= 31);
        FUZZ_CHECK(str_member(row, "mem").size() <= 95);
        if (!usage_read) FUZZ_CHECK(str_member(row, "cpu").empty() && str_member(row, "mem").empty());
    }
}

void check_json(const std::string &out, const request &req, const checked_runner &runner) {
    const params p = gather(req);
    if (p.action == "info") {
        json_value reply;
        FUZZ_CHECK(read_json_reply(out, reply).empty());
        FUZZ_CHECK(str_member(reply, "action") == "info" && runner.commands.empty());
        return;
    }
    if (p.action == "logs") return check_logs(out, p, runner);
    if (p.action == "control") return check_control(out, req, p, runner);
    if (p.action == "list" || p.action.empty()) return check_list(out, runner);

    json_value reply;
    FUZZ_CHECK(read_json_reply(out, reply) == "400 Bad Request");
    FUZZ_CHECK(runner.commands.empty());
    FUZZ_CHECK(str_member(reply, "error") == "unknown_action");
    FUZZ_CHECK(str_member(reply, "action") == p.action && p.action.size() <= 63);
}

void check_reply(const std::string &out, const request &req, const checked_runner &runner) {
    // Which of the fixed outcomes applies comes from the first stages alone.
    const std::string password = req.password ? req.password : "";
    if (out == kRefusal) {
        FUZZ_CHECK(!password.empty() && runner.commands.empty());
        FUZZ_CHECK(!(req.header_password && password == req.header_password));
        return;
    }
    if (out.compare(0, 23, "Content-Type: text/html") == 0) {
        FUZZ_CHECK(runner.commands.empty());
        FUZZ_CHECK(out == page(false) || out == page(true));
        return;
    }
    check_json(out, req, runner);
}

// Text of an optional section: null when the flag says it is not set.
const char *optional(bool set, const std::string &text) { return set ? text.c_str() : nullptr; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const request_input in = split_input(data, size);
    g_input = &in;

    const unsigned char f0 = in.flag(0), f1 = in.flag(1);
    std::string text[kSectionCount];
    for (int i = 0; i < kSectionCount; ++i) text[i] = env_text(in.part[i]);

    // main's part: the request record, the body read from standard input.
    request req = {};
    req.started = monotonic_now();
    req.query_set = (f0 & 1) != 0;
    req.query = req.query_set ? text[kQuery].c_str() : "";
    req.is_post = (f0 & 2) != 0;
    req.docker_bin = optional(f0 & 8, text[kDockerBin]);
    req.path = optional(f0 & 16, text[kPath]);
    req.password = optional(f0 & 32, text[kPassword]);
    req.sec_fetch_site = optional(f0 & 64, text[kFetchSite]);
    req.origin = optional(f0 & 128, text[kOrigin]);
    req.header_password = optional(f1 & 2, text[kHeaderPwd]);
    req.authorization = optional(f1 & 4, text[kAuthorization]);
    req.host = optional(f1 & 8, text[kHost]);
    req.timeout_seconds = timeout_from_text(optional(f1 & 16, text[kTimeout]));
    g_timeout = expected_timeout(f1 & 16, in.part[kTimeout]);
    FUZZ_CHECK(req.timeout_seconds == g_timeout);
    if (req.is_post) {
        // The POST body waits on standard input, as the host would send it.
        FUZZ_CHECK(ftruncate(g_body_fd, 0) == 0);
        const std::string &body = in.part[kBody];
        FUZZ_CHECK(pwrite(g_body_fd, body.data(), body.size(), 0) == static_cast<ssize_t>(body.size()));
        lseek(g_body_fd, 0, SEEK_SET);
        dup2(g_body_fd, STDIN_FILENO);
        req.body = read_post_body(optional(f1 & 1, text[kLength]), request_deadline(req));
    }

    checked_runner runner;
    runner.deadline_seconds = g_timeout;
    runner.read_size = in.flag(6) ? 1 + in.flag(6) * 16u : 4096;
    for (const char *verb : {"ps", "stats", "logs", "start", "stop", "restart"}) {
        unsigned char code;
        fake_reply &r = runner.replies[verb];
        r.text = output_for(verb, code);
        r.status = code;
        r.not_started = code == 0xFF;
        r.too_big = code == 0xFE;
        r.hangs = hangs(verb);
    }

    const std::string out = written_by([&](FILE *stream) { serve_request(stream, req, runner); });
    // For reading a kept input's reply: REQUEST_FUZZ_SHOW=1 request_fuzz FILE
    static const bool show = std::getenv("REQUEST_FUZZ_SHOW") != nullptr;
    if (show) {
        for (const std::string &c : runner.commands) std::fprintf(stderr, "command: %s\n", c.c_str());
        std::fwrite(out.data(), 1, out.size(), stderr);
    }
    check_reply(out, req, runner);
    return 0;
}
