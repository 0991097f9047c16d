#include "api/list.h"

#include <cstdio>
#include <cstring>

#include "api/container_table.h"
#include "api/runtime_block.h"
#include "reply/head.h"
#include "reply/json_str.h"
#include "reply/utc_now.h"
#include "reply/version.h"

namespace {

const char kListingFormat[] =
    "'%s' ps -a --format '{{.ID}}|{{.Names}}|{{.Image}}|{{.State}}|{{.Status}}|{{.Ports}}' 2>&1";
const char kUsageFormat[] = "'%s' stats --no-stream --format '{{.ID}}|{{.CPUPerc}}|{{.MemUsage}}' 2>&1";

// One container's members in reply order; "short" repeats the whole id
// (the page cuts it for display).
void write_row(FILE *out, const container_entry &row) {
    const struct {
        const char *key;
        const char *value;
    } members[] = {
        {"{\"id\":", row.id},          {",\"short\":", row.id},   {",\"name\":", row.name},
        {",\"image\":", row.image},    {",\"state\":", row.state}, {",\"status\":", row.status},
        {",\"ports\":", row.ports},    {",\"cpu\":", row.cpu},     {",\"mem\":", row.mem},
    };
    for (const auto &m : members) {
        std::fputs(m.key, out);
        json_str(out, m.value);
    }
    std::putc('}', out);
}

}  // namespace

void action_list(const action_call &call) {
    FILE *const out = call.out;
    const runtime_selection &rt = call.rt;
    // The listing's output and the usage command's; a command that does
    // not run leaves no text and status 0.
    command_output outputs[kMaxCommands];
    command_output &listing = outputs[0];
    command_output &usage = outputs[1];
    listing.status = 0;
    usage.status = 0;
    container_table table;
    bool rows_held = true;

    if (rt.available) {
        // Both commands run at once: a list costs the slower of the two,
        // not their sum. The usage command runs even when the listing fails,
        // unless the caller asked for the rows alone (usage=0): then only
        // the listing runs, and the reply is that of a usage command that
        // printed nothing.
        const bool with_usage = std::strcmp(call.usage, "0") != 0;
        char listing_command[kCommandSize];
        char usage_command[kCommandSize];
        std::snprintf(listing_command, sizeof listing_command, kListingFormat, rt.bin);
        std::snprintf(usage_command, sizeof usage_command, kUsageFormat, rt.bin);
        const char *commands[] = {listing_command, usage_command};
        call.runner.run(commands, outputs, with_usage ? 2 : 1);
        // Rows that cannot all be held leave no data to vouch for, like
        // a listing whose output could not be held.
        if (listing.text && listing.status == 0 && !read_listing(listing.text.get(), table)) rows_held = false;
        if (usage.text && usage.status == 0) read_usage(usage.text.get(), table);
    }

    const state_summary sum = summarize_states(table);
    char utc[kUtcTextSize];
    utc_now(utc);

    json_header(out);
    std::fputs("{\"ok\":true,\"action\":\"list\",\"plugin\":\"hullmon\",\"slug\":\"docker\",\"version\":\"" HULLMON_VERSION "\",",
               out);
    emit_runtime_block(out, rt);
    if (!rt.available) {
        std::fputs(",\"message\":\"Neither docker nor podman was found on this node. Install a container runtime, "
                   "or set DOCKER_BIN to an explicit binary path.\"",
                   out);
    } else if (listing.status != 0 || !rows_held) {
        // A listing that could not be run or held counts as a daemon that
        // did not answer: there is no data to vouch for.
        std::fputs(",\"daemon_available\":false,\"error\":", out);
        json_str(out, rows_held ? listing.text.get() : nullptr);
    } else {
        std::fputs(",\"daemon_available\":true", out);
    }
    std::fputs(",\"utc\":", out);
    json_str(out, utc);
    std::fprintf(out,
                 ",\"count\":%d,\"summary\":{\"total\":%d,\"running\":%d,\"exited\":%d,\"paused\":%d,\"other\":%d}",
                 sum.total, sum.total, sum.running, sum.exited, sum.paused, sum.other);
    std::fputs(",\"containers\":[", out);
    bool first = true;
    for (const container_entry &row : table) {
        if (!first) std::putc(',', out);
        first = false;
        write_row(out, row);
    }
    std::fputs("]}\n", out);
}
