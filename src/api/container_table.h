#pragma once

#include <deque>

// Field capacities, terminator included.
constexpr unsigned kIdSize = 80;
constexpr unsigned kNameSize = 192;
constexpr unsigned kImageSize = 192;
constexpr unsigned kStateSize = 32;
constexpr unsigned kStatusSize = 192;
constexpr unsigned kPortsSize = 512;
constexpr unsigned kCpuSize = 32;
constexpr unsigned kMemSize = 96;

// Longest line of each output, in bytes; longer lines are read in pieces.
constexpr unsigned kListingLineMax = 1599;
constexpr unsigned kUsageLineMax = 599;

// One container as the listing and the usage figures describe it. Every
// field is a terminated text, empty when not supplied.
struct container_entry {
    char id[kIdSize];
    char name[kNameSize];
    char image[kImageSize];
    char state[kStateSize];
    char status[kStatusSize];
    char ports[kPortsSize];
    char cpu[kCpuSize];
    char mem[kMemSize];
};

// The containers of one list, in the order of the listing's accepted lines.
// The list action owns it. It grows a fixed-width row at a time, with no
// limit on their number; rows never move once filled, so growing never
// holds the table twice.
using container_table = std::deque<container_entry>;

// Counts of the rows by state word; total == running + exited + paused + other.
struct state_summary {
    int total, running, exited, paused, other;
};

// Fills table from the listing output ("id|names|image|state|status|
// ports" lines), starting from no rows: every accepted line becomes a row,
// in order. Header lines and lines without a bar are dropped. Returns
// false, with no rows, when memory runs out before every row is held.
bool read_listing(const char *text, container_table &table);

// Adds CPU and memory from the usage output ("id|cpu|mem" lines) to the
// first row, in table order, whose id begins with the line's id (an equal
// id counts, an empty id matches row 0); later lines win. The rows are
// indexed once by id, so each line costs a few comparisons, not a scan.
// When memory for that index runs out, no figures are added.
void read_usage(const char *text, container_table &table);

state_summary summarize_states(const container_table &table);
