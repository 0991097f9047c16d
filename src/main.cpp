// hullmon: the per-node container plugin of the Kelm dashboard. The host
// runs it once per HTTP request as a CGI program.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "proc/process_runner.h"
#include "proc/deadline.h"
#include "cgi/intake.h"
#include "cgi/request.h"
#include "serve.h"
#include "reply/version.h"

namespace {

const char kMetaLine[] = "{\"name\":\"docker\",\"desc\":\"Containers\"}\n";
const char kVersionLine[] = HULLMON_VERSION "\n";
const char kUsage[] =
    "hullmon " HULLMON_VERSION "\n"
    "usage: hullmon [--meta|--version|--help]\n"
    "       QUERY_STRING='action=list|info|logs&cid=<id>' hullmon\n";

// One fully buffered output stream, large enough for the page and for most
// replies, so a request usually costs a single write.
char g_out_buffer[1 << 16];

void put(const char *text, size_t len) { std::fwrite(text, 1, len, stdout); }

}  // namespace

int main(int argc, char **argv) {
    request req = {};
    req.started = monotonic_now();
    std::setvbuf(stdout, g_out_buffer, _IOFBF, sizeof g_out_buffer);
    // A host that hangs up early must not kill the run: writes then fail
    // quietly and the exit status stays 0. Runtime commands get the default
    // disposition back (see process_runner).
    std::signal(SIGPIPE, SIG_IGN);

    if (argc > 1) {
        if (std::strcmp(argv[1], "--meta") == 0) {
            put(kMetaLine, sizeof kMetaLine - 1);
            return 0;
        }
        if (std::strcmp(argv[1], "--version") == 0) {
            put(kVersionLine, sizeof kVersionLine - 1);
            return 0;
        }
        if (std::strcmp(argv[1], "--help") == 0) {
            put(kUsage, sizeof kUsage - 1);
            return 0;
        }
    }

    if (std::getenv("QV_PLUGIN_META")) {
        put(kMetaLine, sizeof kMetaLine - 1);
        return 0;
    }

    // The whole request, the POST body included, is taken in before any
    // reply: a host that is still writing the body when the reply comes may
    // drop the reply.
    read_request(&req);
    process_runner runner(deadline_after(req.started, req.timeout_seconds));
    serve_request(stdout, req, runner);
    return 0;
}
