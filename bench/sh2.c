/* The reference for an action that runs runtime commands. The file named by
 * the argument holds command lines, one a line; each runs through
 * /bin/sh -c in turn (spawned the way popen spawns its shell), its output
 * going straight to our standard output. Nothing else is done, so timing
 * this against hullmon shows what hullmon adds over the commands it has to
 * wait for. With -p the lines all start at once and the program waits for
 * them all: what a runtime allows for commands run together, whoever runs
 * them. Built static, like the floor. */
#include <spawn.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>

extern char **environ;

enum { kMaxLines = 8 };

static int start(char *line, pid_t *pid) {
    char *args[] = {"sh", "-c", line, NULL};
    return posix_spawn(pid, "/bin/sh", NULL, NULL, args, environ);
}

static void wait_for(pid_t pid) {
    int status;
    while (waitpid(pid, &status, 0) < 0) {
    }
}

int main(int argc, char **argv) {
    int together = argc == 3 && strcmp(argv[1], "-p") == 0;
    if (argc != 2 && !together) return 2;
    FILE *lines = fopen(argv[argc - 1], "r");
    if (!lines) return 2;
    static char line[kMaxLines][4096];
    pid_t pids[kMaxLines];
    int n = 0;
    while (n < kMaxLines && fgets(line[n], sizeof line[n], lines)) {
        line[n][strcspn(line[n], "\n")] = '\0';
        if (start(line[n], &pids[n]) != 0) return 1;
        if (!together) wait_for(pids[n]);
        n++;
    }
    fclose(lines);
    if (together)
        for (int i = 0; i < n; i++) wait_for(pids[i]);
    return 0;
}
