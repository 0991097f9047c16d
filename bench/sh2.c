/* The reference for an action that runs runtime commands. The file named by
 * the argument holds command lines, one a line; each runs through
 * /bin/sh -c in turn (spawned the way popen spawns its shell), its output
 * going straight to our standard output. Nothing else is done, so timing
 * this against hullmon shows what hullmon adds over the commands it has to
 * wait for. Built static, like the floor. */
#include <spawn.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>

extern char **environ;

int main(int argc, char **argv) {
    if (argc != 2) return 2;
    FILE *lines = fopen(argv[1], "r");
    if (!lines) return 2;
    char line[4096];
    while (fgets(line, sizeof line, lines)) {
        line[strcspn(line, "\n")] = '\0';
        char *args[] = {"sh", "-c", line, NULL};
        pid_t pid;
        int status;
        if (posix_spawn(&pid, "/bin/sh", NULL, NULL, args, environ) != 0) return 1;
        while (waitpid(pid, &status, 0) < 0) {
        }
    }
    fclose(lines);
    return 0;
}
