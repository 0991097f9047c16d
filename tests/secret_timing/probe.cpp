// Compares one guess with the node password through same_secret, once, so
// that valgrind can count the instructions the comparison takes.
// usage: probe <secret> <guess>; exit status 0 when they are the same.
#include "cgi/auth.h"

int main(int argc, char **argv) {
    if (argc != 3) return 2;
    return same_secret(argv[1], argv[2]) ? 0 : 1;
}
