// One whole request, in process: the command-line flag, the CGI
// environment, the POST body on standard input and what the runtime prints
// all come from the input. The program's entry point runs as it would for
// the host; three calls are redirected (by the linker's --wrap):
//   getenv       answers from the input instead of the process environment;
//   exit         returns here, as the password refusal ends the process;
//   run_capture  plays the runtime: it checks the command line the program
//                built and hands back the input's output for that command,
//                folded by the program's own capture_append in chunks.
// Every reply is then checked: exactly the fixed texts where they apply, a
// JSON head and one well-formed line of JSON otherwise, fields within their
// limits, texts that came through intact, and no command that should not
// have run.
//
// Input: sections separated by the two bytes FF FF:
//   0 flags  1 QUERY_STRING  2 body  3 CONTENT_LENGTH  4 DOCKER_BIN  5 PATH
//   6 ps output  7 stats output  8 logs output  9 start/stop/restart output
//   10 KELM_PASSWORD  11 HTTP_X_KELM_PASSWORD  12 HTTP_AUTHORIZATION  13 argv[1]
// flags[0]: bit 0 QUERY_STRING set, bit 1 POST, bit 2 GET, bit 3 DOCKER_BIN
//   set, bit 4 PATH set, bit 5 KELM_PASSWORD set, bit 6 QV_PLUGIN_META set,
//   bit 7 argv[1] given.
// flags[1]: bit 0 CONTENT_LENGTH set, bit 1 X-Kelm-Password set, bit 2
//   Authorization set.
// flags[2..5]: exit status of ps, stats, logs and control; FF: the command
//   could not be started, FE: its output could not be held.
// flags[6]: size of each read from the pipe (0: 4096).
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "api/capture.h"
#include "api/container_table.h"
#include "fuzz_support.h"
#include "page/page_blobs.h"
#include "reply/head.h"

int hullmon_main(int argc, char **argv);

namespace {

enum section_index {
    kFlags, kQuery, kBody, kLength, kDockerBin, kPath, kPsOut, kStatsOut, kLogsOut, kControlOut,
    kPassword, kHeaderPwd, kAuthorization, kArg, kSectionCount
};

struct request_input {
    std::string part[kSectionCount];
    bool present[kSectionCount] = {};
    unsigned char flag(size_t i) const { return i < part[kFlags].size() ? part[kFlags][i] : 0; }
};

struct env_entry {
    const char *name;
    bool set;
    std::string value;
};

bool g_in_request = false;
std::jmp_buf g_exit_jump;
int g_exit_code = 0;
std::vector<env_entry> g_env;
const request_input *g_input = nullptr;
std::vector<std::string> g_commands;
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
        in.present[i] = true;
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

const env_entry *find_env(const char *name) {
    for (const env_entry &e : g_env)
        if (std::strcmp(e.name, name) == 0) return &e;
    return nullptr;
}

std::string fold_crlf(const std::string &s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n') continue;
        out += s[i];
    }
    return out;
}

// What the runtime printed for a command, and its exit status flag.
const std::string &output_for(const std::string &verb, unsigned char &code) {
    if (verb == "ps") {
        code = g_input->flag(2);
        return g_input->part[kPsOut];
    }
    if (verb == "stats") {
        code = g_input->flag(3);
        return g_input->part[kStatsOut];
    }
    if (verb == "logs") {
        code = g_input->flag(4);
        return g_input->part[kLogsOut];
    }
    code = g_input->flag(5);
    return g_input->part[kControlOut];
}

// Which executable the command lines must start with: none may run, the
// value of DOCKER_BIN (cut to 511 bytes), or docker or podman from PATH.
enum class bin_rule { kNone, kCustom, kFromPath };

bin_rule expected_bin(std::string &custom_bin) {
    const env_entry *custom = find_env("DOCKER_BIN");
    if (custom && custom->set && !custom->value.empty()) {
        if (custom->value.find_first_of("'\r\n") != std::string::npos) return bin_rule::kNone;
        custom_bin = custom->value.substr(0, 511);
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

}  // namespace

extern "C" char *__real_getenv(const char *name);
extern "C" [[noreturn]] void __real_exit(int code);

extern "C" char *__wrap_getenv(const char *name) {
    if (!g_in_request) return __real_getenv(name);
    const env_entry *e = find_env(name);
    if (!e || !e->set) return nullptr;
    return const_cast<char *>(e->value.c_str());
}

extern "C" [[noreturn]] void __wrap_exit(int code) {
    if (!g_in_request) __real_exit(code);
    g_exit_code = code;
    std::longjmp(g_exit_jump, 1);
}

extern "C" char *__wrap__Z11run_capturePKcPi(const char *command, int *status) {
    *status = -1;
    FUZZ_CHECK(g_in_request);
    g_commands.push_back(command);
    std::string verb;
    check_command(command, verb);
    unsigned char code;
    const std::string &printed = output_for(verb, code);
    if (code == 0xFF || code == 0xFE) return nullptr;

    // Feed the output the way the pipe delivers it: in reads of one size.
    const size_t chunk = g_input->flag(6) ? 1 + g_input->flag(6) * 16u : 4096;
    capture_text cap = {nullptr, 0, 0};
    for (size_t at = 0; at < printed.size(); at += chunk) {
        size_t n = std::min(chunk, printed.size() - at);
        FUZZ_CHECK(capture_append(&cap, printed.data() + at, n));
        FUZZ_CHECK(cap.capacity >= cap.length + 1 && cap.text[cap.length] == '\0');
    }
    if (!cap.text) {
        cap.text = static_cast<char *>(std::malloc(1));
        cap.text[0] = '\0';
    }
    const std::string folded = fold_crlf(printed);
    FUZZ_CHECK(cap.length == folded.size() && std::memcmp(cap.text, folded.data(), folded.size()) == 0);
    *status = code;
    return cap.text;
}

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    mkdir("/tmp/hullmon-fuzz-path", 0755);
    mkdir(kPathDocker, 0755);
    mkdir(kPathPodman, 0755);
    close(open((std::string(kPathDocker) + "/docker").c_str(), O_WRONLY | O_CREAT, 0755));
    close(open((std::string(kPathPodman) + "/podman").c_str(), O_WRONLY | O_CREAT, 0755));
    g_body_fd = memfd_create("hullmon-body", 0);
    FUZZ_CHECK(g_body_fd >= 0);
    return 0;
}

namespace {

const char kRefusal[] =
    "Status: 401 Unauthorized\r\nContent-Type: application/json; charset=utf-8\r\nCache-Control: no-store\r\n"
    "X-Content-Type-Options: nosniff\r\n\r\n{\"ok\":false,\"error\":\"invalid node password\"}\n";
const char kMeta[] = "{\"name\":\"docker\",\"desc\":\"Containers\"}\n";
const char kHtmlHead[] =
    "Content-Type: text/html; charset=utf-8\r\nCache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n\r\n";

std::string page(bool embedded) {
    std::string p = kHtmlHead;
    p.append(reinterpret_cast<const char *>(kPageBeforeBackLink), kPageBeforeBackLinkSize);
    if (!embedded) p.append(reinterpret_cast<const char *>(kPageBackLink), kPageBackLinkSize);
    p.append(reinterpret_cast<const char *>(kPageAfterBackLink), kPageAfterBackLinkSize);
    return p;
}

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

// The text a command's reply must carry: its output folded and cut at the
// first NUL, or nothing when it could not be captured.
std::string carried_text(const std::string &verb) {
    unsigned char code;
    const std::string &printed = output_for(verb, code);
    if (code == 0xFF || code == 0xFE) return "";
    std::string folded = fold_crlf(printed);
    return folded.substr(0, folded.find('\0'));
}

int status_of(const std::string &verb) {
    unsigned char code;
    output_for(verb, code);
    return code == 0xFF || code == 0xFE ? -1 : code;
}

void check_json_reply(const std::string &out) {
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
    json_value reply;
    FUZZ_CHECK(reader.value(reply) && reader.pos() == line.size());
    FUZZ_CHECK(reply.kind == json_value::kObject && !reply.members.empty());
    FUZZ_CHECK(reply.members[0].first == "ok" && reply.members[0].second.kind == json_value::kBool);
    const bool ok = reply.members[0].second.boolean;
    // A Status line exactly when the reply is not a success.
    FUZZ_CHECK(ok == status.empty());
    if (!status.empty()) {
        static const char *const kStatuses[] = {"400 Bad Request", "405 Method Not Allowed", "409 Conflict",
                                                "503 Service Unavailable"};
        bool known = false;
        for (const char *s : kStatuses) known = known || status == s;
        FUZZ_CHECK(known);
    }

    const json_value *action = reply.get("action");
    const std::string act = action && action->kind == json_value::kString ? action->text : "";
    const json_value *error = reply.get("error");
    if (error && !reply.get("action")) {
        // 400/405/503 refusals: nothing ran.
        FUZZ_CHECK(g_commands.empty());
        return;
    }
    if (error && error->text == "unknown_action") {
        FUZZ_CHECK(g_commands.empty());
        FUZZ_CHECK(act.size() <= 63 && act.find('\0') == std::string::npos);
        FUZZ_CHECK(act != "list" && act != "info" && act != "logs" && act != "control" && !act.empty());
        return;
    }
    if (act == "info") {
        FUZZ_CHECK(ok && g_commands.empty());
        return;
    }
    if (act == "logs") {
        FUZZ_CHECK(g_commands.size() == 1);
        const int code = status_of("logs");
        FUZZ_CHECK(num_member(reply, "exit_code") == code && ok == (code == 0));
        FUZZ_CHECK(num_member(reply, "tail") == 100);
        FUZZ_CHECK(plain_cid(str_member(reply, "cid")));
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
        std::string plain;
        for (char c : text)
            if (c != '\n') plain += c;
        // Only CR and LF between elements are dropped; a CR inside a line stays.
        std::string joined_no_cr, plain_no_cr;
        for (char c : joined)
            if (c != '\r') joined_no_cr += c;
        for (char c : plain)
            if (c != '\r') plain_no_cr += c;
        FUZZ_CHECK(joined_no_cr == plain_no_cr);
        return;
    }
    if (act == "control") {
        FUZZ_CHECK(g_commands.size() == 1);
        const std::string op = str_member(reply, "op");
        FUZZ_CHECK(op == "start" || op == "stop" || op == "restart");
        const int code = status_of(op);
        FUZZ_CHECK(num_member(reply, "exit_code") == code && ok == (code == 0));
        FUZZ_CHECK(plain_cid(str_member(reply, "cid")));
        FUZZ_CHECK(str_member(reply, "output") == carried_text(op));
        FUZZ_CHECK(str_member(reply, "utc").size() == 20);
        return;
    }
    FUZZ_CHECK(act == "list" && ok);
    FUZZ_CHECK(g_commands.empty() || g_commands.size() == 2);
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
    if (daemon && !daemon->boolean) {
        FUZZ_CHECK(count == 0);
        FUZZ_CHECK(str_member(reply, "error") == carried_text("ps"));
    }
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
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const request_input in = split_input(data, size);
    g_input = &in;
    g_commands.clear();
    g_container_count = 0;  // a fresh process starts with an empty table

    const unsigned char f0 = in.flag(0), f1 = in.flag(1);
    g_env = {
        {"QUERY_STRING", (f0 & 1) != 0, env_text(in.part[kQuery])},
        {"REQUEST_METHOD", (f0 & 6) != 0, (f0 & 2) ? "POST" : "GET"},
        {"DOCKER_BIN", (f0 & 8) != 0, env_text(in.part[kDockerBin])},
        {"PATH", (f0 & 16) != 0, env_text(in.part[kPath])},
        {"KELM_PASSWORD", (f0 & 32) != 0, env_text(in.part[kPassword])},
        {"QV_PLUGIN_META", (f0 & 64) != 0, ""},
        {"CONTENT_LENGTH", (f1 & 1) != 0, env_text(in.part[kLength])},
        {"HTTP_X_KELM_PASSWORD", (f1 & 2) != 0, env_text(in.part[kHeaderPwd])},
        {"HTTP_AUTHORIZATION", (f1 & 4) != 0, env_text(in.part[kAuthorization])},
    };
    // The POST body waits on standard input, as the host would send it.
    FUZZ_CHECK(ftruncate(g_body_fd, 0) == 0);
    const std::string &body = in.part[kBody];
    FUZZ_CHECK(pwrite(g_body_fd, body.data(), body.size(), 0) == static_cast<ssize_t>(body.size()));
    lseek(g_body_fd, 0, SEEK_SET);
    dup2(g_body_fd, STDIN_FILENO);

    std::string arg = env_text(in.part[kArg]);
    char prog[] = "hullmon";
    char *argv[] = {prog, (f0 & 128) ? &arg[0] : nullptr, nullptr};
    const int argc = (f0 & 128) ? 2 : 1;

    std::string out;
    int result;
    {
        stdout_capture cap;
        g_in_request = true;
        g_exit_code = 0;
        if (setjmp(g_exit_jump) == 0) {
            result = hullmon_main(argc, argv);
        } else {
            result = g_exit_code;
        }
        g_in_request = false;
        out = cap.finish();
    }
    FUZZ_CHECK(result == 0);

    // Which of the fixed outcomes applies comes from the first stages alone.
    if (argc == 2 && (arg == "--meta" || arg == "--version" || arg == "--help")) {
        FUZZ_CHECK(g_commands.empty());
        if (arg == "--meta") FUZZ_CHECK(out == kMeta);
        if (arg == "--version") FUZZ_CHECK(out == "1.1.2\n");
        if (arg == "--help")
            FUZZ_CHECK(out == "hullmon 1.1.2\nusage: hullmon [--meta|--version|--help]\n"
                              "       QUERY_STRING='action=list|info|logs&cid=<id>' hullmon\n");
        return 0;
    }
    if (f0 & 64) {
        FUZZ_CHECK(out == kMeta && g_commands.empty());
        return 0;
    }
    const std::string password = (f0 & 32) ? env_text(in.part[kPassword]) : "";
    if (out == kRefusal) {
        FUZZ_CHECK(!password.empty() && g_commands.empty());
        FUZZ_CHECK(!((f1 & 2) && env_text(in.part[kHeaderPwd]) == password));
        return 0;
    }
    // The password was offered the plain way, or none is set: never refused.
    if (out.compare(0, 12, "Content-Type") == 0 && out.compare(0, 23, "Content-Type: text/html") == 0) {
        FUZZ_CHECK(g_commands.empty());
        FUZZ_CHECK(out == page(false) || out == page(true));
        return 0;
    }
    check_json_reply(out);
    return 0;
}
