#include "proc/process_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "proc/signals.h"

extern char **environ;

namespace {

// As much as a pipe holds by default, so that a long output costs few reads.
constexpr size_t kReadChunk = 65536;
// Time a command gets between SIGTERM and SIGKILL once the deadline passed.
constexpr int kGraceSeconds = 1;
// Exit status of a command that the deadline ended, as timeout(1) reports.
constexpr int kTimedOutStatus = 124;

struct child {
    pid_t pid = -1;            // also its process group; -1 when not started
    int fd = -1;               // read end of its output pipe; -1 once closed
    capture_text cap;
    bool reaped = false;       // its shell has been collected
    int wait_status = 0;
    bool overflow = false;     // its output could not be held
    bool ended_by_us = false;  // the deadline or the host's hang-up ended it
};

// Starts one command line in a new process group; returns its pid, or -1.
pid_t start(const char *command, int *read_fd) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) return -1;

    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_adddup2(&files, ends[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&files, STDIN_FILENO, "/dev/null", O_RDONLY, 0);

    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // hullmon ignores SIGPIPE and holds back the host's signals; a runtime
    // command must meet neither, or it would behave unlike it does from a
    // shell (a tool writing into a closed pipe would spin on errors).
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    for (int sig : kHeldSignals) sigaddset(&defaults, sig);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    char sh[] = "sh";
    char dash_c[] = "-c";
    char *argv[] = {sh, dash_c, const_cast<char *>(command), nullptr};
    pid_t pid = -1;
    int failed = posix_spawn(&pid, "/bin/sh", &files, &attr, argv, environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&files);
    close(ends[1]);
    if (failed) {
        close(ends[0]);
        return -1;
    }
    *read_fd = ends[0];
    return pid;
}

bool finished(const child &c) { return c.pid < 0 || (c.fd < 0 && c.reaped); }

void close_output(child &c) {
    if (c.fd >= 0) close(c.fd);
    c.fd = -1;
}

void signal_unfinished(child *kids, int count, int sig) {
    for (int i = 0; i < count; ++i) {
        if (finished(kids[i])) continue;
        kill(-kids[i].pid, sig);
        kids[i].ended_by_us = true;
    }
}

void collect_exited(child *kids, int count) {
    for (int i = 0; i < count; ++i) {
        child &c = kids[i];
        if (c.pid < 0 || c.reaped) continue;
        pid_t got = waitpid(c.pid, &c.wait_status, WNOHANG);
        if (got == c.pid || (got < 0 && errno == ECHILD)) c.reaped = true;
    }
}

void read_output(child &c) {
    char chunk[kReadChunk];
    ssize_t n = read(c.fd, chunk, sizeof chunk);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
    if (n <= 0) {
        close_output(c);
        return;
    }
    if (!capture_append(&c.cap, chunk, static_cast<size_t>(n))) {
        // Nothing more of it can be kept: end it rather than wait for it.
        c.overflow = true;
        kill(-c.pid, SIGKILL);
        close_output(c);
    }
}

// Waits for the shell, then ends and collects whatever else still runs in
// its group, so that no process of the command outlives the request.
void collect_group(child &c) {
    close_output(c);
    while (!c.reaped) {
        pid_t got = waitpid(c.pid, &c.wait_status, 0);
        if (got == c.pid || (got < 0 && errno != EINTR)) c.reaped = true;
    }
    if (kill(-c.pid, SIGKILL) != 0) return;
    for (;;) {
        pid_t got = waitpid(-c.pid, nullptr, 0);
        if (got < 0 && errno != EINTR) break;
    }
}

}  // namespace

bool append_timeout_note(capture_text *cap, int seconds) {
    char note[64];
    int len = std::snprintf(note, sizeof note, "%shullmon: timed out after %d s\n",
                            cap->length && cap->text.get()[cap->length - 1] != '\n' ? "\n" : "", seconds);
    // The note is hullmon's own text, not the command's: a lone CR the
    // command printed last stays a CR instead of being folded with the
    // note's line feed as capture_append would.
    if (!capture_reserve(cap, static_cast<size_t>(len))) return false;
    std::memcpy(cap->text.get() + cap->length, note, static_cast<size_t>(len) + 1);
    cap->length += static_cast<size_t>(len);
    return true;
}

int exit_status_of(int wait_status) {
    if (wait_status == -1) return -1;
    if (WIFEXITED(wait_status)) return WEXITSTATUS(wait_status);
    if (WIFSIGNALED(wait_status)) return 128 + WTERMSIG(wait_status);
    return -1;
}

void process_runner::run(const char *const *commands, command_output *out, int count) {
    if (count > kMaxCommands) count = kMaxCommands;

    child kids[kMaxCommands];
    for (int i = 0; i < count; ++i) {
        // A host that has gone already gets no new command.
        if (!host_hung_up()) kids[i].pid = start(commands[i], &kids[i].fd);
    }

    bool terminated = false;
    deadline kill_at = {};
    for (;;) {
        bool all_done = true;
        for (int i = 0; i < count; ++i) all_done = all_done && finished(kids[i]);
        if (all_done) break;
        if (host_hung_up()) {
            signal_unfinished(kids, count, SIGKILL);
            break;
        }
        if (!terminated && deadline_left_ms(until_) == 0) {
            signal_unfinished(kids, count, SIGTERM);
            terminated = true;
            kill_at = deadline_after(monotonic_now(), kGraceSeconds);
        }
        int wait_ms = deadline_left_ms(terminated ? kill_at : until_);
        if (terminated && wait_ms == 0) {
            signal_unfinished(kids, count, SIGKILL);
            break;
        }

        pollfd fds[kMaxCommands];
        int owner[kMaxCommands];
        nfds_t n = 0;
        for (int i = 0; i < count; ++i) {
            if (kids[i].pid < 0 || kids[i].fd < 0) continue;
            fds[n] = {kids[i].fd, POLLIN, 0};
            owner[n++] = i;
        }
        int ready = poll_letting_signals_in(fds, n, wait_ms);
        if (take_child_exited()) collect_exited(kids, count);
        if (ready <= 0) continue;
        for (nfds_t k = 0; k < n; ++k)
            if (fds[k].revents) read_output(kids[owner[k]]);
    }

    for (int i = 0; i < count; ++i) {
        child &c = kids[i];
        out[i] = command_output();
        if (c.pid < 0) continue;
        collect_group(c);
        if (c.overflow) continue;
        if (c.ended_by_us && terminated) {
            append_timeout_note(&c.cap, until_.seconds);
            out[i].status = kTimedOutStatus;
        } else {
            out[i].status = exit_status_of(c.wait_status);
        }
        // A command that printed nothing still leaves a text: the empty one.
        if (!c.cap.text) {
            c.cap.text.reset(static_cast<char *>(std::malloc(1)));
            if (!c.cap.text) {
                out[i].status = -1;
                continue;
            }
            c.cap.text.get()[0] = '\0';
        }
        out[i].text = std::move(c.cap.text);
    }
}
