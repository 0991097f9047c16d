// Runs one black-box case against the built program and compares what it
// wrote byte for byte.
//
// usage: cgi_case_runner <hullmon> <fake_runtime> <file.case>
//
// A case file starts with free comment lines ("#") and then has sections,
// each opened by a line "--- <name> [noeol]":
//   args         one command-line argument per line
//   env          one NAME=VALUE per line; the program starts with only these
//                (plus FAKE_RT_DIR and FAKE_RT_RECORD for the fake runtime)
//   stdin        bytes fed to standard input
//   fake:<file>  a file of the fake runtime's folder (ps.out, ps.exit, ...)
//   stdout       the exact bytes expected on standard output
//   exit         the expected exit status (0 when absent)
//   record       the exact command lines the fake runtime must have run
//                (checked only when present; an empty section means none)
//   marker       a path (usually under {TMP}) that must not exist afterwards
//   limits       "as <bytes>": the program's address-space limit, to make
//                its memory run out on purpose
//   stdout-closed  (empty) the program starts with standard output closed
//   read-bytes   N: read only the first N bytes of standard output, then
//                hang up like a host whose client went away; stdout then
//                compares those bytes
//   stdin-held   (empty) standard input stays open after the stdin bytes,
//                like a host that announced more body than it sends
//   unread       N: the program must leave exactly N bytes of its standard
//                input unread (input is held open, as with stdin-held)
//   signal       "TERM|HUP|INT <ms>": sent to the program that long after
//                its start, like a host whose client went away
//   gone         a file (usually under {TMP}) that the fake runtime fills
//                with process ids; none of them may exist afterwards
// Section text keeps its line feeds, the last one included unless the
// header says noeol. Escapes: {CR} {LF} {TAB} {NUL} {xHH}; {rep N}..{/rep}
// or {rep A B}..{/rep} repeat a text with {i} counting; {FAKE} is the fake
// runtime, {TMP} the case's scratch folder (with path-docker/docker,
// path-podman/podman and path-both/{docker,podman} links to the fake);
// in stdout {PID} is the child's process id, {UTC} the time of the run,
// {PAGE} and {PAGE_EMBED} the page as served without and with embed=1;
// {VERSION} everywhere is the program's version.
// The lines of "record" are compared in any order.
// Standard error must stay empty and the program must exit, not die.
//
// Environment of the runner itself: CASE_RUNNER_WRAPPER, words to run the
// program under (a memory checker, say); CASE_RUNNER_NO_LIMITS set skips
// cases with limits (sanitizers reserve more address space than they
// allow), reporting exit code 77.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "reply/version.h"
#include "unit/utc_text.h"

namespace {

struct section {
    std::string name;
    std::string raw;  // text with escapes not yet expanded
};

struct run_result {
    std::string out, err;
    int wait_status = 0;
    pid_t pid = 0;
    time_t started = 0, ended = 0;
    long unread = -1;  // input bytes the program left unread (when held open)
};

[[noreturn]] void fail(const std::string &why) {
    std::fprintf(stderr, "case error: %s\n", why.c_str());
    std::exit(2);
}

std::vector<section> parse_case(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) fail("cannot read " + path);
    std::vector<section> sections;
    std::vector<bool> noeol;
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, 4, "--- ") == 0) {
            std::istringstream words(line.substr(4));
            section s;
            words >> s.name;
            std::string flag;
            bool strip = false;
            while (words >> flag) {
                if (flag == "noeol")
                    strip = true;
                else
                    fail("unknown flag " + flag);
            }
            sections.push_back(s);
            noeol.push_back(strip);
            continue;
        }
        if (sections.empty()) continue;  // comments before the first section
        sections.back().raw += line + "\n";
    }
    for (size_t i = 0; i < sections.size(); ++i)
        if (noeol[i] && !sections[i].raw.empty()) sections[i].raw.pop_back();
    return sections;
}

const section *find(const std::vector<section> &sections, const std::string &name) {
    for (const section &s : sections)
        if (s.name == name) return &s;
    return nullptr;
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string expand(const std::string &raw, const std::map<std::string, std::string> &vars);

// Expands one {rep ...} block starting at raw[pos] == '{'; returns false
// when the text there is no rep block.
bool expand_rep(const std::string &raw, size_t &pos, const std::map<std::string, std::string> &vars,
                std::string &out) {
    if (raw.compare(pos, 5, "{rep ") != 0) return false;
    size_t close = raw.find('}', pos);
    if (close == std::string::npos) return false;
    long from = 0, to = 0;
    std::istringstream nums(raw.substr(pos + 5, close - pos - 5));
    long a = 0, b = 0;
    if (!(nums >> a)) fail("bad rep count");
    if (nums >> b) {
        from = a;
        to = b;
    } else {
        to = a;
    }
    size_t end = raw.find("{/rep}", close);
    if (end == std::string::npos) fail("rep without {/rep}");
    std::string body = raw.substr(close + 1, end - close - 1);
    for (long i = from; i < to; ++i) {
        std::map<std::string, std::string> inner = vars;
        inner["i"] = std::to_string(i);
        out += expand(body, inner);
    }
    pos = end + 6;
    return true;
}

std::string expand(const std::string &raw, const std::map<std::string, std::string> &vars) {
    std::string out;
    size_t pos = 0;
    while (pos < raw.size()) {
        char c = raw[pos];
        if (c != '{') {
            out += c;
            ++pos;
            continue;
        }
        if (expand_rep(raw, pos, vars, out)) continue;
        size_t close = raw.find('}', pos);
        std::string token = close == std::string::npos ? "" : raw.substr(pos + 1, close - pos - 1);
        if (token == "CR") {
            out += '\r';
        } else if (token == "LF") {
            out += '\n';
        } else if (token == "TAB") {
            out += '\t';
        } else if (token == "NUL") {
            out += '\0';
        } else if (token.size() == 3 && token[0] == 'x' && hex_digit(token[1]) >= 0 && hex_digit(token[2]) >= 0) {
            out += static_cast<char>(hex_digit(token[1]) * 16 + hex_digit(token[2]));
        } else if (!token.empty() && vars.count(token)) {
            out += vars.at(token);
        } else {
            out += c;
            ++pos;
            continue;
        }
        pos = close + 1;
    }
    return out;
}

std::vector<std::string> split_lines(const std::string &text) {
    std::vector<std::string> lines;
    std::string cur;
    for (char c : text) {
        if (c == '\n') {
            lines.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.empty()) lines.push_back(cur);
    return lines;
}

void write_file(const std::string &path, const std::string &bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) fail("cannot write " + path);
}

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

// How a run departs from a plain request.
struct run_options {
    long address_space = 0;
    bool stdout_closed = false;
    long read_limit = -1;
    bool hold_stdin = false;   // leave standard input open after the input
    int signal_number = 0;     // sent to the program signal_after_ms after its start
    long signal_after_ms = 0;
};

long ms_since(const timespec &t0) {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (now.tv_sec - t0.tv_sec) * 1000L + (now.tv_nsec - t0.tv_nsec) / 1000000L;
}

run_result run_program(const std::string &program, const std::vector<std::string> &args,
                       const std::vector<std::string> &env, const std::string &input, const std::string &cwd,
                       const run_options &opt = run_options()) {
    const long address_space = opt.address_space;
    const bool stdout_closed = opt.stdout_closed;
    const long read_limit = opt.read_limit;
    timespec t0;
    clock_gettime(CLOCK_MONOTONIC, &t0);
    bool signal_due = opt.signal_number != 0;
    bool refused = false;  // writing the input failed: the program closed it
    int in_pipe[2], out_pipe[2], err_pipe[2];
    if (pipe(in_pipe) || pipe(out_pipe) || pipe(err_pipe)) fail("pipe");
    run_result r;
    r.started = std::time(nullptr);
    pid_t pid = fork();
    if (pid < 0) fail("fork");
    if (pid == 0) {
        dup2(in_pipe[0], 0);
        dup2(out_pipe[1], 1);
        dup2(err_pipe[1], 2);
        for (int fd : {in_pipe[0], in_pipe[1], out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]}) close(fd);
        if (stdout_closed) close(1);
        if (chdir(cwd.c_str()) != 0) _exit(126);
        std::vector<std::string> wrapper;
        if (const char *w = std::getenv("CASE_RUNNER_WRAPPER")) {
            std::istringstream words(w);
            std::string word;
            while (words >> word) wrapper.push_back(word);
        }
        std::vector<char *> argv;
        for (const std::string &word : wrapper) argv.push_back(const_cast<char *>(word.c_str()));
        argv.push_back(const_cast<char *>(program.c_str()));
        for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        std::vector<char *> envp;
        for (const std::string &e : env) envp.push_back(const_cast<char *>(e.c_str()));
        envp.push_back(nullptr);
        signal(SIGPIPE, SIG_DFL);
        if (address_space > 0) {
            rlimit limit{static_cast<rlim_t>(address_space), static_cast<rlim_t>(address_space)};
            setrlimit(RLIMIT_AS, &limit);
        }
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    r.pid = pid;
    close(in_pipe[0]);
    close(out_pipe[1]);
    close(err_pipe[1]);
    size_t written = 0;
    int in_fd = in_pipe[1];
    if (input.empty() && !opt.hold_stdin) {
        close(in_fd);
        in_fd = -1;
    } else {
        fcntl(in_fd, F_SETFL, O_NONBLOCK);
    }
    int open_outputs = 2;
    const time_t deadline = std::time(nullptr) + 60;
    while (open_outputs > 0 || in_fd >= 0) {
        pollfd fds[3];
        int n = 0;
        if (out_pipe[0] >= 0) fds[n++] = {out_pipe[0], POLLIN, 0};
        if (err_pipe[0] >= 0) fds[n++] = {err_pipe[0], POLLIN, 0};
        if (in_fd >= 0 && written < input.size() && !refused) fds[n++] = {in_fd, POLLOUT, 0};
        if (poll(fds, static_cast<nfds_t>(n), signal_due ? 10 : 1000) < 0 && errno != EINTR) fail("poll");
        if (signal_due && ms_since(t0) >= opt.signal_after_ms) {
            kill(pid, opt.signal_number);
            signal_due = false;
        }
        if (std::time(nullptr) > deadline) {
            kill(pid, SIGKILL);
            fail("program did not finish within 60 s");
        }
        for (int i = 0; i < n; ++i) {
            if (!fds[i].revents) continue;
            if (fds[i].fd == in_fd) {
                ssize_t w = write(in_fd, input.data() + written, input.size() - written);
                if (w > 0) written += static_cast<size_t>(w);
                // The program will read no more: what is left counts as unread.
                if (w < 0 && errno != EAGAIN) refused = true;
                if ((refused || written == input.size()) && !opt.hold_stdin) {
                    close(in_fd);
                    in_fd = -1;
                }
                continue;
            }
            char buf[65536];
            size_t want = sizeof buf;
            const bool is_out = fds[i].fd == out_pipe[0];
            if (is_out && read_limit >= 0) want = std::min(want, static_cast<size_t>(read_limit) - r.out.size());
            ssize_t got = want ? read(fds[i].fd, buf, want) : 0;
            if (got > 0) {
                (is_out ? r.out : r.err).append(buf, static_cast<size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                close(fds[i].fd);
                (fds[i].fd == out_pipe[0] ? out_pipe[0] : err_pipe[0]) = -1;
                --open_outputs;
            }
        }
        // Once the program has closed its outputs it reads no more input.
        if (open_outputs == 0 && in_fd >= 0) {
            int pending = 0;
            if (ioctl(in_fd, FIONREAD, &pending) == 0)
                r.unread = static_cast<long>(input.size() - written) + pending;
            close(in_fd);
            in_fd = -1;
        }
    }
    waitpid(pid, &r.wait_status, 0);
    r.ended = std::time(nullptr);
    return r;
}

std::string visible(const std::string &bytes, size_t from, size_t len) {
    std::string out;
    for (size_t i = from; i < bytes.size() && i < from + len; ++i) {
        unsigned char c = static_cast<unsigned char>(bytes[i]);
        char tmp[8];
        if (c == '\r')
            out += "{CR}";
        else if (c == '\n')
            out += "{LF}";
        else if (c < 0x20 || c >= 0x7f) {
            std::snprintf(tmp, sizeof tmp, "{x%02x}", c);
            out += tmp;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

// Empty when equal; otherwise where and how the two differ.
std::string difference(const std::string &expected, const std::string &actual) {
    if (expected == actual) return "";
    size_t i = 0;
    while (i < expected.size() && i < actual.size() && expected[i] == actual[i]) ++i;
    size_t from = i > 60 ? i - 60 : 0;
    std::ostringstream msg;
    msg << "first difference at byte " << i << " (expected " << expected.size() << " bytes, got " << actual.size()
        << ")\n  expected: ..." << visible(expected, from, 160) << "\n  actual:   ..." << visible(actual, from, 160);
    return msg.str();
}

std::string sorted_lines(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    std::sort(lines.begin(), lines.end());
    std::string out;
    for (const std::string &l : lines) out += l + "\n";
    return out;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s <hullmon> <fake_runtime> <file.case>\n", argv[0]);
        return 2;
    }
    // A program may end without reading the input it was offered (a refused
    // request never reads its body): the write then fails, it must not kill
    // the runner.
    signal(SIGPIPE, SIG_IGN);
    // The program runs inside the case's scratch folder: use absolute paths.
    char resolved[4096];
    if (!realpath(argv[1], resolved)) fail(std::string("no program at ") + argv[1]);
    const std::string program = resolved;
    if (!realpath(argv[2], resolved)) fail(std::string("no fake runtime at ") + argv[2]);
    const std::string fake = resolved;
    const std::vector<section> sections = parse_case(argv[3]);

    char tmpl[] = "/tmp/hullmon-case-XXXXXX";
    if (!mkdtemp(tmpl)) fail("mkdtemp");
    const std::string tmp = tmpl;
    mkdir((tmp + "/fake").c_str(), 0755);
    for (const char *dir : {"path-docker", "path-podman", "path-both"}) mkdir((tmp + "/" + dir).c_str(), 0755);
    bool linked = symlink(fake.c_str(), (tmp + "/path-docker/docker").c_str()) == 0 &&
                  symlink(fake.c_str(), (tmp + "/path-podman/podman").c_str()) == 0 &&
                  symlink(fake.c_str(), (tmp + "/path-both/docker").c_str()) == 0 &&
                  symlink(fake.c_str(), (tmp + "/path-both/podman").c_str()) == 0;
    if (!linked) fail("symlink");

    std::map<std::string, std::string> vars{{"FAKE", fake}, {"TMP", tmp}, {"VERSION", HULLMON_VERSION}};
    std::vector<std::string> args, env{"FAKE_RT_DIR=" + tmp + "/fake", "FAKE_RT_RECORD=" + tmp + "/record"};
    std::string input;
    run_options opt;
    std::string gone_list;
    for (const section &s : sections) {
        if (s.name == "args") {
            for (const std::string &l : split_lines(s.raw)) args.push_back(expand(l, vars));
        } else if (s.name == "env") {
            for (const std::string &l : split_lines(s.raw)) env.push_back(expand(l, vars));
        } else if (s.name == "stdin") {
            input = expand(s.raw, vars);
        } else if (s.name.compare(0, 5, "fake:") == 0) {
            write_file(tmp + "/fake/" + s.name.substr(5), expand(s.raw, vars));
        } else if (s.name == "stdout-closed") {
            opt.stdout_closed = true;
        } else if (s.name == "stdin-held") {
            opt.hold_stdin = true;
        } else if (s.name == "unread") {
            opt.hold_stdin = true;
        } else if (s.name == "read-bytes") {
            opt.read_limit = std::atol(s.raw.c_str());
        } else if (s.name == "signal") {
            char name[16] = "";
            if (std::sscanf(s.raw.c_str(), "%15s %ld", name, &opt.signal_after_ms) != 2) fail("signal: NAME MS");
            const std::string sig = name;
            opt.signal_number = sig == "TERM" ? SIGTERM : sig == "HUP" ? SIGHUP : sig == "INT" ? SIGINT : 0;
            if (!opt.signal_number) fail("unknown signal " + sig);
        } else if (s.name == "gone") {
            gone_list = expand(s.raw, vars);
        } else if (s.name == "limits") {
            for (const std::string &l : split_lines(s.raw)) {
                if (l.compare(0, 3, "as ") != 0) fail("unknown limit " + l);
                opt.address_space = std::atol(l.c_str() + 3);
            }
        } else if (s.name != "stdout" && s.name != "exit" && s.name != "record" && s.name != "marker" &&
                   s.name != "unread") {
            fail("unknown section " + s.name);
        }
    }

    if (opt.address_space > 0 && std::getenv("CASE_RUNNER_NO_LIMITS")) {
        std::printf("skipped: the case sets limits\n");
        return 77;
    }
    const run_result r = run_program(program, args, env, input, tmp, opt);
    std::vector<std::string> problems;

    if (const section *want = find(sections, "stdout")) {
        std::map<std::string, std::string> out_vars = vars;
        out_vars["PID"] = std::to_string(r.pid);
        if (want->raw.find("{PAGE") != std::string::npos) {
            out_vars["PAGE"] = run_program(program, {}, {}, "", tmp).out;
            out_vars["PAGE_EMBED"] = run_program(program, {}, {"QUERY_STRING=embed=1"}, "", tmp).out;
        }
        std::string diff;
        for (time_t t = r.started; t <= r.ended; ++t) {
            out_vars["UTC"] = libc_utc(t);
            diff = difference(expand(want->raw, out_vars), r.out);
            if (diff.empty()) break;
        }
        if (!diff.empty()) problems.push_back("stdout: " + diff);
    }

    int want_exit = 0;
    if (const section *e = find(sections, "exit")) want_exit = std::atoi(e->raw.c_str());
    if (WIFSIGNALED(r.wait_status))
        problems.push_back("killed by signal " + std::to_string(WTERMSIG(r.wait_status)));
    else if (WEXITSTATUS(r.wait_status) != want_exit)
        problems.push_back("exit status " + std::to_string(WEXITSTATUS(r.wait_status)) + ", expected " +
                           std::to_string(want_exit));
    if (!r.err.empty()) problems.push_back("stderr not empty: " + visible(r.err, 0, 400));

    if (const section *u = find(sections, "unread")) {
        const long want = std::atol(u->raw.c_str());
        if (r.unread != want)
            problems.push_back("input left unread: " + std::to_string(r.unread) + " bytes, expected " +
                               std::to_string(want));
    }
    if (const section *rec = find(sections, "record")) {
        // The commands of one request may run together, so their order in
        // the record is not part of what is checked.
        std::string diff = difference(sorted_lines(expand(rec->raw, vars)), sorted_lines(read_file(tmp + "/record")));
        if (!diff.empty()) problems.push_back("record of runtime commands: " + diff);
    }
    // Every process a command left behind must be gone once the program
    // has ended: not running, and not a zombie either.
    for (const std::string &path : split_lines(gone_list)) {
        std::istringstream pids(read_file(path));
        long pid = 0;
        int count = 0;
        while (pids >> pid) {
            ++count;
            if (kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH)
                problems.push_back("process " + std::to_string(pid) + " from " + path + " is still there");
        }
        if (count == 0) problems.push_back("no process ids in " + path);
    }
    if (const section *m = find(sections, "marker")) {
        for (const std::string &l : split_lines(m->raw)) {
            std::string path = expand(l, vars);
            if (access(path.c_str(), F_OK) == 0) problems.push_back("marker exists: " + path);
        }
    }

    if (problems.empty()) {
        std::string cleanup = "rm -rf '" + tmp + "'";
        if (std::system(cleanup.c_str()) != 0) std::fprintf(stderr, "could not remove %s\n", tmp.c_str());
        return 0;
    }
    for (const std::string &p : problems) std::printf("%s\n", p.c_str());
    std::printf("(scratch folder kept: %s)\n", tmp.c_str());
    return 1;
}
