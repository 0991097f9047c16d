#include "container_table.h"

#include <cstring>

#include "fields.h"
#include "state_word.h"

container_entry g_containers[kMaxContainers];
int g_container_count = 0;

namespace {

void take_listing_line(char *line) {
    if (std::strncmp(line, "CONTAINER ID", 12) == 0) return;
    char *f[6];
    int n = split_pipe(line, f, 6);
    if (n < 2) return;
    container_entry &row = g_containers[g_container_count];
    std::memset(&row, 0, sizeof row);
    copy_field(row.id, sizeof row.id, f[0]);
    copy_field(row.name, sizeof row.name, f[1]);
    copy_field(row.image, sizeof row.image, n > 2 ? f[2] : nullptr);
    char raw_state[kRawStateSize];
    copy_field(raw_state, sizeof raw_state, n > 3 ? f[3] : nullptr);
    normalize_state(raw_state, row.state, sizeof row.state);
    copy_field(row.status, sizeof row.status, n > 4 ? f[4] : nullptr);
    copy_field(row.ports, sizeof row.ports, n > 5 ? f[5] : nullptr);
    ++g_container_count;
}

void take_usage_line(char *line) {
    char *f[3];
    if (split_pipe(line, f, 3) < 3) return;
    const size_t id_len = std::strlen(f[0]);
    for (int i = 0; i < g_container_count; ++i) {
        container_entry &row = g_containers[i];
        // The first byte settles most rows without a call.
        if (id_len && row.id[0] != f[0][0]) continue;
        if (std::strncmp(row.id, f[0], id_len) == 0) {
            copy_field(row.cpu, sizeof row.cpu, f[1]);
            copy_field(row.mem, sizeof row.mem, f[2]);
            return;
        }
    }
}

}  // namespace

void read_listing(const char *text) {
    g_container_count = 0;
    char line[kListingLineMax + 1];
    const char *pos = text;
    while (*pos && g_container_count < kMaxContainers) {
        if (next_line(&pos, line, kListingLineMax) > 0) take_listing_line(line);
    }
}

void read_usage(const char *text) {
    char line[kUsageLineMax + 1];
    const char *pos = text;
    while (*pos) {
        if (next_line(&pos, line, kUsageLineMax) > 0) take_usage_line(line);
    }
}

state_summary summarize_states() {
    state_summary s = {g_container_count, 0, 0, 0, 0};
    for (int i = 0; i < g_container_count; ++i) {
        const char *state = g_containers[i].state;
        if (std::strcmp(state, "running") == 0)
            ++s.running;
        else if (std::strcmp(state, "exited") == 0)
            ++s.exited;
        else if (std::strcmp(state, "paused") == 0)
            ++s.paused;
        else
            ++s.other;
    }
    return s;
}
