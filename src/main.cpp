// hullmon: the per-node container plugin of the Kelm dashboard. The host
// runs it once per HTTP request as a CGI program.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cgi/intake.h"
#include "cgi/request.h"
#include "proc/deadline.h"
#include "proc/process_runner.h"
#include "proc/signals.h"
#include "reply/version.h"
#include "serve.h"

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
    // Before any output: a host that hangs up early must not kill the run.
    install_signal_handling();

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
    process_runner runner(request_deadline(req));
    serve_request(stdout, req, runner);
    return 0;
}
