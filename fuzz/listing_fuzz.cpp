// The listing and usage readers over any runtime output: at most 256 rows,
// every field terminated inside its capacity and free of the separators
// that ended it, state words normalised, the summary adding up. The input
// holds the listing output, a NUL, then the usage output. split_pipe is
// also tried on its own with every maximum from 1 to 8.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "api/container_table.h"
#include "api/fields.h"
#include "fuzz_support.h"

namespace {

template <size_t N>
size_t field_length(const char (&field)[N]) {
    const void *end = std::memchr(field, '\0', N);
    FUZZ_CHECK(end != nullptr);
    return static_cast<size_t>(static_cast<const char *>(end) - field);
}

bool known_word(const char *state) {
    static const char *const kWords[] = {"paused", "restarting", "dead", "created", "exited", "running"};
    for (const char *w : kWords)
        if (std::strcmp(state, w) == 0) return true;
    return false;
}

void check_split(const std::string &line_text, int max) {
    // Exactly sized heap copy of one line, as the reader hands it over.
    char *line = static_cast<char *>(std::malloc(line_text.size() + 1));
    std::memcpy(line, line_text.c_str(), line_text.size() + 1);
    char *fields[8];
    int count = split_pipe(line, fields, max);
    FUZZ_CHECK(count >= 1 && count <= max);
    std::string joined;
    for (int i = 0; i < count; ++i) {
        FUZZ_CHECK(fields[i] >= line && fields[i] <= line + line_text.size());
        if (i) joined += '|';
        joined += fields[i];
        if (i < count - 1) FUZZ_CHECK(std::strchr(fields[i], '|') == nullptr);
    }
    FUZZ_CHECK(std::strpbrk(fields[count - 1], "\r\n") == nullptr);
    // The fields put back together are the line up to the cut of the last one.
    FUZZ_CHECK(line_text.compare(0, joined.size(), joined) == 0);
    if (count < max) FUZZ_CHECK(line_text.find('|', joined.size()) == std::string::npos ||
                                std::strpbrk(line_text.c_str() + joined.size(), "\r\n") != nullptr);
    std::free(line);
}

// The usage rule as a scan of every row per line.
void merge_usage_by_scan(const std::string &usage, container_table &table) {
    char line[kUsageLineMax + 1];
    for (const char *pos = usage.c_str(); *pos;) {
        if (next_line(&pos, line, kUsageLineMax) == 0) continue;
        char *f[3];
        if (split_pipe(line, f, 3) < 3) continue;
        for (container_entry &row : table) {
            if (std::strncmp(row.id, f[0], std::strlen(f[0])) == 0) {
                copy_field(row.cpu, sizeof row.cpu, f[1]);
                copy_field(row.mem, sizeof row.mem, f[2]);
                break;
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string input(reinterpret_cast<const char *>(data), size);
    const size_t nul = input.find('\0');
    const std::string listing = input.substr(0, nul);
    std::string usage = nul == std::string::npos ? "" : input.substr(nul + 1);
    usage = usage.substr(0, usage.find('\0'));

    container_table table;
    read_listing(listing.c_str(), table);
    // The usage merge through its index must give what the plain rule
    // gives: each line to the first row, in table order, whose id begins
    // with the line's id.
    container_table expected = table;
    merge_usage_by_scan(usage, expected);
    read_usage(usage.c_str(), table);
    FUZZ_CHECK(expected.size() == table.size());
    for (size_t i = 0; i < table.size(); ++i)
        FUZZ_CHECK(std::memcmp(&expected[i], &table[i], sizeof table[i]) == 0);

    for (const container_entry &row : table) {
        field_length(row.id);
        field_length(row.name);
        field_length(row.image);
        size_t state_len = field_length(row.state);
        field_length(row.status);
        field_length(row.ports);
        field_length(row.cpu);
        field_length(row.mem);
        // No field but the last holds a bar, and none holds a line feed.
        for (const char *f : {row.id, row.name, row.image, row.status})
            FUZZ_CHECK(std::strpbrk(f, "|\n") == nullptr);
        FUZZ_CHECK(std::strpbrk(row.ports, "\r\n") == nullptr);
        FUZZ_CHECK(std::strpbrk(row.mem, "\r\n") == nullptr);
        FUZZ_CHECK(std::strpbrk(row.cpu, "|\n") == nullptr);
        FUZZ_CHECK(std::strncmp(row.id, "CONTAINER ID", 12) != 0);
        // A state is one of the known words or a lowered text of at most 31 bytes.
        FUZZ_CHECK(state_len <= kStateSize - 1);
        if (!known_word(row.state)) {
            for (const char *p = row.state; *p; ++p) FUZZ_CHECK(!(*p >= 'A' && *p <= 'Z'));
            for (const char *w : {"paused", "restart", "dead", "created", "exit", "stopped", "up", "running"})
                FUZZ_CHECK(std::strstr(row.state, w) == nullptr);
        }
    }
    // Each row takes a line of at least one bar.
    FUZZ_CHECK(table.size() <= listing.size());

    const state_summary s = summarize_states(table);
    FUZZ_CHECK(s.total == static_cast<int>(table.size()));
    FUZZ_CHECK(s.running + s.exited + s.paused + s.other == s.total);
    FUZZ_CHECK(s.running >= 0 && s.exited >= 0 && s.paused >= 0 && s.other >= 0);

    // split_pipe on the first line of the input, with every maximum.
    std::string first = listing.substr(0, listing.find('\n'));
    for (int max = 1; max <= 8; ++max) check_split(first, max);
    return 0;
}
