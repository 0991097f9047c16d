/* The floor for any CGI program: exec, write a few bytes, exit. Built with
 * gcc -static -O2 so that no dynamic loader runs. */
#include <unistd.h>

int main(void) {
    static const char reply[] = "Status: 200 OK\r\n\r\nok\n";
    return write(1, reply, sizeof reply - 1) == (ssize_t)(sizeof reply - 1) ? 0 : 1;
}
